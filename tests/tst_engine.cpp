// The engine's operations on a scripted line: every state machine's transitions, time-outs,
// refusals, a second operation refused while one runs, and the port lost in the middle.
#include "engine/deviceengine.h"
#include "support/fakelink.h"

#include <QSignalSpy>
#include <QTest>

using namespace irlearn;

namespace {

const Timings fast{60, 80, 3, 3, 120, 400};

QByteArray record(int n)
{
    return QByteArray(257, char(n));
}

QString recordText(int n)
{
    return QString::fromLatin1(record(n).toHex()).toUpper();
}

// A device that answers as it should: echoes, learns, reads and stores.
struct Device
{
    bool reading = false;
    int next = 1;
    QByteArray operator()(const QString &f)
    {
        if (f == QLatin1String("0001F0") || f == QLatin1String("0001F2"))
            return QByteArray::fromHex(f.right(2).toLatin1());
        if (f == QLatin1String("0001ED") || f == QLatin1String("0001DD")) {
            reading = f.endsWith(QLatin1String("ED"));
            next = 1;
            return {};
        }
        if (f == QLatin1String("40"))
            return {};
        if (f == QLatin1String("50"))
            return reading ? record(next++) : QByteArray("\xDD", 1);
        if (f == QLatin1String("00") && reading)
            return next <= 16 ? record(next++) : QByteArray();
        return QByteArray(1, '\0'); // a stored record, a learnt or sent key, a new number
    }
};

struct Rig
{
    FakeLink *link = new FakeLink;
    DeviceEngine engine{link, fast};
    QSignalSpy finished{&engine, &DeviceEngine::finished};
    QSignalSpy messages{&engine, &DeviceEngine::message};
    QStringList log;

    explicit Rig(FakeLink::Responder responder = Device())
    {
        link->responder = std::move(responder);
        engine.open(QStringLiteral("fake"));
        QObject::connect(&engine, &DeviceEngine::logLine, [this](const QString &l) { log << l; });
    }
    OperationResult result(int i = -1) const
    {
        return finished.at(i < 0 ? finished.size() - 1 : i).at(0).value<OperationResult>();
    }
    bool waitFinished(int count = 1)
    {
        return QTest::qWaitFor([&] { return finished.size() >= count; }, 5000);
    }
};

CodeTable table()
{
    CodeTable t;
    for (int i = 0; i < 16; ++i)
        t[std::size_t(i)] = recordText(i + 1);
    return t;
}

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    void learningModeFollowsTheEcho()
    {
        Rig rig;
        QSignalSpy confirmed(&rig.engine, &DeviceEngine::learningModeConfirmed);
        QVERIFY(rig.engine.switchLearningMode(QStringLiteral("0001"), true));
        QVERIFY(rig.engine.isBusy());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, Outcome::Done);
        QCOMPARE(confirmed.size(), 1);
        QCOMPARE(rig.link->written, QStringList{QStringLiteral("0001F0")});
        QCOMPARE(rig.log, (QStringList{QStringLiteral("--== 输出指令[0001F0] ==--"),
                                       QStringLiteral("收到参数：F0")}));

        // A wrong echo is a refusal; silence a time-out, and the late echo is only logged.
        Rig wrong([](const QString &) { return QByteArray("\xF1", 1); });
        QSignalSpy wrongConfirmed(&wrong.engine, &DeviceEngine::learningModeConfirmed);
        wrong.engine.switchLearningMode(QStringLiteral("0001"), true);
        QVERIFY(wrong.waitFinished());
        QCOMPARE(wrong.result().outcome, Outcome::Refused);
        QCOMPARE(wrong.result().reply, QStringLiteral("F1"));
        QVERIFY(wrongConfirmed.isEmpty());

