// The engine's state machines on a scripted line: what it refuses, numbered learning
// around the operator's box, late and repeated answers, bytes that trail a record, the transfers'
// pauses and every way a transfer ends. Whatever the device sends outside a prompt answer comes at
// a step of the dialogue the test waited for, never at a moment of the clock.
#include "engine/deviceengine.h"
#include "engine/messages.h"
#include "support/fakelink.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <numeric>

using namespace irlearn;
using namespace Qt::StringLiterals;

namespace {

// Each its own value, so that a timing used in another's place shows.
const Timings fast{60, 80, 2, 5, 120, 400};
// A learning window that ran in full would outlast the wait for the end.
const Timings longWindow{60, 80, 2, 5, 60000, 400};

const QString dev = u"0001"_s;
const QByteArray ack(1, '\0');

// Record n of a device's table: 257 bytes of n.
QByteArray record(int n)
{
    return QByteArray(recordBytes, char(n));
}

CodeTable recordsTable()
{
    CodeTable table;
    for (int i = 0; i < tableRecords; ++i)
        table[std::size_t(i)] = QString::fromLatin1(record(i + 1).toHex()).toUpper();
    return table;
}

// A device that does all it is asked: echoes learning mode on and off, answers other commands
// with 00, a read's requests with records 1 to 16 (then silence), a download's "50" with DD and
// its records with 00.
struct Device
{
    bool reading = true;
    int served = 0; // records answered to the current read

    QByteArray answer(const QString &f)
    {
        if (f.size() == 2 * recordBytes)
            return ack;
        if (f == u"0001ED"_s || f == u"0001DD"_s) {
            reading = f.endsWith(u"ED"_s);
            served = 0;
            return {};
        }
        if (f == u"50"_s && !reading)
            return QByteArray("\xDD", 1);
        if (f == u"50"_s || f == u"00"_s)
            return ++served <= tableRecords ? record(served) : QByteArray();
        if (f.endsWith(u"F0"_s) || f.endsWith(u"F2"_s))
            return QByteArray::fromHex(f.right(2).toLatin1());
        return f == u"40"_s ? QByteArray() : ack;
    }
};

struct Rig
{
    FakeLink *link;
    DeviceEngine engine;
    Device device;
    QList<OperationResult> results;
    QList<Outcome> outcomes;
    QStringList told; // the messages for the operator
    QStringList log;

    explicit Rig(FakeLink::Responder responder = {}, const Timings &timings = fast)
        : link(new FakeLink), engine(link, timings)
    {
        link->responder = responder ? std::move(responder) : [this](const QString &f) {
            return device.answer(f);
        };
        openAndWait(engine, u"fake"_s);
        QObject::connect(&engine, &DeviceEngine::logLine, [this](const QString &l) { log << l; });
        QObject::connect(&engine, &DeviceEngine::message, [this](const QString &m) { told << m; });
        QObject::connect(&engine, &DeviceEngine::finished, [this](const OperationResult &r) {
            results << r;
            outcomes << r.outcome;
        });
    }
    OperationResult result() const { return results.constLast(); }
    bool waitFinished(int count = 1)
    {
        return until([&] { return results.size() >= count; });
    }
};

// Frames as the link records them, written out space-separated.
QStringList frames(const char *text)
{
    return QString::fromLatin1(text).split(u' ');
}

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    // Input that cannot go on the wire, a second operation while one runs and a closed port are
    // refused at once, with nothing sent. (Every command's frames on the wire: tst_cli.)
    void refusalsSendNothing()
    {
        Rig rig;
        QVERIFY(!rig.engine.learnCommand(dev, 109));
        QVERIFY(!rig.engine.sendKey(dev, 10));
        QVERIFY(!rig.engine.learnKey(u"12ab"_s, 0));
        QCOMPARE(rig.result().outcome, Outcome::Invalid);
        QCOMPARE(rig.told, (QStringList{messages::commandNumber, messages::deviceNumberLength}));
        QVERIFY(rig.engine.switchLearningMode(dev, true));
        QVERIFY(!rig.engine.readTable(dev));
        QCOMPARE(rig.result().outcome, Outcome::Busy);
        QVERIFY(until([&] { return !rig.engine.isRunning(); }) && rig.result().ok());
        rig.engine.close();
        QVERIFY(!rig.engine.sendKey(dev, 1));
        QCOMPARE(rig.result().outcome, Outcome::NotOpen);
        QCOMPARE(rig.link->written, QStringList{u"0001F0"_s});
    }

