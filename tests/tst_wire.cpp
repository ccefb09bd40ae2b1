// The engine on the wire: every operation's frames, in order and byte for byte, as the simulated
// device receives them over a pseudo-terminal, the log lines and boxes that go with them, and what
// happens when the device misbehaves or vanishes. Timings are shortened, and the simulator ends a
// frame on 5 ms of silence, so the shortened opening pauses still keep the frames apart.
#include "support/enginerig.h"

#include "base/logpane.h"
#include "engine/messages.h"
#include "protocol/frames.h"
#include "serial/portnames.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <sys/resource.h>

using namespace irlearn;

Q_DECLARE_METATYPE(irlearn::Outcome)

namespace {

Timings quick()
{
    Timings t;
    t.replyWindowMs = 250;
    t.recordTimeoutMs = 400;
    t.openingPauseMs = 15;
    t.pacingMs = 15;
    t.learningWindowMs = 200;
    t.noticeMs = 2000;
    return t;
}

QStringList repeated(const QString &frame, int times)
{
    QStringList frames;
    for (int i = 0; i < times; ++i)
        frames << frame;
    return frames;
}

QStringList readFrames()
{
    return QStringList{QStringLiteral("0001ED"), QStringLiteral("40"), QStringLiteral("50")} +
           repeated(QStringLiteral("00"), 16);
}

// Sixteen distinct 257-byte records, none of them the simulator's own.
CodeTable downloadTable()
{
    CodeTable table;
    for (int r = 0; r < tableRecords; ++r) {
        QByteArray bytes(recordBytes, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 31 + r * 17 + 5) & 0xFF);
        table[std::size_t(r)] = QString::fromLatin1(bytes.toHex().toUpper());
    }
    return table;
}