        Rig silent([](const QString &) { return QByteArray(); });
        QSignalSpy silentConfirmed(&silent.engine, &DeviceEngine::learningModeConfirmed);
        silent.engine.switchLearningMode(QStringLiteral("0001"), false);
        QVERIFY(silent.waitFinished());
        QCOMPARE(silent.result().outcome, Outcome::TimedOut);
        silent.link->deliver(QByteArray("\xF2", 1));
        QTRY_VERIFY(silent.log.contains(QStringLiteral("收到参数：F2")));
        QVERIFY(silentConfirmed.isEmpty());
        QVERIFY(silent.messages.isEmpty());
    }

    void nothingBadReachesTheWire()
    {
        Rig rig;
        for (const QString &bad : {QStringLiteral("1"), QStringLiteral("12ab"), QString()}) {
            QVERIFY(!rig.engine.learnKey(bad, 0));
            QCOMPARE(rig.result().outcome, Outcome::Invalid);
        }
        QVERIFY(!rig.engine.learnCommand(QStringLiteral("0001"), 109));
        QVERIFY(!rig.engine.setDeviceNumber(QStringLiteral("0000")));
        QVERIFY(!rig.engine.setDeviceNumber(QStringLiteral("12")));
        QVERIFY(rig.link->written.isEmpty());
        QCOMPARE(rig.messages.size(), 6);
        QCOMPARE(rig.messages.at(0).at(0).toString(),
                 QStringLiteral("设备号长度毕须为4位，不足以零补充，如1号设备编号为[0001]。"));
        QCOMPARE(rig.messages.at(3).at(0).toString(), QStringLiteral("对不起，指令号不能为0"));
        QCOMPARE(rig.messages.at(4).at(0).toString(), QStringLiteral("对不起设备号不能为零！"));

        // One operation at a time: a key pressed during a read is refused, not sent between
        // records.
        QVERIFY(rig.engine.readTable(QStringLiteral("0001")));
        QVERIFY(!rig.engine.sendKey(QStringLiteral("0001"), 0));
        QCOMPARE(rig.result().outcome, Outcome::Busy);
        QVERIFY(rig.waitFinished(8));
        QVERIFY(!rig.link->written.contains(QStringLiteral("000140")));

        rig.engine.close();
        QVERIFY(!rig.engine.readTable(QStringLiteral("0001")));
        QCOMPARE(rig.result().outcome, Outcome::NotOpen);
    }

    void learningAKeyEvenLate()
    {
        Rig rig;
        QSignalSpy learnt(&rig.engine, &DeviceEngine::keyLearnt);
        rig.engine.learnKey(QStringLiteral("0001"), 2);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.link->written.last(), QStringLiteral("000142"));
        QCOMPARE(rig.result().outcome, Outcome::Done);
        QCOMPARE(learnt.size(), 1);
        QCOMPARE(rig.messages.at(0).at(0).toString(), QStringLiteral("指令学习成功！"));

        // The result still counts when it comes after the reply window.
        Rig late([](const QString &) { return QByteArray(); });
        QSignalSpy lateLearnt(&late.engine, &DeviceEngine::keyLearnt);
        late.engine.learnKey(QStringLiteral("0001"), 0);
        QVERIFY(late.waitFinished());
        QCOMPARE(late.result().outcome, Outcome::TimedOut);
        late.link->deliver(QByteArray(1, '\0'));
        QTRY_COMPARE(lateLearnt.size(), 1);
        // ... once: a second answer while the box is open is not a second result.
        late.link->deliver(QByteArray(1, '\0'));
        QTest::qWait(20);
        QCOMPARE(lateLearnt.size(), 1);
    }

    void numberedLearningWaitsForTheOperator()
    {
        Rig rig;
        QSignalSpy countdown(&rig.engine, &DeviceEngine::learningCountdown);
        QSignalSpy prompt(&rig.engine, &DeviceEngine::learnPromptChanged);
        rig.engine.learnCommand(QStringLiteral("0001"), 108);
        QTRY_COMPARE(rig.messages.size(), 1); // learnt at once: the success box is open
        QTest::qWait(fast.learningWindowMs * 2);
        QCOMPARE(rig.link->written,
                 (QStringList{QStringLiteral("0001F0"), QStringLiteral("0001AB")}));
        QElapsedTimer sinceClosed;
        sinceClosed.start();
        rig.engine.messageClosed();
        QVERIFY(rig.waitFinished());
        QVERIFY(sinceClosed.elapsed() >= fast.learningWindowMs);
        QCOMPARE(rig.link->written.last(), QStringLiteral("0001F2"));
        QCOMPARE(rig.result().outcome, Outcome::Done);
        QCOMPARE(countdown.last().at(0).toInt(), 0);
        QCOMPARE(prompt.first().at(0).toBool(), true);
        QCOMPARE(prompt.last().at(0).toBool(), false);

        // A failure during the window ends it at once.
        FakeLink *link = nullptr;
        Rig failing([&link](const QString &f) {
            if (f == QLatin1String("000140"))
                link->deliver(QByteArray("\x01", 1), fast.replyWindowMs + 10);
            return f.endsWith(QLatin1String("F0")) || f.endsWith(QLatin1String("F2"))
                       ? QByteArray::fromHex(f.right(2).toLatin1())
                       : QByteArray();
        });
        link = failing.link;
        QElapsedTimer clock;
        clock.start();
        failing.engine.learnCommand(QStringLiteral("0001"), 1);
        QVERIFY(failing.waitFinished());
        QVERIFY(clock.elapsed() < fast.replyWindowMs + fast.learningWindowMs);
        QCOMPARE(failing.result().outcome, Outcome::Refused);
        QCOMPARE(failing.link->written.last(), QStringLiteral("0001F2"));
        QVERIFY(failing.messages.isEmpty());
    }

    void readingTheTable()
    {
        Rig rig;
        QSignalSpy read(&rig.engine, &DeviceEngine::tableRead);
        QSignalSpy progress(&rig.engine, &DeviceEngine::progress);
        QSignalSpy notice(&rig.engine, &DeviceEngine::noticeHidden);
        rig.engine.readTable(QStringLiteral("1"));
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, Outcome::Done);
        QStringList expected{QStringLiteral("0001ED"), QStringLiteral("40"), QStringLiteral("50")};
        for (int i = 0; i < 16; ++i)
            expected << QStringLiteral("00"); // 15 next-record requests and the extra one
        QCOMPARE(rig.link->written, expected);
        QCOMPARE(read.size(), 1);
        QCOMPARE(read.at(0).at(0).value<CodeTable>()[15], recordText(16));
        QCOMPARE(progress.last().at(0).toInt(), 16);
        QVERIFY(rig.log.contains(QStringLiteral("获取第16条记录。")));
        QVERIFY(rig.log.contains(QStringLiteral("收到字符数:257")));
        QCOMPARE(notice.size(), 1);

        // A long answer to the extra request repeats the completion.
        Device repeating;
        Rig again([&repeating](const QString &f) {
            const QByteArray r = repeating(f);
            return r.isEmpty() && f == QLatin1String("00") ? record(1) : r;
        });
        QSignalSpy readAgain(&again.engine, &DeviceEngine::tableRead);
        again.engine.readTable(QStringLiteral("0001"));
        QVERIFY(again.waitFinished());
        QCOMPARE(readAgain.size(), 2);
    }

    void aReadStopsOnAnyOtherLength_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("detail");
        QTest::newRow("128") << QByteArray(128, 'x')
                             << QStringLiteral("第3条记录长度为128字节，应为257字节，读取中止。");
        QTest::newRow("256") << QByteArray(256, 'x')
                             << QStringLiteral("第3条记录长度为256字节，应为257字节，读取中止。");
        QTest::newRow("258") << QByteArray(258, 'x')
                             << QStringLiteral("第3条记录长度为258字节，应为257字节，读取中止。");
        QTest::newRow("none") << QByteArray()
                              << QStringLiteral("读取第3条记录时设备无应答，读取中止。");
    }
    void aReadStopsOnAnyOtherLength()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, detail);
        Device device;
        Rig rig([&](const QString &f) {
            const QByteArray r = device(f);
            return device.next == 4 ? (++device.next, reply) : r;
        });
        QSignalSpy read(&rig.engine, &DeviceEngine::tableRead);
        rig.engine.readTable(QStringLiteral("0001"));
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().detail, detail);
        QCOMPARE(rig.result().record, 3);
        QCOMPARE(rig.messages.last().at(0).toString(), detail);
        QVERIFY(read.isEmpty());
    }

    void aRecordThatGoesOnIsNotARecord()
    {
        // Byte 258 arrives after the record was taken: caught before the next request.
        FakeLink *link = nullptr;
        Device device;
        Rig rig([&](const QString &f) {
            const QByteArray r = device(f);
            if (device.next == 17)
                link->deliver(QByteArray(43, 'x'), 1);
            return r;
        });
        link = rig.link;
        rig.engine.readTable(QStringLiteral("0001"));
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().detail,
                 QStringLiteral("第16条记录长度为300字节，应为257字节，读取中止。"));
        QCOMPARE(rig.link->written.count(QStringLiteral("00")), 15); // no extra request
    }

    void downloading_data()
    {
        QTest::addColumn<QByteArray>("answers"); // per record sent, in order; then 00 for ever
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<int>("recordsSent");
        QTest::newRow("refused once")
            << QByteArray("\0\0\0\xF5", 4) << int(Outcome::Done) << QString() << 17;
        QTest::newRow("restart once")
            << QByteArray("\0\0\xDD", 3) << int(Outcome::Done) << QString() << 19;
        QTest::newRow("refused 10 times")
            << QByteArray(10, '\xF5') << int(Outcome::Refused)
            << QStringLiteral("第1条记录被设备拒绝10次，下载中止。") << 10;
        QTest::newRow("3 restarts")
            << QByteArray("\0\xDD\0\xDD\0\xDD", 6) << int(Outcome::Refused)
            << QStringLiteral("设备在第2条记录处第3次要求重新开始，下载中止。") << 6;
        QTest::newRow("unexpected") << QByteArray("\0\x07", 2) << int(Outcome::Refused)
                                    << QStringLiteral("第2条记录收到意外应答07，下载中止。") << 2;
        QTest::newRow("silence") << QByteArray("\0\0\0\0\0\x01", 6).left(5) + QByteArray("S")
                                 << int(Outcome::TimedOut)
                                 << QStringLiteral("第6条记录发送后设备无应答，下载中止。") << 6;
    }
    void downloading()
    {
        QFETCH(QByteArray, answers);
        QFETCH(int, outcome);
        QFETCH(QString, detail);
        QFETCH(int, recordsSent);
        int sent = 0;
        Rig rig([&](const QString &f) -> QByteArray {
            if (f == QLatin1String("50"))
                return QByteArray("\xDD", 1);
            if (f.size() != 514)
                return {};
            const char a = sent < answers.size() ? answers.at(sent) : '\0';
            ++sent;
            return a == 'S' ? QByteArray() : QByteArray(1, a);
        });
        rig.engine.downloadTable(QStringLiteral("0001"), table());
        QVERIFY(rig.waitFinished());
        QCOMPARE(int(rig.result().outcome), outcome);
        QCOMPARE(rig.result().detail, detail);
        QCOMPARE(sent, recordsSent);
        QCOMPARE(rig.link->written.mid(0, 4),
                 (QStringList{QStringLiteral("0001DD"), QStringLiteral("40"), QStringLiteral("50"),
                              recordText(1)}));
        QCOMPARE(rig.log.contains(QStringLiteral("下载记录完成！")), outcome == int(Outcome::Done));
    }

    void aVerifiedDownloadNamesWhatDiffers()
    {
        // The device stores record 5 wrongly; the read-back shows it.
        QList<QByteArray> stored;
        Device device;
        Rig rig([&](const QString &f) -> QByteArray {
            if (f.size() == 514) {
                QByteArray r = QByteArray::fromHex(f.toLatin1());
                if (stored.size() == 4)
                    r[0] = 'w';
                stored << r;
                return QByteArray(1, '\0');
            }
            if (f == QLatin1String("50") && !device.reading)
                return QByteArray("\xDD", 1);
            const QByteArray r = device(f);
            return r.size() == 257 ? stored.value(device.next - 2) : r;
        });
        rig.engine.downloadTable(QStringLiteral("0001"), table(), true);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, Outcome::Mismatch);
        QCOMPARE(rig.result().differing, QList<int>{5});
        QCOMPARE(rig.result().detail, QStringLiteral("校验失败：第5条记录与文件不一致。"));
    }

    void thePortLostInTheMiddle()
    {
        Device device;
        FakeLink *link = nullptr;
        Rig rig([&](const QString &f) {
            if (device.next == 6)
                QTimer::singleShot(0, link, &FakeLink::unplug);
            return device(f);
        });
        link = rig.link;
        QSignalSpy lost(&rig.engine, &DeviceEngine::connectionLost);
        rig.engine.readTable(QStringLiteral("0001"));
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, Outcome::PortLost);
        QCOMPARE(rig.result().record, 6);
        QCOMPARE(lost.size(), 1);
        QVERIFY(rig.log.contains(QStringLiteral("端口连接失败！")));
        QVERIFY(!rig.engine.isOpen());
        QVERIFY(!rig.engine.isBusy());
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