    // Learning, numbered or a key's. Numbered: the learning window runs in full after the success
    // box is closed, and after a refusal that came at once; a refusal during the window ends it at
    // once. Once learning mode on has gone out, learning mode off follows, whatever the device
    // answered. A key's is one operation: the key's frame, then the learning window, counted down,
    // with the prompt naming the key; the answer ends it whenever it comes in the window. Past the
    // frame's reply window it gives way to any other operation.
    void learning_data()
    {
        QTest::addColumn<bool>("key");
        QTest::addColumn<QByteArray>("echo");   // the answer to F0; empty: none
        QTest::addColumn<QByteArray>("answer"); // empty: none
        // The answer comes once the window is open; a key's, past the reply window.
        QTest::addColumn<bool>("inWindow");
        QTest::addColumn<Outcome>("outcome");
        const QByteArray on("\xF0", 1);
        const QByteArray refusal("\x01", 1);
        QTest::newRow("learnt") << false << on << ack << false << Outcome::Done;
        QTest::newRow("refused at once") << false << on << refusal << false << Outcome::Refused;
        QTest::newRow("refused in the window")
            << false << on << refusal << true << Outcome::Refused;
        QTest::newRow("wrong echo")
            << false << QByteArray("\xF1", 1) << ack << false << Outcome::Refused;
        QTest::newRow("no echo") << false << QByteArray() << ack << false << Outcome::TimedOut;
        QTest::newRow("key learnt at once") << true << on << ack << false << Outcome::Done;
        QTest::newRow("key learnt in the window") << true << on << ack << true << Outcome::Done;
        QTest::newRow("key refused in the window")
            << true << on << refusal << true << Outcome::Refused;
        QTest::newRow("key silent") << true << on << QByteArray() << false << Outcome::TimedOut;
    }
    void learning()
    {
        QFETCH(bool, key);
        QFETCH(QByteArray, echo);
        QFETCH(QByteArray, answer);
        QFETCH(bool, inWindow);
        QFETCH(Outcome, outcome);
        Rig rig(
            [&](const QString &f) {
                if (f == u"0001F0"_s)
                    return echo;
                return f == u"0001F2"_s ? QByteArray("\xF2", 1) : inWindow ? QByteArray() : answer;
            },
            inWindow ? longWindow : fast);
        QSignalSpy countdown(&rig.engine, &DeviceEngine::learningCountdown);
        QSignalSpy endsIn(&rig.engine, &DeviceEngine::learningEndsIn);
        QSignalSpy prompt(&rig.engine, &DeviceEngine::learnPromptChanged);
        QSignalSpy keyPrompt(&rig.engine, &DeviceEngine::keyPrompt);
        QSignalSpy learnt(&rig.engine, &DeviceEngine::keyLearnt);
        QObject::connect(&rig.engine, &DeviceEngine::learningCountdown, [&](int left) {
            if (inWindow && !key && left > 0 && countdown.size() == 1)
                rig.link->deliver(answer);
        });
        QByteArray events;
        QObject::connect(&rig.engine, &DeviceEngine::busyChanged, [&](bool busy) {
            events += busy ? "busy " : rig.engine.isRunning() ? "free-running " : "free ";
            if (!busy && inWindow && rig.engine.isRunning())
                rig.link->deliver(answer);
        });
        QObject::connect(&rig.engine, &DeviceEngine::finished, [&] { events += "finished"; });
        QElapsedTimer clock;
        clock.start();
        key ? rig.engine.learnKey(dev, 2) : rig.engine.learnCommand(dev, 108);
        if (!key && outcome == Outcome::Done) {
            QVERIFY(until([&] { return rig.told.size() == 1; }));
            // The box is open: the window has not begun.
            QVERIFY(countdown.isEmpty() && endsIn.isEmpty());
            QCOMPARE(rig.link->written.size(), 2);
            clock.restart();
            rig.engine.messageClosed();
        }
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().kind, key ? OperationKind::LearnKey : OperationKind::LearnCommand);
        QCOMPARE(rig.result().outcome, outcome);
        QCOMPARE(learnt.size(), outcome == Outcome::Done ? 1 : 0);
        QCOMPARE(rig.told.size(), outcome == Outcome::Done ? 1 : 0);
        const bool entered = key || echo == QByteArray("\xF0", 1);
        if (entered && !inWindow && (!key || answer.isEmpty()))
            QCOMPARE_GE(clock.elapsed(), fast.learningWindowMs);
        QCOMPARE(rig.link->written, key       ? frames("000142")
                                    : entered ? frames("0001F0 0001AB 0001F2")
                                              : frames("0001F0 0001F2"));
        // Waiting past the reply window leaves the controls free.
        QCOMPARE(events,
                 QByteArray(key && (inWindow || answer.isEmpty()) ? "busy free-running finished"
                                                                  : "busy free finished"));
        QVERIFY(key ? keyPrompt.size() == 1 && keyPrompt.at(0).at(0).toInt() == 2
                    : keyPrompt.isEmpty());
        if (entered)
            QCOMPARE(prompt.constFirst().at(0).toBool(), true);
        // A key's prompt stays while the device may still answer.
        QCOMPARE(prompt.constLast().at(0).toBool(), key && answer.isEmpty());
        // Learnt, a numbered learning counts down the time left as the end, not as a prompt.
        const bool noPrompt = !entered || (!key && outcome == Outcome::Done);
        QCOMPARE(countdown.constFirst().at(0).toInt(), noPrompt ? 0 : inWindow ? 60 : 1);
        QCOMPARE(countdown.constLast().at(0).toInt(), 0);
    }

    // Every operation starts with no reply outstanding. A late answer that comes while nothing
    // runs still counts (a learning result once, a late echo confirms nothing); one that comes
    // during the next operation is only logged, never taken as that operation's reply. A key's
    // learning that waits past its reply window gives way to any other operation (within the
    // window, that is refused with nothing sent); leaving learning mode takes the prompt down.
    void staleAnswers()
    {
        bool answerSelect = false;
        Rig rig;
        rig.link->responder = [&](const QString &f) -> QByteArray {
            if (f == u"0001ED"_s && answerSelect)
                return ack;
            return f.size() == 6 ? QByteArray() : rig.device.answer(f);
        };
        QSignalSpy confirmed(&rig.engine, &DeviceEngine::learningModeConfirmed);
        QSignalSpy learnt(&rig.engine, &DeviceEngine::keyLearnt);
        QSignalSpy prompt(&rig.engine, &DeviceEngine::learnPromptChanged);

        rig.engine.learnKey(dev, 2);
        QVERIFY(!rig.engine.switchLearningMode(dev, false));
        QCOMPARE(rig.link->written, frames("000142"));
        QVERIFY(until([&] { return !rig.engine.isBusy(); }));
        QVERIFY(rig.engine.switchLearningMode(dev, false));
        QCOMPARE(prompt.constLast().at(0).toBool(), false);
        QVERIFY(rig.waitFinished(3));
        rig.link->arrive(QByteArray("\xF2", 1));
        QVERIFY(rig.log.contains(u"收到参数：F2"_s));
        QVERIFY(confirmed.isEmpty());

        // Learnt after the learning window, with nothing else running: counted once.
        rig.engine.learnKey(dev, 0);
        QVERIFY(rig.waitFinished(4));
        rig.link->arrive(ack);
        rig.link->arrive(ack);
        QCOMPARE(learnt.size(), 1);
        QCOMPARE(rig.told, QStringList{messages::learnt});

        // A key learning given up on; then a read, whose select frame the device answers with
        // 00: no learning result in the middle of the read's opening.
        rig.engine.learnKey(dev, 2);
        QVERIFY(rig.waitFinished(5));
        answerSelect = true;
        QVERIFY(rig.engine.readTable(dev));
        QVERIFY(rig.waitFinished(6));
        const Outcome late = Outcome::TimedOut;
        QCOMPARE(rig.outcomes, (QList<Outcome>{Outcome::Busy, Outcome::Cancelled, late, late, late,
                                               Outcome::Done}));
        QCOMPARE(learnt.size(), 1);
        QCOMPARE(rig.told.size(), 1);
        QVERIFY(rig.log.contains(u"忽略迟到的应答：00"_s));
        QCOMPARE(rig.log.count(u"获取第1条记录。"_s), 1);
    }

    // The transfers' pauses, each where it belongs: the opening pause after the select frame and
    // after "40", the pacing interval between a reply and the next request. Each row makes one of
    // them the longer, so that either used in the other's place shows. Nothing comes between the
    // frames: another transfer asked for between two records is refused with nothing sent.
    // A read hands the table over as the extra request after record 16 goes out, a pacing
    // interval after the record; from then on the controls are free. Its answer is only logged,
    // and another operation may take over: asked for as the table is handed over, the extra
    // request is not sent; while an answer to it is coming in, it is refused with nothing sent.
    void transfers_data()
    {
        QTest::addColumn<bool>("download");
        QTest::addColumn<int>("openingMs");
        QTest::addColumn<int>("pacingMs");
        QTest::addColumn<bool>("keyAtTable"); // a read's; else a key while the extra answer comes
        QTest::newRow("read, the opening longer; a key mid-answer") << false << 11 << 2 << false;
        QTest::newRow("read, the pacing longer; a key as the table comes")
            << false << 3 << 9 << true;
        // The opening is the same code for both transfers.
        QTest::newRow("download, the pacing longer") << true << 4 << 10 << false;
    }
    void transfers()
    {
        QFETCH(bool, download);
        QFETCH(int, openingMs);
        QFETCH(int, pacingMs);
        QFETCH(bool, keyAtTable);
        // The extra request's answer comes when the test puts it on the line: no window may close
        // before.
        Rig rig({}, {6000, 7000, openingMs, pacingMs, 120, 8000});
        QList<bool> taken;
        QObject::connect(&rig.engine, &DeviceEngine::progress, [&](int done) {
            if (done == 3)
                QTimer::singleShot(0, &rig.engine, [&] {
                    const qsizetype before = rig.link->written.size();
                    taken << rig.engine.isBusy() << rig.engine.readTable(dev)
                          << (rig.link->written.size() == before);
                });
        });
        bool freeAtTable = false;
        int writtenAtTable = 0;
        QObject::connect(&rig.engine, &DeviceEngine::tableRead, [&] {
            if (writtenAtTable > 0)
                return; // the long answer to the extra request repeats the completion
            freeAtTable = !rig.engine.isBusy();
            writtenAtTable = int(rig.link->written.size());
            if (keyAtTable)
                rig.engine.sendKey(dev, 0);
        });
        download ? rig.engine.downloadTable(dev, recordsTable()) : rig.engine.readTable(dev);
        if (!download && !keyAtTable) {
            QVERIFY(until([&] { return rig.link->written.size() == 2 + tableRecords + 1; }));
            rig.link->arrive(QByteArray(100, 'r'));
            QVERIFY(!rig.engine.sendKey(dev, 0));
            rig.link->arrive(QByteArray(157, 'r'));
        }
        QVERIFY(rig.waitFinished(download ? 2 : 3));
        // Busy between two records; not taken, nothing sent.
        QCOMPARE(taken, (QList<bool>{true, false, true}));
        const Outcome busy = Outcome::Busy, done = Outcome::Done;
        QCOMPARE(rig.outcomes, (download     ? QList<Outcome>{busy, done}
                                : keyAtTable ? QList<Outcome>{busy, done, done}
                                             : QList<Outcome>{busy, busy, done}));
        // A read's last frame is the extra request or the key sent in its place, a download's its
        // last record.
        const QList<qint64> &at = rig.link->writtenAtMs;
        QCOMPARE(at.size(), 3 + tableRecords);
        for (int i = 1; i < at.size(); ++i) {
            const qint64 gap = at.at(i) - at.at(i - 1);
            const int least = i <= 2 ? openingMs : pacingMs;
            QVERIFY2(gap >= least, qPrintable(u"frame %1: %2 ms"_s.arg(i).arg(gap)));
        }
        if (download)
            return;
        QVERIFY(freeAtTable);
        QCOMPARE(writtenAtTable, 2 + tableRecords);
        QCOMPARE(rig.results.at(keyAtTable ? 1 : 2).table[15],
                 QString::fromLatin1(record(16).toHex()).toUpper());
        if (keyAtTable) {
            QCOMPARE(rig.link->written.constLast(), u"000140"_s);
            QCOMPARE(rig.link->written.count(u"00"_s), tableRecords - 1);
        } else {
            QVERIFY(rig.log.contains(u"收到字符数:257"_s));
        }
    }

    // A key sent outside learning mode and a new device number say what the device answered; an
    // answer that cannot be one (more bytes, or the refusal F5) fails them. One frame each way.
    // Before the frame, what waits to be read is discarded, down to the driver's buffer: a late
    // byte on the line is not the frame's answer.
    void answersSaid_data()
    {
        QTest::addColumn<QByteArray>("waiting"); // in the driver before the frame
        QTest::addColumn<bool>("number");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("after"); // bytes right behind the answer
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("detail");
        const auto row = [](const char *name, const char *waiting, bool number, const char *answer,
                            int after, Outcome outcome, const char *detail) {
            QTest::newRow(name) << QByteArray::fromHex(waiting) << number
                                << QByteArray::fromHex(answer) << QByteArray(after, 'x') << outcome
                                << u"设备应答 "_s + QString::fromUtf8(detail);
        };
        row("key 00", "", false, "00", 0, Outcome::Done, "00");
        row("number 3C", "", true, "3C", 0, Outcome::Done, "3C");
        row("key F5", "", false, "F5", 0, Outcome::Refused, "F5");
        row("number, two bytes at once", "", true, "0001", 0, Outcome::Refused, "0001");
        row("key, a flood", "", false, "00", 3, Outcome::Refused, "00，其后又有3字节");
        row("key, F5 left on the line", "F5", false, "00", 0, Outcome::Done, "00");
    }
    void answersSaid()
    {
        QFETCH(QByteArray, waiting);
        QFETCH(bool, number);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, after);
        QFETCH(Outcome, outcome);
        QFETCH(QString, detail);
        Rig rig;
        rig.link->responder = [&](const QString &) {
            rig.link->trailing = after;
            return answer;
        };
        rig.link->waiting = waiting;
        number ? rig.engine.setDeviceNumber(u"0002"_s) : rig.engine.sendKey(dev, 0);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, outcome);
        QCOMPARE(rig.result().detail, detail);
        // Told as a failure; said in passing (the log has the reply already) when done.
        QCOMPARE(rig.told.size(), outcome == Outcome::Done ? 0 : 1);
        QCOMPARE(rig.link->written, frames(number ? "FD0002" : "000140"));
    }

    // How a transfer ends. A read stops at the record that is not one, or that a device pulled
    // out will never send. A download gets over a refused record and a request to start over, and
    // gives up on too many of either, on an answer it does not know and on silence. A verified
    // download says when its read-back begins; a read-back that fails leaves the download complete
    // and says so, one that differs names the record. Each says which record and why, hands over
    // no table, asks nothing more of the device, and takes the wait notice down.
    void transfersEnd_data()
    {
        QTest::addColumn<int>("mode");           // 0: read; 1: download; 2: verified download
        QTest::addColumn<QByteArray>("answers"); // per record downloaded, in order; then 00
        QTest::addColumn<QList<int>>("order");   // the records downloaded, by number
        QTest::addColumn<bool>("unplug");        // in the pause before request `at`
        QTest::addColumn<int>("at"); // the read's request answered `instead`; the failing record
        // Empty: silence; past 257 bytes, the rest comes in a piece of its own.
        QTest::addColumn<QByteArray>("instead");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("detail");
        QList<int> all(tableRecords);
        std::iota(all.begin(), all.end(), 1);
        const auto read = [&all](const char *name, int mode, bool unplug, int at,
                                 const QByteArray &instead, Outcome outcome,
                                 const QString &detail) {
            QTest::newRow(name) << mode << QByteArray() << (mode ? all : QList<int>()) << unplug
                                << at << instead << outcome << detail;
        };
        const auto download = [](const char *name, const QByteArray &answers,
                                 const QList<int> &order, int at, Outcome outcome,
                                 const QString &detail) {
            QTest::newRow(name) << 1 << answers << order << false << at << QByteArray() << outcome
                                << detail;
        };
        // (Records of the wrong length as they come: tst_faults.)
        // Bytes after record 16 was taken, before the pacing is over: caught before the next
        // request.
        read("16th goes on", 0, false, 16, record(16) + QByteArray(43, 'x'), Outcome::Refused,
             u"第16条记录长度为300字节，应为257字节，读取中止。"_s);
        read("pulled out after the 4th", 0, true, 5, {}, Outcome::PortLost,
             u"读取第5条记录时与设备的连接中断，读取中止。"_s);
        read("read-back fails", 2, false, 6, {}, Outcome::VerifyFailed,
             u"下载完成，校验失败：读取第6条记录时设备无应答，读取中止。请检查设备号和连线。"_s);
        read("5th read back wrongly", 2, false, 5, record(5).replace(100, 1, "x"),
             Outcome::Mismatch, u"校验失败：第5条记录与文件不一致。"_s);
        download("refused once, then start over", QByteArray("\0\0\0\xF5\0\0\0\xDD", 8),
                 QList<int>{1, 2, 3, 4, 4, 5, 6, 7} + all, 0, Outcome::Done, {});
        // Record 1's refusal does not count towards record 2's ten (the cap itself: tst_faults).
        download("refused 10 times",
                 QByteArray("\xF5\0\xF5\xF5\xF5\xF5\xF5\xF5\xF5\xF5\xF5\xF5", 12),
                 QList<int>{1, 1} + QList<int>(10, 2), 2, Outcome::Refused,
                 u"第2条记录被设备拒绝10次，下载中止。"_s);
        download("3 restarts", QByteArray("\0\xDD\0\xDD\0\xDD", 6), {1, 2, 1, 2, 1, 2}, 2,
                 Outcome::Refused, u"设备在第2条记录处第3次要求重新开始，下载中止。"_s);
        download("unexpected", QByteArray("\0\x07", 2), {1, 2}, 2, Outcome::Refused,
                 u"第2条记录收到意外应答07，下载中止。"_s);
        download("silence", QByteArray("\0\0\0\0\0S", 6), {1, 2, 3, 4, 5, 6}, 6, Outcome::TimedOut,
                 u"第6条记录发送后设备无应答，下载中止。请检查设备号和连线。"_s);
    }
    void transfersEnd()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, answers);
        QFETCH(QList<int>, order);
        QFETCH(bool, unplug);
        QFETCH(int, at);
        QFETCH(QByteArray, instead);
        QFETCH(Outcome, outcome);
        QFETCH(QString, detail);
        // The notice's own time-out stays out of the way: it is the end that takes it down.
        Rig rig({}, {60, 80, 2, 5, 120, 9000});
        QList<int> sent;
        rig.link->responder = [&](const QString &f) -> QByteArray {
            if (f.size() == 2 * recordBytes) {
                const char a = sent.size() < answers.size() ? answers.at(sent.size()) : '\0';
                sent << int(QByteArray::fromHex(f.left(2).toLatin1()).at(0));
                return a == 'S' ? QByteArray() : QByteArray(1, a);
            }
            QByteArray a = rig.device.answer(f);
            if (mode != 1 && rig.device.served == at && (f == u"50"_s || f == u"00"_s)) {
                rig.link->trailing = instead.mid(recordBytes);
                a = instead.left(recordBytes);
            }
            return a;
        };
        QObject::connect(&rig.engine, &DeviceEngine::progress, [&](int done) {
            if (unplug && done == at - 1)
                QTimer::singleShot(0, rig.link, [&] {
                    rig.link->close();
                    emit rig.link->lost();
                });
        });
        QSignalSpy read(&rig.engine, &DeviceEngine::tableRead);
        QList<QPair<Phase, int>> phases; // with the frames written by then
        QObject::connect(&rig.engine, &DeviceEngine::phaseChanged, [&](Phase phase) {
            phases << qMakePair(phase, int(rig.link->written.size()));
        });
        QByteArray events;
        QObject::connect(&rig.engine, &DeviceEngine::noticeHidden, [&] { events += "hidden "; });
        QObject::connect(&rig.engine, &DeviceEngine::finished, [&] { events += "finished"; });
        mode ? rig.engine.downloadTable(dev, recordsTable(), mode == 2) : rig.engine.readTable(dev);
        QVERIFY(rig.waitFinished());
        const OperationResult result = rig.result();
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.detail, detail);
        QCOMPARE(result.record, detail.isEmpty() || outcome == Outcome::Mismatch ? 0 : at);
        QCOMPARE(result.differing, outcome == Outcome::Mismatch ? QList<int>{5} : QList<int>());
        QCOMPARE(rig.told, detail.isEmpty() ? QStringList() : QStringList{detail});
        QCOMPARE(rig.log.constLast(), detail.isEmpty() ? u"下载记录完成！"_s : detail);
        QCOMPARE(rig.log.contains(u"下载记录完成！"_s), mode == 2 || (mode && detail.isEmpty()));
        QCOMPARE(read.size(), 0);
        QCOMPARE(sent, order);
        if (outcome != Outcome::Mismatch)
            QCOMPARE(rig.link->written.size(),
                     (mode ? 3 + sent.size() : 0) + (mode == 1 ? 0 : 2 + at - unplug));
        QList<QPair<Phase, int>> expected{{mode ? Phase::Writing : Phase::Reading, 0}};
        if (mode == 2)
            expected << qMakePair(Phase::ReadingBack, 3 + tableRecords);
        QCOMPARE(phases, expected);
        QCOMPARE(events, QByteArray("hidden finished"));
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
