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
    QSignalSpy finished{&engine, &DeviceEngine::finished};
    QSignalSpy messages{&engine, &DeviceEngine::message};
    QStringList log;

    explicit Rig(FakeLink::Responder responder = {}, const Timings &timings = fast)
        : link(new FakeLink), engine(link, timings)
    {
        link->responder = responder ? std::move(responder) : [this](const QString &f) {
            return device.answer(f);
        };
        openAndWait(engine, u"fake"_s);
        QObject::connect(&engine, &DeviceEngine::logLine, [this](const QString &l) { log << l; });
    }
    OperationResult result(int i = -1) const
    {
        return finished.at(i < 0 ? finished.size() - 1 : i).at(0).value<OperationResult>();
    }
    bool waitFinished(int count = 1)
    {
        return until([&] { return finished.size() >= count; });
    }
    QList<Outcome> outcomes() const
    {
        QList<Outcome> all;
        for (const QList<QVariant> &f : finished)
            all << f.at(0).value<OperationResult>().outcome;
        return all;
    }
    QStringList told() const
    {
        QStringList texts;
        for (const QList<QVariant> &m : messages)
            texts << m.at(0).toString();
        return texts;
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
        QCOMPARE(rig.told(), (QStringList{messages::commandNumber, messages::deviceNumberLength}));
        QVERIFY(rig.engine.switchLearningMode(dev, true));
        QVERIFY(!rig.engine.readTable(dev));
        QCOMPARE(rig.result().outcome, Outcome::Busy);
        QVERIFY(until([&] { return !rig.engine.isRunning(); }) && rig.result().ok());
        rig.engine.close();
        QVERIFY(!rig.engine.sendKey(dev, 1));
        QCOMPARE(rig.result().outcome, Outcome::NotOpen);
        QCOMPARE(rig.link->written, QStringList{u"0001F0"_s});
    }

    // Numbered learning: the learning window runs in full after the success box is closed, and
    // after a refusal that came at once; a refusal during the window ends it at once. Once
    // learning mode on has gone out, learning mode off follows, whatever the device answered.
    void numberedLearning_data()
    {
        QTest::addColumn<QByteArray>("echo"); // the answer to F0; empty: none
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("inWindow"); // the answer comes once the window is open
        QTest::addColumn<Outcome>("outcome");
        const QByteArray on("\xF0", 1);
        const QByteArray refusal("\x01", 1);
        QTest::newRow("learnt") << on << ack << false << Outcome::Done;
        QTest::newRow("refused at once") << on << refusal << false << Outcome::Refused;
        QTest::newRow("refused in the window") << on << refusal << true << Outcome::Refused;
        QTest::newRow("wrong echo") << QByteArray("\xF1", 1) << ack << false << Outcome::Refused;
        QTest::newRow("no echo") << QByteArray() << ack << false << Outcome::TimedOut;
    }
    void numberedLearning()
    {
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
        QObject::connect(&rig.engine, &DeviceEngine::learningCountdown, [&](int left) {
            if (inWindow && left > 0 && countdown.size() == 1)
                rig.link->deliver(answer);
        });
        QElapsedTimer clock;
        clock.start();
        rig.engine.learnCommand(dev, 108);
        if (outcome == Outcome::Done) {
            QVERIFY(until([&] { return rig.messages.size() == 1; }));
            // The box is open: the window has not begun.
            QVERIFY(countdown.isEmpty() && endsIn.isEmpty());
            QCOMPARE(rig.link->written.size(), 2);
            clock.restart();
            rig.engine.messageClosed();
        }
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, outcome);
        const bool entered = echo == QByteArray("\xF0", 1);
        if (entered && !inWindow)
            QCOMPARE_GE(clock.elapsed(), fast.learningWindowMs);
        QCOMPARE(rig.link->written, frames(entered ? "0001F0 0001AB 0001F2" : "0001F0 0001F2"));
        QCOMPARE(rig.messages.size(), outcome == Outcome::Done ? 1 : 0);
        QCOMPARE(prompt.constLast().at(0).toBool(), false);
        if (entered) {
            QCOMPARE(countdown.constLast().at(0).toInt(), 0);
            QCOMPARE(prompt.constFirst().at(0).toBool(), true);
        }
    }

    // The learning of a key is one operation: the key's frame, then the learning window, counted
    // down, with the prompt naming the key; the answer ends it whenever it comes in the window.
    // Past the frame's reply window it gives way to any other operation.
    void keyLearning_data()
    {
        QTest::addColumn<QByteArray>("answer"); // empty: none
        QTest::addColumn<bool>("inWindow");     // the answer comes past the reply window
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("learnt at once") << ack << false << Outcome::Done;
        QTest::newRow("learnt in the window") << ack << true << Outcome::Done;
        QTest::newRow("refused in the window") << QByteArray("\x01", 1) << true << Outcome::Refused;
        QTest::newRow("silent") << QByteArray() << false << Outcome::TimedOut;
    }
    void keyLearning()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, inWindow);
        QFETCH(Outcome, outcome);
        Rig rig([&](const QString &) { return inWindow ? QByteArray() : answer; },
                inWindow ? longWindow : fast);
        QSignalSpy countdown(&rig.engine, &DeviceEngine::learningCountdown);
        QSignalSpy keyPrompt(&rig.engine, &DeviceEngine::keyPrompt);
        QSignalSpy prompt(&rig.engine, &DeviceEngine::learnPromptChanged);
        QSignalSpy learnt(&rig.engine, &DeviceEngine::keyLearnt);
        QByteArray events;
        QObject::connect(&rig.engine, &DeviceEngine::busyChanged, [&](bool busy) {
            events += busy ? "busy " : rig.engine.isRunning() ? "free-running " : "free ";
            if (!busy && inWindow && rig.engine.isRunning())
                rig.link->deliver(answer);
        });
        QObject::connect(&rig.engine, &DeviceEngine::finished, [&] { events += "finished"; });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(rig.engine.learnKey(dev, 2));
        QVERIFY(rig.waitFinished());
        // Waiting past the reply window leaves the controls free.
        QCOMPARE(events, QByteArray(inWindow || answer.isEmpty() ? "busy free-running finished"
                                                                 : "busy free finished"));
        QCOMPARE(rig.result().kind, OperationKind::LearnKey);
        QCOMPARE(rig.result().outcome, outcome);
        QCOMPARE(learnt.size(), outcome == Outcome::Done ? 1 : 0);
        if (answer.isEmpty())
            QCOMPARE_GE(clock.elapsed(), fast.learningWindowMs);
        QCOMPARE(rig.link->written, frames("000142"));
        QVERIFY(keyPrompt.size() == 1 && keyPrompt.at(0).at(0).toInt() == 2);
        QCOMPARE(prompt.constFirst().at(0).toBool(), true);
        // The prompt stays while the device may still answer.
        QCOMPARE(prompt.constLast().at(0).toBool(), answer.isEmpty());
        QCOMPARE(countdown.constFirst().at(0).toInt(), inWindow ? 60 : 1);
        QCOMPARE(countdown.constLast().at(0).toInt(), 0);
    }

    // Another operation asked for while a key's learning waits past its reply window ends it; the
    // device's answer to the key that comes after is never taken for a learnt key. Leaving
    // learning mode takes the prompt down.
    void keyLearningGivesWay()
    {
        Rig rig([](const QString &f) {
            return f == QLatin1String("0001F2") ? QByteArray("\xF2", 1) : QByteArray();
        });
        QSignalSpy learnt(&rig.engine, &DeviceEngine::keyLearnt);
        QSignalSpy prompt(&rig.engine, &DeviceEngine::learnPromptChanged);
        QSignalSpy confirmed(&rig.engine, &DeviceEngine::learningModeConfirmed);
        rig.engine.learnKey(dev, 2);
        // Within the reply window: refused, nothing sent.
        QVERIFY(!rig.engine.switchLearningMode(dev, false));
        QVERIFY(until([&] { return !rig.engine.isBusy(); }));
        QVERIFY(rig.engine.switchLearningMode(dev, false));
        QVERIFY(rig.waitFinished(3));
        QCOMPARE(rig.outcomes(),
                 (QList<Outcome>{Outcome::Busy, Outcome::Cancelled, Outcome::Done}));
        QCOMPARE(prompt.constLast().at(0).toBool(), false);
        rig.link->arrive(ack);
        QCOMPARE(learnt.size(), 0);
        QCOMPARE(confirmed.size(), 1);
        QCOMPARE(rig.link->written, frames("000142 0001F2"));
    }

    // Every operation starts with no reply outstanding. A late answer that comes while nothing
    // runs still counts (a learning result once, a late echo confirms nothing); one that comes
    // during the next operation is only logged, never taken as that operation's reply.
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

        rig.engine.switchLearningMode(dev, false);
        QVERIFY(rig.waitFinished());
        rig.link->arrive(QByteArray("\xF2", 1));
        QVERIFY(rig.log.contains(u"收到参数：F2"_s));
        QVERIFY(confirmed.isEmpty());

        // Learnt after the learning window, with nothing else running: counted once.
        rig.engine.learnKey(dev, 0);
        QVERIFY(rig.waitFinished(2));
        rig.link->arrive(ack);
        rig.link->arrive(ack);
        QCOMPARE(learnt.size(), 1);
        QCOMPARE(rig.told(), QStringList{messages::learnt});

        // A key learning given up on; then a read, whose select frame the device answers with
        // 00: no learning result in the middle of the read's opening.
        rig.engine.learnKey(dev, 2);
        QVERIFY(rig.waitFinished(3));
        answerSelect = true;
        QVERIFY(rig.engine.readTable(dev));
        QVERIFY(rig.waitFinished(4));
        const Outcome late = Outcome::TimedOut;
        QCOMPARE(rig.outcomes(), (QList<Outcome>{late, late, late, Outcome::Done}));
        QCOMPARE(learnt.size(), 1);
        QCOMPARE(rig.messages.size(), 1);
        QVERIFY(rig.log.contains(u"忽略迟到的应答：00"_s));
        QCOMPARE(rig.log.count(u"获取第1条记录。"_s), 1);
    }

    // The table is handed over as the extra request after record 16 goes out, a pacing interval
    // after the record; from then on the controls are free. Its answer is only logged, and another
    // operation may take over: asked for as the table is handed over, the extra request is not
    // sent; while an answer to it is coming in, it is refused with nothing sent.
    void readsTail_data()
    {
        QTest::addColumn<int>("then"); // 0: nothing; 1: a key as the table comes; 2: mid-answer
        QTest::newRow("nothing else") << 0;
        QTest::newRow("key as the table comes") << 1;
        QTest::newRow("key while an answer comes in") << 2;
    }
    void readsTail()
    {
        QFETCH(int, then);
        // The extra request's answer comes when the test puts it on the line: no window may close
        // before.
        Rig rig({}, {6000, 7000, 2, 5, 120, 8000});
        bool freeAtTable = false, keyTaken = false;
        int writtenAtTable = 0;
        QObject::connect(&rig.engine, &DeviceEngine::tableRead, [&] {
            if (writtenAtTable > 0)
                return; // the long answer to the extra request repeats the completion
            freeAtTable = !rig.engine.isBusy();
            writtenAtTable = int(rig.link->written.size());
            if (then == 1)
                keyTaken = rig.engine.sendKey(dev, 0);
        });
        rig.engine.readTable(dev);
        if (then != 1) {
            QVERIFY(until([&] { return rig.link->written.size() == 2 + tableRecords + 1; }));
            rig.link->arrive(QByteArray(100, 'r'));
            if (then == 2) {
                QVERIFY(!rig.engine.sendKey(dev, 0));
                QCOMPARE(rig.result().outcome, Outcome::Busy);
            }
            rig.link->arrive(QByteArray(157, 'r'));
        }
        QVERIFY(rig.waitFinished(then == 2 ? 2 : 1));
        QVERIFY(freeAtTable);
        QCOMPARE(writtenAtTable, 2 + tableRecords);
        const OperationResult read = rig.result(then == 2 ? 1 : 0);
        QCOMPARE(read.kind, OperationKind::ReadTable);
        QCOMPARE(read.outcome, Outcome::Done);
        QCOMPARE(read.table[15], QString::fromLatin1(record(16).toHex()).toUpper());
        if (then == 1) {
            QVERIFY(keyTaken);
            QVERIFY(rig.waitFinished(2));
            QCOMPARE(rig.result().outcome, Outcome::Done);
            QCOMPARE(rig.link->written.constLast(), u"000140"_s);
            QCOMPARE(rig.link->written.count(u"00"_s), tableRecords - 1);
        } else {
            // (That the extra request follows the last record by the pacing interval: the
            // transfers' pauses.)
            QCOMPARE(rig.link->written.size(), 2 + tableRecords + 1);
            QVERIFY(rig.log.contains(u"收到字符数:257"_s));
        }
    }

    // The transfers' pauses, each where it belongs: the opening pause after the select frame and
    // after "40", the pacing interval between a reply and the next request. Each row makes one of
    // them the longer, so that either used in the other's place shows. Nothing comes between the
    // frames: another operation asked for between two records is refused with nothing sent.
    void transfersPause_data()
    {
        QTest::addColumn<bool>("download");
        QTest::addColumn<int>("openingMs");
        QTest::addColumn<int>("pacingMs");
        QTest::newRow("read, the opening longer") << false << 11 << 2;
        QTest::newRow("read, the pacing longer") << false << 3 << 9;
        // The opening is the same code for both transfers.
        QTest::newRow("download, the pacing longer") << true << 4 << 10;
    }
    void transfersPause()
    {
        QFETCH(bool, download);
        QFETCH(int, openingMs);
        QFETCH(int, pacingMs);
        Rig rig({}, {60, 80, openingMs, pacingMs, 800, 3000});
        QList<bool> taken;
        QObject::connect(&rig.engine, &DeviceEngine::progress, [&](int done) {
            if (done == 3)
                QTimer::singleShot(0, &rig.engine, [&] {
                    const qsizetype before = rig.link->written.size();
                    taken << rig.engine.isBusy() << rig.engine.sendKey(dev, 0)
                          << rig.engine.readTable(dev) << rig.engine.switchLearningMode(dev, true)
                          << (rig.link->written.size() == before);
                });
        });
        download ? rig.engine.downloadTable(dev, recordsTable()) : rig.engine.readTable(dev);
        QVERIFY(rig.waitFinished(4));
        const Outcome busy = Outcome::Busy;
        QCOMPARE(rig.outcomes(), (QList<Outcome>{busy, busy, busy, Outcome::Done}));
        // Busy between two records; none taken, nothing sent.
        QCOMPARE(taken, (QList<bool>{true, false, false, false, true}));
        const QList<qint64> &at = rig.link->writtenAtMs;
        // A read's last frame is the extra request, a download's its last record.
        QCOMPARE(at.size(), 3 + tableRecords);
        for (int i = 1; i < at.size(); ++i) {
            const qint64 gap = at.at(i) - at.at(i - 1);
            const int least = i <= 2 ? openingMs : pacingMs;
            QVERIFY2(gap >= least, qPrintable(u"frame %1: %2 ms"_s.arg(i).arg(gap)));
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
        QCOMPARE(rig.result().quiet, outcome == Outcome::Done);
        QCOMPARE(rig.messages.size(), outcome == Outcome::Done ? 0 : 1);
        QCOMPARE(rig.link->written, frames(number ? "FD0002" : "000140"));
        QCOMPARE(rig.link->discarded, QList<QByteArray>{waiting});
    }

    // A read stops at the record that is not one, or that a device pulled out will never send,
    // says which and why, hands over no table and asks nothing more of the device.
    void readGivesUp_data()
    {
        QTest::addColumn<bool>("unplug"); // in the pause before request `at`
        QTest::addColumn<int>("at");
        QTest::addColumn<QByteArray>("instead"); // the answer to request `at`; empty: silence
        QTest::addColumn<QByteArray>("after");   // bytes right behind it
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("detail");
        const QString length = u"第%1条记录长度为%2字节，应为257字节，读取中止。"_s;
        QTest::newRow("no record at all")
            << false << 1 << QByteArray() << QByteArray() << Outcome::TimedOut
            << u"读取第1条记录时设备无应答，读取中止。请检查设备号和连线。"_s;
        QTest::newRow("258 bytes") << false << 1 << QByteArray(258, 'x') << QByteArray()
                                   << Outcome::Refused << length.arg(1).arg(258);
        QTest::newRow("16th of 129 bytes") << false << 16 << QByteArray(129, 'x') << QByteArray()
                                           << Outcome::TimedOut << length.arg(16).arg(129);
        // Bytes after record 16 was taken, before the pacing is over: caught before the next
        // request.
        QTest::newRow("16th goes on") << false << 16 << record(16) << QByteArray(43, 'x')
                                      << Outcome::Refused << length.arg(16).arg(300);
        QTest::newRow("pulled out after the 4th")
            << true << 5 << QByteArray() << QByteArray() << Outcome::PortLost
            << u"读取第5条记录时与设备的连接中断，读取中止。"_s;
    }
    void readGivesUp()
    {
        QFETCH(bool, unplug);
        QFETCH(int, at);
        QFETCH(QByteArray, instead);
        QFETCH(QByteArray, after);
        QFETCH(Outcome, outcome);
        QFETCH(QString, detail);
        Rig rig;
        rig.link->responder = [&](const QString &f) {
            QByteArray a = rig.device.answer(f);
            if (rig.device.served == at && (f == u"50"_s || f == u"00"_s)) {
                rig.link->trailing = after;
                a = instead;
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
        rig.engine.readTable(dev);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, outcome);
        QCOMPARE(rig.result().detail, detail);
        QCOMPARE(rig.result().record, at);
        QCOMPARE(rig.told(), QStringList{detail});
        QCOMPARE(rig.log.constLast(), detail);
        QCOMPARE(read.size(), 0);
        QCOMPARE(rig.link->written.size(), 2 + at - (unplug ? 1 : 0));
    }

    // A download gets over a refused record and a request to start over, and gives up on too many
    // of either, on an answer it does not know and on silence.
    void downloadAnswers_data()
    {
        QTest::addColumn<QByteArray>("answers"); // per record sent, in order; then 00 for ever
        QTest::addColumn<QList<int>>("order");   // the records sent, by number
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("detail");
        QList<int> all(tableRecords);
        std::iota(all.begin(), all.end(), 1);
        QTest::newRow("refused once, then start over")
            << QByteArray("\0\0\0\xF5\0\0\0\xDD", 8) << QList<int>{1, 2, 3, 4, 4, 5, 6, 7} + all
            << Outcome::Done << QString();
        // Record 1's refusal does not count towards record 2's ten (the cap itself: tst_faults).
        QTest::newRow("refused 10 times")
            << QByteArray("\xF5\0\xF5\xF5\xF5\xF5\xF5\xF5\xF5\xF5\xF5\xF5", 12)
            << QList<int>{1, 1} + QList<int>(10, 2) << Outcome::Refused
            << u"第2条记录被设备拒绝10次，下载中止。"_s;
        QTest::newRow("3 restarts")
            << QByteArray("\0\xDD\0\xDD\0\xDD", 6) << QList<int>{1, 2, 1, 2, 1, 2}
            << Outcome::Refused << u"设备在第2条记录处第3次要求重新开始，下载中止。"_s;
        QTest::newRow("unexpected") << QByteArray("\0\x07", 2) << QList<int>{1, 2}
                                    << Outcome::Refused << u"第2条记录收到意外应答07，下载中止。"_s;
        QTest::newRow("silence") << QByteArray("\0\0\0\0\0S", 6) << QList<int>{1, 2, 3, 4, 5, 6}
                                 << Outcome::TimedOut
                                 << u"第6条记录发送后设备无应答，下载中止。请检查设备号和连线。"_s;
    }
    void downloadAnswers()
    {
        QFETCH(QByteArray, answers);
        QFETCH(QList<int>, order);
        QFETCH(Outcome, outcome);
        QFETCH(QString, detail);
        QList<int> sent;
        Rig rig;
        rig.link->responder = [&](const QString &f) -> QByteArray {
            if (f.size() != 2 * recordBytes)
                return rig.device.answer(f);
            const char a = sent.size() < answers.size() ? answers.at(sent.size()) : '\0';
            sent << int(QByteArray::fromHex(f.left(2).toLatin1()).at(0));
            return a == 'S' ? QByteArray() : QByteArray(1, a);
        };
        rig.engine.downloadTable(dev, recordsTable());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, outcome);
        QCOMPARE(rig.result().detail, detail);
        QCOMPARE(rig.told(), detail.isEmpty() ? QStringList() : QStringList{detail});
        QCOMPARE(sent, order);
        QCOMPARE(rig.log.contains(u"下载记录完成！"_s), outcome == Outcome::Done);
    }

    // A verified download says when its read-back begins; a read-back that fails leaves the
    // download complete and says so, one that differs names the record. The wait notice comes
    // down when a transfer ends, whatever the end.
    void verifiedDownload_data()
    {
        QTest::addColumn<int>("readable"); // records the read-back gets
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("detail");
        QTest::newRow("read-back fails")
            << 5 << Outcome::VerifyFailed
            << QStringLiteral("下载完成，校验失败：读取第6条记录时设备无应答，读取中止。"
                              "请检查设备号和连线。");
        QTest::newRow("5th stored wrongly")
            << tableRecords << Outcome::Mismatch << u"校验失败：第5条记录与文件不一致。"_s;
    }
    void verifiedDownload()
    {
        QFETCH(int, readable);
        QFETCH(Outcome, outcome);
        QFETCH(QString, detail);
        // The notice's own time-out stays out of the way: it is the end that takes it down.
        Rig rig({}, {60, 80, 2, 5, 120, 9000});
        rig.link->responder = [&](const QString &f) -> QByteArray {
            QByteArray a = rig.device.answer(f);
            if (a.size() == recordBytes && rig.device.served == 5)
                a[100] = 'x';
            return rig.device.served > readable ? QByteArray() : a;
        };
        QList<QPair<Phase, int>> phases; // with the frames written by then
        QObject::connect(&rig.engine, &DeviceEngine::phaseChanged, [&](Phase phase) {
            phases << qMakePair(phase, int(rig.link->written.size()));
        });
        QByteArray events;
        QObject::connect(&rig.engine, &DeviceEngine::noticeHidden, [&] { events += "hidden "; });
        QObject::connect(&rig.engine, &DeviceEngine::finished, [&] { events += "finished"; });
        rig.engine.downloadTable(dev, recordsTable(), true);
        QVERIFY(rig.waitFinished());
        const OperationResult result = rig.result();
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.detail, detail);
        QCOMPARE(result.record, outcome == Outcome::Mismatch ? 0 : 6);
        QCOMPARE(result.differing, outcome == Outcome::Mismatch ? QList<int>{5} : QList<int>());
        QVERIFY(rig.log.contains(u"下载记录完成！"_s));
        QCOMPARE(phases, (QList<QPair<Phase, int>>{{Phase::Writing, 0},
                                                   {Phase::ReadingBack, 3 + tableRecords}}));
        QCOMPARE(events, QByteArray("hidden finished"));
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