QStringList records(const CodeTable &table)
{
    QStringList list;
    for (int r = 0; r < tableRecords; ++r)
        list << table[std::size_t(r)];
    return list;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

class WireTest : public QObject
{
    Q_OBJECT

private slots:
    void frameTextsAndPorts();
    void logStartsAfreshPastItsLimit();
    void commandFrames();
    void refusedInputSendsNothing();
    void lateLearningResultStillCounts();
    void readTable();
    void readRepeatsCompletionOnExtraRecord();
    void readStopsOnBadRecord_data();
    void readStopsOnBadRecord();
    void downloadAndVerify();
    void downloadSetbacks();
    void downloadRefusalsCapped();
    void unplugEndsOperation_data();
    void unplugEndsOperation();
    void twoEnginesReadAtOnce();
};

void WireTest::frameTextsAndPorts()
{
    const QString dev = QStringLiteral("0001");
    QCOMPARE(frames::keyFrame(dev, 0), QStringLiteral("000140"));
    QCOMPARE(frames::keyFrame(dev, 9), QStringLiteral("000149"));
    QCOMPARE(frames::commandFrame(dev, 108), QStringLiteral("0001AB"));
    // The transfer openings fit the number to four characters.
    QCOMPARE(frames::readSelect(QStringLiteral(" 1 ")), QStringLiteral("0001ED"));
    QCOMPARE(frames::downloadSelect(QStringLiteral("1")), QStringLiteral("0001DD"));
    QCOMPARE(frames::readSelect(QStringLiteral("123456")), QStringLiteral("3456ED"));
    QVERIFY(frames::isDeviceNumber(QStringLiteral("0012")));
    QVERIFY(!frames::isDeviceNumber(QStringLiteral("12")));
    QVERIFY(!frames::isDeviceNumber(QStringLiteral("00123")));
    QVERIFY(!frames::isDeviceNumber(QStringLiteral("00ab")));
    QVERIFY(!frames::isDeviceNumber(QStringLiteral("1 23")));

    QCOMPARE(frames::toBytes(QStringLiteral("0001F")), QByteArray("\x00\x01\x0F", 3));
    QCOMPARE(frames::toBytes(QStringLiteral("G1ff")), QByteArray("\x00\xFF", 2));
    QCOMPARE(frames::toBytes(QStringLiteral("1G")), QByteArray("\x01", 1));
    QCOMPARE(frames::toText(QByteArray("\x00\x0A\xFF", 3)), QStringLiteral("000AFF"));

    const PortNames names({{1, QStringLiteral("/dev/ttyUSB1")}, {3, QStringLiteral("/tmp/pty")}},
                          {QStringLiteral("/dev/ttyUSB1"), QStringLiteral("/dev/ttyS0"),
                           QStringLiteral("/dev/ttyACM0")});
    QCOMPARE(names.deviceFor(1), QStringLiteral("/dev/ttyUSB1"));
    QCOMPARE(names.deviceFor(2), QStringLiteral("/dev/ttyACM0")); // by path, pinned skipped
    QCOMPARE(names.deviceFor(3), QStringLiteral("/tmp/pty"));
    QCOMPARE(names.deviceFor(4), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(names.deviceFor(5), QString());
    QCOMPARE(names.deviceFor(33), QString());
    QCOMPARE(PortNames::numberIn(QStringLiteral("  COM12 ")), 12);
    QCOMPARE(PortNames::numberIn(QStringLiteral("com4")), 4);
    QCOMPARE(PortNames::numberIn(QStringLiteral("COMx")), 0);
    QCOMPARE(PortNames::numberIn(QStringLiteral("COM2.5")), 2); // halves to even
    QCOMPARE(PortNames::numberIn(QStringLiteral("COM3.5")), 4);
    QCOMPARE(PortNames::numberIn(QStringLiteral("COM99999")), 0);
}

void WireTest::logStartsAfreshPastItsLimit()
{
    LogPane log;
    QSignalSpy restarted(&log, &LogPane::restarted);
    const QString line = QString(98, QLatin1Char('x')); // 100 characters with CR LF
    for (int i = 0; i < 150; ++i)
        log.PrintStr(line);
    QCOMPARE(log.text().size(), LogPane::limit); // exactly at the limit: still appended
    log.PrintStr(QStringLiteral("a"));
    QCOMPARE(log.text().size(), LogPane::limit + 3);
    QCOMPARE(restarted.count(), 0);
    log.PrintStr(QStringLiteral("newest"));
    QCOMPARE(log.text(), QStringLiteral("newest\r\n"));
    QCOMPARE(restarted.count(), 1);
}

void WireTest::commandFrames()
{
    EngineRig rig({QStringLiteral("--learn-delay"), QStringLiteral("0")}, quick());
    QVERIFY(rig.start());
    const QString dev = QStringLiteral("0001");
    QSignalSpy confirmed(&rig.engine, &DeviceEngine::learningModeConfirmed);
    QSignalSpy learnt(&rig.engine, &DeviceEngine::keyLearnt);

    QVERIFY(rig.engine.switchLearningMode(dev, true));
    QVERIFY(rig.waitIdle()->ok());
    QCOMPARE(confirmed.takeFirst().at(0).toBool(), true);
    QVERIFY(rig.engine.learnKey(dev, 0));
    QVERIFY(rig.waitIdle()->ok());
    QCOMPARE(learnt.count(), 1);
    QVERIFY(rig.engine.learnKey(dev, 9));
    QVERIFY(rig.waitIdle()->ok());
    QVERIFY(rig.engine.switchLearningMode(dev, false));
    QVERIFY(rig.waitIdle()->ok());
    QCOMPARE(confirmed.takeFirst().at(0).toBool(), false);
    QVERIFY(rig.engine.sendKey(dev, 3));
    QVERIFY(rig.waitIdle()->ok());
    // Numbered learning: on, the command, the learning window, off.
    QVERIFY(rig.engine.learnCommand(dev, 1));
    QVERIFY(rig.waitIdle()->ok());
    QVERIFY(rig.engine.learnCommand(dev, 108));
    QVERIFY(rig.waitIdle()->ok());
    QCOMPARE(learnt.count(), 4);
    QCOMPARE(rig.messages, repeated(messages::learnt, 4));
    // Last: the device answers to its new number from now on.
    QVERIFY(rig.engine.setDeviceNumber(QStringLiteral("0002")));
    QVERIFY(rig.waitIdle()->ok());

    const QStringList expected{
        QStringLiteral("0001F0"), QStringLiteral("000140"), QStringLiteral("000149"),
        QStringLiteral("0001F2"), QStringLiteral("000143"), QStringLiteral("0001F0"),
        QStringLiteral("000140"), QStringLiteral("0001F2"), QStringLiteral("0001F0"),
        QStringLiteral("0001AB"), QStringLiteral("0001F2"), QStringLiteral("FD0002")};
    QVERIFY(rig.sim.waitForReceived(int(expected.size())));
    QCOMPARE(rig.sim.received(), expected);
    QStringList written;
    for (const QString &frame : expected)
        written << QStringLiteral("--== 输出指令[%1] ==--").arg(frame);
    QCOMPARE(rig.log.filter(QStringLiteral("输出指令")), written);
    // Every answer is logged as it came.
    QStringList answers;
    for (const QString &reply : rig.sim.sent())
        answers << QStringLiteral("收到参数：") + reply;
    QCOMPARE(rig.replies(), answers);
    QCOMPARE(rig.replies().constFirst(), QStringLiteral("收到参数：F0"));
}

void WireTest::refusedInputSendsNothing()
{
    EngineRig rig({QStringLiteral("--echo"), QStringLiteral("silent")}, quick());
    QVERIFY(rig.start());
    QVERIFY(!rig.engine.switchLearningMode(QStringLiteral("12"), true));
    QCOMPARE(rig.results.constLast().outcome, Outcome::Invalid);
    QCOMPARE(rig.messages, QStringList{messages::deviceNumberLength});
    QVERIFY(!rig.engine.setDeviceNumber(QStringLiteral("0000")));
    QVERIFY(!rig.engine.learnCommand(QStringLiteral("0001"), 109));

    // One operation at a time: a second is refused while the first waits for its answer.
    QVERIFY(rig.engine.switchLearningMode(QStringLiteral("0001"), true));
    QVERIFY(!rig.engine.readTable(QStringLiteral("1")));
    QCOMPARE(rig.results.constLast().outcome, Outcome::Busy);
    QCOMPARE(rig.waitIdle()->outcome, Outcome::TimedOut);
    QVERIFY(rig.sim.waitForReceived(1));
    QTest::qWait(50);
    QCOMPARE(rig.sim.received(), QStringList{QStringLiteral("0001F0")});
}

void WireTest::lateLearningResultStillCounts()
{
    // The answer comes after the reply window: the key operation has given up, but the key was
    // learnt all the same and the operator is told.
    EngineRig rig({QStringLiteral("--learn-delay"), QStringLiteral("700")}, quick());
    QVERIFY(rig.start());
    QSignalSpy learnt(&rig.engine, &DeviceEngine::keyLearnt);
    QVERIFY(rig.engine.switchLearningMode(QStringLiteral("0001"), true));
    QVERIFY(rig.waitIdle()->ok());
    QVERIFY(rig.engine.learnKey(QStringLiteral("0001"), 2));
    QCOMPARE(rig.waitIdle()->outcome, Outcome::TimedOut);
    QCOMPARE(learnt.count(), 0);
    QVERIFY(learnt.wait(2000));
    QCOMPARE(rig.messages, QStringList{messages::learnt});
    QCOMPARE(rig.replies().constLast(), QStringLiteral("收到参数：00"));
}

void WireTest::readTable()
{
    EngineRig rig({}, quick());
    QVERIFY(rig.start());
    QSignalSpy read(&rig.engine, &DeviceEngine::tableRead);
    QSignalSpy hidden(&rig.engine, &DeviceEngine::noticeHidden);
    QVERIFY(rig.engine.readTable(QStringLiteral("1")));
    const auto result = rig.waitIdle();
    QVERIFY(result && result->ok());

    QCOMPARE(rig.sim.received(), readFrames());
    const QStringList stored = rig.sim.storedTable();
    QCOMPARE(stored.size(), tableRecords);
    QCOMPARE(records(result->table), stored);
    QCOMPARE(read.count(), 1);
    QCOMPARE(records(read.at(0).at(0).value<CodeTable>()), stored);
    QCOMPARE(hidden.count(), 1);
    QCOMPARE(rig.progressAtMs.size(), tableRecords + 1);
    QCOMPARE(rig.progressAtMs.constLast().first, tableRecords);

    QStringList counted;
    for (int n = 1; n <= tableRecords; ++n)
        counted << QStringLiteral("收到字符数:257") << QStringLiteral("获取第%1条记录。").arg(n);
    QCOMPARE(rig.log.filter(QRegularExpression(QStringLiteral("^(收到字符数|获取第)"))), counted);
    // Only the records are answers that count; the opening's echoes are discarded unlogged.
    QCOMPARE(rig.replies().size(), tableRecords);
    QCOMPARE(rig.replies().constFirst(), QStringLiteral("收到参数：") + stored.constFirst());
    QVERIFY(rig.messages.isEmpty());
}

void WireTest::readRepeatsCompletionOnExtraRecord()
{
    // A device that answers the request after the last record with a record: the completion is
    // repeated, and the read ends at once instead of waiting out the reply window.
    EngineRig rig({QStringLiteral("--repeat-after-end")}, quick());
    QVERIFY(rig.start());
    QSignalSpy read(&rig.engine, &DeviceEngine::tableRead);
    QSignalSpy hidden(&rig.engine, &DeviceEngine::noticeHidden);
    QVERIFY(rig.engine.readTable(QStringLiteral("0001")));
    const auto result = rig.waitIdle();
    QVERIFY(result && result->ok());
    QCOMPARE(read.count(), 2);
    QCOMPARE(hidden.count(), 2);
    QCOMPARE(rig.log.count(QStringLiteral("收到字符数:257")), tableRecords + 1);
    QCOMPARE(rig.log.constLast(), QStringLiteral("收到字符数:257"));
    QCOMPARE(records(result->table), rig.sim.storedTable());
    QCOMPARE(rig.sim.received(), readFrames());
}

void WireTest::readStopsOnBadRecord_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("record");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("detail");
    QTest::newRow("short 4th") << QStringList{QStringLiteral("--short-record"),
                                              QStringLiteral("4:200")}
                               << 4 << Outcome::TimedOut
                               << QStringLiteral("第4条记录长度为200字节，应为257字节，读取中止。");
    QTest::newRow("256 bytes") << QStringList{QStringLiteral("--record-len"), QStringLiteral("256")}
                               << 1 << Outcome::TimedOut
                               << QStringLiteral("第1条记录长度为256字节，应为257字节，读取中止。");
    QTest::newRow("258 bytes") << QStringList{QStringLiteral("--record-len"), QStringLiteral("258")}
                               << 1 << Outcome::Refused
                               << QStringLiteral("第1条记录长度为258字节，应为257字节，读取中止。");
    QTest::newRow("none after 2nd")
        << QStringList{QStringLiteral("--stop-after"), QStringLiteral("2")} << 3
        << Outcome::TimedOut << QStringLiteral("读取第3条记录时设备无应答，读取中止。");
}

void WireTest::readStopsOnBadRecord()
{
    QFETCH(QStringList, args);
    QFETCH(int, record);
    QFETCH(Outcome, outcome);
    QFETCH(QString, detail);
    EngineRig rig(args, quick());
    QVERIFY(rig.start());
    QSignalSpy read(&rig.engine, &DeviceEngine::tableRead);
    QVERIFY(rig.engine.readTable(QStringLiteral("0001")));
    const auto result = rig.waitIdle();
    QVERIFY(result);
    QCOMPARE(result->outcome, outcome);
    QCOMPARE(result->record, record);
    QCOMPARE(result->detail, detail);
    QCOMPARE(rig.log.constLast(), detail);
    QCOMPARE(rig.messages, QStringList{detail});
    QCOMPARE(read.count(), 0);
    QCOMPARE(rig.log.count(QStringLiteral("收到字符数:257")), record - 1);
    // Nothing more is asked of the device once the read stopped.
    QTest::qWait(100);
    QCOMPARE(rig.sim.received(), readFrames().mid(0, 2 + record));
}

void WireTest::downloadAndVerify()
{
    EngineRig rig({}, quick());
    QVERIFY(rig.start());
    const CodeTable table = downloadTable();
    QVERIFY(rig.engine.downloadTable(QStringLiteral("1"), table, true));
    const auto result = rig.waitIdle();
    QVERIFY(result && result->ok());
    QCOMPARE(result->detail, QStringLiteral("校验完成：16条记录全部一致。"));
    QCOMPARE(rig.messages, QStringList{result->detail});
    QCOMPARE(rig.sim.storedTable(), records(table));

    // The download, then the read-back.
    const QStringList opening{QStringLiteral("0001DD"), QStringLiteral("40"), QStringLiteral("50")};
    QCOMPARE(rig.sim.received(), opening + records(table) + readFrames());
    QStringList lines;
    for (int i = 0; i < tableRecords; ++i)
        lines << QStringLiteral("输出第%1行指令！").arg(i);
    lines << QStringLiteral("下载记录完成！");
    QCOMPARE(rig.log.filter(QRegularExpression(QStringLiteral("^(输出第|下载记录)"))), lines);
    QCOMPARE(rig.log.count(QStringLiteral("--== 输出指令[%1] ==--").arg(table[5])), 1);
}

void WireTest::downloadSetbacks()
{
    // One refusal of record 3 (0-based), and the device asking to start over at record 6: both
    // are got over, and every record ends up stored.
    EngineRig rig({QStringLiteral("--refuse-record"), QStringLiteral("3"),
                   QStringLiteral("--restart-at"), QStringLiteral("6")},
                  quick());
    QVERIFY(rig.start());
    const CodeTable table = downloadTable();
    QVERIFY(rig.engine.downloadTable(QStringLiteral("0001"), table));
    const auto result = rig.waitIdle();
    QVERIFY(result && result->ok());
    QVERIFY(rig.messages.isEmpty());
    QCOMPARE(rig.sim.storedTable(), records(table));

    const QStringList all = records(table);
    QStringList expected{QStringLiteral("0001DD"), QStringLiteral("40"), QStringLiteral("50")};
    expected += all.mid(0, 4);
    expected += all.mid(3, 4); // 3 again, then 4 to 6; 6 is not stored
    expected += all;
    QCOMPARE(rig.sim.received(), expected);
    QCOMPARE(rig.log.count(QStringLiteral("下载记录完成！")), 1);
}

void WireTest::downloadRefusalsCapped()
{
    // Record 2 refused eleven times: the tool gives up after ten in a row.
    EngineRig rig({QStringLiteral("--refuse-record"), QStringLiteral("2:11")}, quick());
    QVERIFY(rig.start());
    const CodeTable table = downloadTable();
    QVERIFY(rig.engine.downloadTable(QStringLiteral("0001"), table));
    const auto result = rig.waitIdle();
    QVERIFY(result);
    QCOMPARE(result->outcome, Outcome::Refused);
    QCOMPARE(result->record, 3);
    const QString detail = QStringLiteral("第3条记录被设备拒绝10次，下载中止。");
    QCOMPARE(result->detail, detail);
    QCOMPARE(rig.log.constLast(), detail);
    QCOMPARE(rig.messages, QStringList{detail});
    QTest::qWait(100);
    QCOMPARE(rig.sim.received().count(table[2]), 10);
    QCOMPARE(rig.sim.received().size(), 3 + 2 + 10);
    QVERIFY(!rig.log.contains(QStringLiteral("下载记录完成！")));
}

void WireTest::unplugEndsOperation_data()
{
    QTest::addColumn<bool>("download");
    QTest::addColumn<QString>("detail");
    QTest::newRow("read") << false << QStringLiteral("读取第5条记录时与设备的连接中断，读取中止。");
    QTest::newRow("download") << true
                              << QStringLiteral("写入第5条记录时与设备的连接中断，下载中止。");
}

void WireTest::unplugEndsOperation()
{
    QFETCH(bool, download);
    QFETCH(QString, detail);
    EngineRig rig({}, quick());
    QVERIFY(rig.start());
    QSignalSpy lost(&rig.engine, &DeviceEngine::connectionLost);
    // Unplugged as soon as record 4 is through, before record 5 is asked for.
    QObject::connect(&rig.engine, &DeviceEngine::progress, &rig.engine, [&rig](int done, int) {
        if (done == 4)
            rig.sim.kill();
    });
    QVERIFY(download ? rig.engine.downloadTable(QStringLiteral("0001"), downloadTable())
                     : rig.engine.readTable(QStringLiteral("0001")));

    const auto result = rig.waitIdle();
    QVERIFY(result);
    QCOMPARE(result->outcome, Outcome::PortLost);
    QCOMPARE(result->record, 5);
    QCOMPARE(result->detail, detail);
    QVERIFY(rig.log.contains(QStringLiteral("端口连接失败！")));
    QCOMPARE(rig.log.constLast(), detail);
    QCOMPARE(rig.messages, QStringList{detail});
    QCOMPARE(lost.count(), 1);
    QVERIFY(!rig.engine.isOpen());

    // A port left open on a hung-up terminal reports its error again and again: nothing may
    // spin once the device is gone.
    const double before = cpuSeconds();
    QTest::qWait(700);
    const double used = cpuSeconds() - before;
    QVERIFY2(used < 0.2, qPrintable(QStringLiteral("CPU seconds used: %1").arg(used)));
    QCOMPARE(lost.count(), 1);
}

void WireTest::twoEnginesReadAtOnce()
{
    EngineRig a({QStringLiteral("--seed"), QStringLiteral("7")}, quick());
    EngineRig b({QStringLiteral("--seed"), QStringLiteral("8")}, quick());
    QVERIFY(a.start());
    QVERIFY(b.start());
    QVERIFY(a.sim.storedTable() != b.sim.storedTable());

    QElapsedTimer clock;
    clock.start();
    QVERIFY(a.engine.readTable(QStringLiteral("0001")));
    QVERIFY(a.waitIdle()->ok());
    const qint64 single = clock.restart();

    QVERIFY(a.engine.readTable(QStringLiteral("0001")));
    QVERIFY(b.engine.readTable(QStringLiteral("0001")));
    const auto ra = a.waitIdle();
    const auto rb = b.waitIdle();
    const qint64 pair = clock.elapsed();
    QVERIFY(ra && ra->ok() && rb && rb->ok());
    QCOMPARE(records(ra->table), a.sim.storedTable());
    QCOMPARE(records(rb->table), b.sim.storedTable());
    QCOMPARE(b.sim.received(), readFrames());
    // Neither engine waits for the other: the two reads overlap.
    QVERIFY2(pair < single * 3 / 2,
             qPrintable(QStringLiteral("one read %1 ms, two at once %2 ms").arg(single).arg(pair)));
}

QTEST_GUILESS_MAIN(WireTest)
#include "tst_wire.moc"
