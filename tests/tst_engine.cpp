// The engine's state machines on a scripted line, for what the simulated device cannot stage:
// numbered learning around the operator's box with answers at chosen moments, late and repeated
// answers, bytes that trail a record, and every way a download gives up.
#include "engine/deviceengine.h"
#include "support/fakelink.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace irlearn;

namespace {

// Each its own value, so that a timing used in another's place shows.
const Timings fast{60, 80, 2, 5, 120, 400};

const QString dev = QStringLiteral("0001");

CodeTable recordsTable()
{
    CodeTable table;
    for (int i = 0; i < tableRecords; ++i)
        table[std::size_t(i)] = QString::fromLatin1(QByteArray(257, char(i + 1)).toHex());
    return table;
}

QByteArray record(int n)
{
    return QByteArray(257, char(n));
}

// Echoes learning mode on and off; everything else goes to the test's own answers.
QByteArray echo(const QString &frame)
{
    return frame.endsWith(QLatin1String("F0")) || frame.endsWith(QLatin1String("F2"))
               ? QByteArray::fromHex(frame.right(2).toLatin1())
               : QByteArray();
}

struct Rig
{
    FakeLink *link;
    DeviceEngine engine;
    QSignalSpy finished{&engine, &DeviceEngine::finished};
    QSignalSpy messages{&engine, &DeviceEngine::message};
    QStringList log;

    explicit Rig(FakeLink::Responder responder, const Timings &timings = fast)
        : link(new FakeLink), engine(link, timings)
    {
        link->responder = std::move(responder);
        openAndWait(engine, QStringLiteral("fake"));
        QObject::connect(&engine, &DeviceEngine::logLine, [this](const QString &l) { log << l; });
    }
    OperationResult result() const { return finished.constLast().at(0).value<OperationResult>(); }
    bool waitFinished(int count = 1)
    {
        return QTest::qWaitFor([&] { return finished.size() >= count; }, 5000);
    }
};

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    // The learning window runs in full after the success box is closed, and after a refusal
    // that came at once; a refusal during the window ends it at once. Learning mode goes off
    // either way.
    void numberedLearning_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("learnt") << QByteArray(1, '\0') << 0 << Outcome::Done;
        QTest::newRow("refused at once") << QByteArray("\x01", 1) << 0 << Outcome::Refused;
        QTest::newRow("refused in the window")
            << QByteArray("\x01", 1) << fast.replyWindowMs + 10 << Outcome::Refused;
    }
    void numberedLearning()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, afterMs);
        QFETCH(Outcome, outcome);
        FakeLink *link = nullptr;
        Rig rig([&](const QString &f) {
            if (f == QLatin1String("0001AB"))
                link->deliver(answer, afterMs);
            return echo(f);
        });
        link = rig.link;
        QSignalSpy countdown(&rig.engine, &DeviceEngine::learningCountdown);
        QSignalSpy prompt(&rig.engine, &DeviceEngine::learnPromptChanged);
        QElapsedTimer clock;
        clock.start();
        rig.engine.learnCommand(QStringLiteral("0001"), 108);
        if (outcome == Outcome::Done) {
            QTRY_COMPARE(rig.messages.size(), 1);
            QTest::qWait(fast.learningWindowMs * 2); // the box stays open: nothing happens
            QCOMPARE(rig.link->written.size(), 2);
            clock.restart();
            rig.engine.messageClosed();
        }
        QVERIFY(rig.waitFinished());
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(rig.result().outcome, outcome);
        QCOMPARE(rig.link->written, (QStringList{QStringLiteral("0001F0"), QStringLiteral("0001AB"),
                                                 QStringLiteral("0001F2")}));
        QCOMPARE(rig.messages.size(), outcome == Outcome::Done ? 1 : 0);
        if (afterMs > 0)
            QVERIFY2(elapsed < fast.replyWindowMs + fast.learningWindowMs,
                     qPrintable(QString::number(elapsed)));
        else
            QVERIFY2(elapsed >= fast.learningWindowMs, qPrintable(QString::number(elapsed)));
        QCOMPARE(countdown.constLast().at(0).toInt(), 0);
        QCOMPARE(prompt.constFirst().at(0).toBool(), true);
        QCOMPARE(prompt.constLast().at(0).toBool(), false);
    }

    // Every operation starts with no reply outstanding. A late answer that comes while nothing
    // runs still counts (a learning result once, a late echo confirms nothing); one that comes
    // during the next operation is only logged, never taken as that operation's reply.
    void staleAnswers()
    {
        bool answerSelect = false;
        int records = 0;
        Rig rig([&](const QString &f) -> QByteArray {
            if (f == QLatin1String("0001ED") && answerSelect)
                return QByteArray(1, '\0');
            if (f == QLatin1String("50") || f == QLatin1String("00"))
                return ++records <= tableRecords ? record(records) : QByteArray();
            return {};
        });
        QSignalSpy confirmed(&rig.engine, &DeviceEngine::learningModeConfirmed);
        QSignalSpy learnt(&rig.engine, &DeviceEngine::keyLearnt);

        rig.engine.switchLearningMode(dev, false);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, Outcome::TimedOut);
        rig.link->deliver(QByteArray("\xF2", 1));
        QTRY_VERIFY(rig.log.contains(QStringLiteral("收到参数：F2")));
        QVERIFY(confirmed.isEmpty());

        // Learnt after the learning window, with nothing else running: counted once.
        rig.engine.learnKey(dev, 0);
        QVERIFY(rig.waitFinished(2));
        QCOMPARE(rig.result().outcome, Outcome::TimedOut);
        rig.link->deliver(QByteArray(1, '\0'));
        QTRY_COMPARE(learnt.size(), 1);
        rig.link->deliver(QByteArray(1, '\0'));
        QTest::qWait(20);
        QCOMPARE(learnt.size(), 1);
        QCOMPARE(rig.messages.size(), 1);
        QCOMPARE(rig.messages.at(0).at(0).toString(), QStringLiteral("指令学习成功！"));

        // A key learning given up on; then a read, whose select frame the device answers with
        // 00: no learning result in the middle of the read's opening.
        rig.engine.learnKey(dev, 2);
        QVERIFY(rig.waitFinished(3));
        answerSelect = true;
        QVERIFY(rig.engine.readTable(dev));
        QVERIFY(rig.waitFinished(4));
        QCOMPARE(rig.result().outcome, Outcome::Done);
        QCOMPARE(learnt.size(), 1);
        QCOMPARE(rig.messages.size(), 1);
        QVERIFY(rig.log.contains(QStringLiteral("忽略迟到的应答：00")));
        QCOMPARE(rig.log.count(QStringLiteral("获取第1条记录。")), 1);
    }

    // The learning of a key is one operation: the key's frame, then the learning window, counted
    // down, with the prompt naming the key; the answer ends it whenever it comes in the window.
    // Past the frame's reply window it gives way to any other operation.
    void keyLearning_data()
    {
        QTest::addColumn<QByteArray>("answer"); // empty: none
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("learnt at once") << QByteArray(1, '\0') << 0 << Outcome::Done;
        QTest::newRow("learnt in the window")
            << QByteArray(1, '\0') << fast.replyWindowMs + 20 << Outcome::Done;
        QTest::newRow("refused in the window")
            << QByteArray("\x01", 1) << fast.replyWindowMs + 20 << Outcome::Refused;
        QTest::newRow("silent") << QByteArray() << 0 << Outcome::TimedOut;
    }
    void keyLearning()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, afterMs);
        QFETCH(Outcome, outcome);
        FakeLink *link = nullptr;
        Rig rig([&](const QString &f) {
            if (f == QLatin1String("000142"))
                link->deliver(answer, afterMs);
            return QByteArray();
        });
        link = rig.link;
        QSignalSpy countdown(&rig.engine, &DeviceEngine::learningCountdown);
        QSignalSpy keyPrompt(&rig.engine, &DeviceEngine::keyPrompt);
        QSignalSpy prompt(&rig.engine, &DeviceEngine::learnPromptChanged);
        QSignalSpy learnt(&rig.engine, &DeviceEngine::keyLearnt);
        QByteArray events;
        QObject::connect(&rig.engine, &DeviceEngine::busyChanged, [&](bool busy) {
            events += busy ? "busy " : rig.engine.isRunning() ? "free-running " : "free ";
        });
        QObject::connect(&rig.engine, &DeviceEngine::finished, [&] { events += "finished"; });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(rig.engine.learnKey(dev, 2));
        QVERIFY(rig.waitFinished());
        // Waiting past the reply window leaves the controls free.
        QCOMPARE(events, QByteArray(afterMs > 0 || answer.isEmpty() ? "busy free-running finished"
                                                                    : "busy free finished"));
        QCOMPARE(rig.result().kind, OperationKind::LearnKey);
        QCOMPARE(rig.result().outcome, outcome);
        QCOMPARE(learnt.size(), outcome == Outcome::Done ? 1 : 0);
        if (answer.isEmpty())
            QVERIFY2(clock.elapsed() >= fast.learningWindowMs,
                     qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(rig.link->written, QStringList{QStringLiteral("000142")});
        QCOMPARE(keyPrompt.size(), 1);
        QCOMPARE(keyPrompt.at(0).at(0).toInt(), 2);
        QCOMPARE(prompt.constFirst().at(0).toBool(), true);
        // The prompt stays while the device may still answer.
        QCOMPARE(prompt.constLast().at(0).toBool(), !answer.isEmpty() ? false : true);
        QCOMPARE(countdown.constFirst().at(0).toInt(), 1);
        QCOMPARE(countdown.constLast().at(0).toInt(), 0);
    }

    // Another operation asked for while a key's learning waits past its reply window ends it; the
    // device's answer then comes during that operation and is not taken for its reply. Leaving
    // learning mode takes the prompt down.
    void keyLearningGivesWay()
    {
        FakeLink *link = nullptr;
        Rig rig([&](const QString &f) {
            if (f == QLatin1String("000142"))
                link->deliver(QByteArray(1, '\0'), fast.replyWindowMs + 40);
            return echo(f);
        });
        link = rig.link;
        QSignalSpy learnt(&rig.engine, &DeviceEngine::keyLearnt);
        QSignalSpy prompt(&rig.engine, &DeviceEngine::learnPromptChanged);
        QSignalSpy confirmed(&rig.engine, &DeviceEngine::learningModeConfirmed);
        QSignalSpy busy(&rig.engine, &DeviceEngine::busyChanged);
        rig.engine.learnKey(dev, 2);
        // Within the reply window: refused, nothing sent.
        QVERIFY(!rig.engine.switchLearningMode(dev, false));
        QCOMPARE(rig.result().outcome, Outcome::Busy);
        QVERIFY(busy.wait(1000));
        QCOMPARE(busy.constLast().at(0).toBool(), false);
        QVERIFY(rig.engine.switchLearningMode(dev, false));
        QVERIFY(rig.waitFinished(3));
        QCOMPARE(rig.finished.at(1).at(0).value<OperationResult>().outcome, Outcome::Cancelled);
        QCOMPARE(rig.result().outcome, Outcome::Done);
        QCOMPARE(prompt.constLast().at(0).toBool(), false);
        QTest::qWait(fast.replyWindowMs);
        QCOMPARE(learnt.size(), 0);
        QCOMPARE(confirmed.size(), 1);
        QCOMPARE(rig.link->written,
                 (QStringList{QStringLiteral("000142"), QStringLiteral("0001F2")}));
    }

    // The table is handed over as the extra request after record 16 goes out, a pacing interval
    // after the record; from then on the controls are free. Its answer is only logged, and another
    // operation may take over: asked for as the table is handed over, the extra request is not
    // sent; while an answer to it is coming in, it is refused with nothing sent.
    void readsTail_data()
    {
        QTest::addColumn<int>(
            "then"); // 0: nothing; 1: a key as the table comes; 2: a key mid-answer
        QTest::newRow("nothing else") << 0;
        QTest::newRow("key as the table comes") << 1;
        QTest::newRow("key while an answer comes in") << 2;
    }
    void readsTail()
    {
        QFETCH(int, then);
        FakeLink *link = nullptr;
        int records = 0;
        Rig rig([&](const QString &f) -> QByteArray {
            if (f != QLatin1String("50") && f != QLatin1String("00"))
                return f == QLatin1String("000140") ? QByteArray(1, '\0') : QByteArray();
            if (++records <= tableRecords)
                return record(records);
            // The extra request: half a record now, the rest later.
            link->deliver(QByteArray(157, 'r'), 40);
            return QByteArray(100, 'r');
        });
        link = rig.link;
        bool freeAtTable = false;
        bool keyTaken = false;
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
        if (then == 2) {
            QTRY_COMPARE(rig.link->written.size(), 2 + tableRecords + 1);
            QTest::qWait(10);
            QVERIFY(!rig.engine.sendKey(dev, 0));
            QCOMPARE(rig.result().outcome, Outcome::Busy);
        }
        QVERIFY(rig.waitFinished(then == 2 ? 2 : 1));
        QVERIFY(freeAtTable);
        QCOMPARE(writtenAtTable, 2 + tableRecords);
        const OperationResult read =
            rig.finished.at(then == 2 ? 1 : 0).at(0).value<OperationResult>();
        QCOMPARE(read.kind, OperationKind::ReadTable);
        QCOMPARE(read.outcome, Outcome::Done);
        QCOMPARE(read.table[15], QString::fromLatin1(record(16).toHex()).toUpper());
        const int sent = int(rig.link->written.size());
        if (then == 1) {
            QVERIFY(keyTaken);
            QVERIFY(rig.waitFinished(2));
            QCOMPARE(rig.result().outcome, Outcome::Done);
            QCOMPARE(rig.result().detail, QStringLiteral("设备应答 00"));
            QCOMPARE(rig.link->written.constLast(), QStringLiteral("000140"));
            QCOMPARE(rig.link->written.count(QStringLiteral("00")), tableRecords - 1);
        } else {
            QCOMPARE(sent, 2 + tableRecords + 1);
            QVERIFY2(rig.link->writtenAtMs.at(sent - 1) - rig.link->writtenAtMs.at(sent - 2) >=
                         fast.pacingMs,
                     "the extra request follows the last record by the pacing interval");
            QVERIFY(rig.log.contains(QStringLiteral("收到字符数:257")));
        }
    }

    // The transfers' pauses, each where it belongs: the opening pause after the select frame and
    // after "40", the pacing interval between a reply and the next request. A reply window that
    // ends before the pacing does is a fault of its own, so the timings here are apart.
    void pauses_data()
    {
        QTest::addColumn<bool>("download");
        QTest::newRow("read") << false;
        QTest::newRow("download") << true;
    }
    void pauses()
    {
        QFETCH(bool, download);
        const Timings apart{400, 500, 4, 40, 800, 3000};
        int records = 0;
        Rig rig(
            [&](const QString &f) -> QByteArray {
                if (f == QLatin1String("50"))
                    return download ? QByteArray("\xDD", 1) : record(++records);
                if (!download && f == QLatin1String("00") && records < tableRecords)
                    return record(++records);
                return download && f.size() == 514 ? QByteArray(1, '\0') : QByteArray();
            },
            apart);
        if (download)
            rig.engine.downloadTable(dev, recordsTable());
        else
            rig.engine.readTable(dev);
        QTRY_VERIFY_WITH_TIMEOUT(rig.link->written.size() >= 2 + tableRecords, 5000);
        const QList<qint64> &at = rig.link->writtenAtMs;
        for (int i : {1, 2}) {
            const qint64 gap = at.at(i) - at.at(i - 1);
            QVERIFY2(gap >= apart.openingPauseMs && gap < apart.pacingMs,
                     qPrintable(QStringLiteral("opening pause %1: %2 ms").arg(i).arg(gap)));
        }
        for (int i = 3; i < 2 + tableRecords; ++i) {
            const qint64 gap = at.at(i) - at.at(i - 1);
            QVERIFY2(gap >= apart.pacingMs,
                     qPrintable(QStringLiteral("pacing before frame %1: %2 ms").arg(i).arg(gap)));
        }
        rig.engine.close();
    }

    // Nothing comes between the frames of a transfer: another operation asked for in a pacing
    // gap is refused, and nothing is sent for it.
    void busyBetweenRecords_data()
    {
        QTest::addColumn<bool>("download");
        QTest::newRow("read") << false;
        QTest::newRow("download") << true;
    }
    void busyBetweenRecords()
    {
        QFETCH(bool, download);
        const Timings slowPacing{400, 500, 2, 60, 800, 3000};
        int records = 0;
        Rig rig(
            [&](const QString &f) -> QByteArray {
                if (f == QLatin1String("50"))
                    return download ? QByteArray("\xDD", 1) : record(++records);
                if (!download && f == QLatin1String("00") && records < tableRecords)
                    return record(++records);
                return download && f.size() == 514 ? QByteArray(1, '\0') : QByteArray();
            },
            slowPacing);
        QList<bool> taken;
        int writtenBefore = 0;
        int writtenAfter = 0;
        QObject::connect(&rig.engine, &DeviceEngine::progress, [&](int done) {
            if (done != 3)
                return;
            // Halfway through the pacing gap after record 3.
            QTimer::singleShot(slowPacing.pacingMs / 2, [&] {
                writtenBefore = int(rig.link->written.size());
                QVERIFY(rig.engine.isBusy());
                taken << rig.engine.sendKey(dev, 0) << rig.engine.readTable(dev)
                      << rig.engine.switchLearningMode(dev, true);
                writtenAfter = int(rig.link->written.size());
            });
        });
        if (download)
            rig.engine.downloadTable(dev, recordsTable());
        else
            rig.engine.readTable(dev);
        QTRY_COMPARE(taken.size(), 3);
        QCOMPARE(taken, (QList<bool>{false, false, false}));
        QCOMPARE(writtenAfter, writtenBefore);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(rig.finished.at(i).at(0).value<OperationResult>().outcome, Outcome::Busy);
        rig.engine.close();
    }

    // Before each frame, what waits to be read is discarded, down to the driver's buffer: a late
    // byte on the line is not the next frame's answer.
    void lateByteIsDiscarded()
    {
        Rig rig([](const QString &f) -> QByteArray {
            return f == QLatin1String("000140") ? QByteArray(1, '\0') : echo(f);
        });
        rig.link->waiting = QByteArray("\x07", 1);
        rig.engine.switchLearningMode(dev, true);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, Outcome::Done);
        rig.link->waiting = QByteArray("\xF5", 1);
        rig.engine.sendKey(dev, 0);
        QVERIFY(rig.waitFinished(2));
        QCOMPARE(rig.result().outcome, Outcome::Done);
        QCOMPARE(rig.link->discarded,
                 (QList<QByteArray>{QByteArray("\x07", 1), QByteArray("\xF5", 1)}));
    }

    // A key sent outside learning mode and a new device number say what the device answered; an
    // answer that cannot be one (more bytes, or the refusal F5) fails them. One frame each way.
    void answersSaid_data()
    {
        QTest::addColumn<bool>("number");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("after"); // bytes 5 ms after the answer
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("detail");
        QTest::newRow("key 00") << false << QByteArray(1, '\0') << QByteArray() << Outcome::Done
                                << QStringLiteral("设备应答 00");
        QTest::newRow("number 3C") << true << QByteArray("\x3C", 1) << QByteArray() << Outcome::Done
                                   << QStringLiteral("设备应答 3C");
        QTest::newRow("key F5") << false << QByteArray("\xF5", 1) << QByteArray()
                                << Outcome::Refused << QStringLiteral("设备应答 F5");
        QTest::newRow("number, two bytes at once")
            << true << QByteArray("\x00\x01", 2) << QByteArray() << Outcome::Refused
            << QStringLiteral("设备应答 0001");
        QTest::newRow("key, a flood")
            << false << QByteArray(1, '\0') << QByteArray(3, 'x') << Outcome::Refused
            << QStringLiteral("设备应答 00，其后又有3字节");
    }
    void answersSaid()
    {
        QFETCH(bool, number);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, after);
        QFETCH(Outcome, outcome);
        QFETCH(QString, detail);
        FakeLink *link = nullptr;
        Rig rig([&](const QString &) {
            link->deliver(after, 5);
            return answer;
        });
        link = rig.link;
        if (number)
            rig.engine.setDeviceNumber(QStringLiteral("0002"));
        else
            rig.engine.sendKey(dev, 0);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, outcome);
        QCOMPARE(rig.result().detail, detail);
        // Told as a failure; said in passing (the log has the reply already) when done.
        QCOMPARE(rig.result().quiet, outcome == Outcome::Done);
        QCOMPARE(rig.messages.size(), outcome == Outcome::Done ? 0 : 1);
        QCOMPARE(rig.link->written,
                 QStringList{number ? QStringLiteral("FD0002") : QStringLiteral("000140")});
    }

    // Once learning mode on has gone out, learning mode off follows, whatever the device
    // answered to it.
    void numberedLearningLeavesLearningMode_data()
    {
        QTest::addColumn<QByteArray>("echo"); // the answer to F0; empty: none
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("wrong echo") << QByteArray("\xF1", 1) << Outcome::Refused;
        QTest::newRow("no echo") << QByteArray() << Outcome::TimedOut;
    }
    void numberedLearningLeavesLearningMode()
    {
        QFETCH(QByteArray, echo);
        QFETCH(Outcome, outcome);
        Rig rig([&](const QString &f) {
            return f == QLatin1String("0001F0") ? echo : QByteArray("\xF2", 1);
        });
        rig.engine.learnCommand(dev, 5);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, outcome);
        QCOMPARE(rig.link->written,
                 (QStringList{QStringLiteral("0001F0"), QStringLiteral("0001F2")}));
    }

    // A verified download says when its read-back begins; a read-back that fails leaves the
    // download complete and says so. The wait notice comes down when a transfer ends, whatever
    // the end.
    void verifiedDownload()
    {
        bool readingBack = false;
        int records = 0;
        Rig rig([&](const QString &f) -> QByteArray {
            if (f == QLatin1String("0001ED"))
                readingBack = true;
            if (!readingBack)
                return f == QLatin1String("50") ? QByteArray("\xDD", 1)
                       : f.size() == 514        ? QByteArray(1, '\0')
                                                : QByteArray();
            if (f != QLatin1String("50") && f != QLatin1String("00"))
                return {};
            // Read back: records 1 to 5 as stored, then silence.
            ++records;
            return records <= 5
                       ? QByteArray::fromHex(recordsTable()[std::size_t(records - 1)].toLatin1())
                       : QByteArray();
        });
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
        QCOMPARE(result.outcome, Outcome::VerifyFailed);
        QCOMPARE(result.detail,
                 QStringLiteral("下载完成，校验失败：读取第6条记录时设备无应答，读取中止。"
                                "请检查设备号和连线。"));
        QCOMPARE(result.record, 6);
        QVERIFY(rig.log.contains(QStringLiteral("下载记录完成！")));
        QCOMPARE(phases, (QList<QPair<Phase, int>>{{Phase::Writing, 0},
                                                   {Phase::ReadingBack, 3 + tableRecords}}));
        QCOMPARE(events, QByteArray("hidden finished"));
    }

    void aRecordThatGoesOnIsNotARecord()
    {
        // Bytes after record 16 was taken, before the pacing is over: caught before the next
        // request.
        FakeLink *link = nullptr;
        int records = 0;
        Rig rig([&](const QString &f) {
            if (f != QLatin1String("50") && f != QLatin1String("00"))
                return QByteArray();
            if (++records == 16)
                link->deliver(QByteArray(43, 'x'), 1);
            return record(records);
        });
        link = rig.link;
        rig.engine.readTable(QStringLiteral("0001"));
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, Outcome::Refused);
        QCOMPARE(rig.result().detail,
                 QStringLiteral("第16条记录长度为300字节，应为257字节，读取中止。"));
        QCOMPARE(rig.link->written.count(QStringLiteral("00")), 15); // no extra request
    }

    void downloadGivesUp_data()
    {
        QTest::addColumn<QByteArray>("answers"); // per record sent, in order; then 00 for ever
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<int>("recordsSent");
        // Record 1's refusal does not count towards record 2's ten (the cap itself: tst_faults).
        QTest::newRow("refused 10 times")
            << QByteArray("\xF5\0\xF5\xF5\xF5\xF5\xF5\xF5\xF5\xF5\xF5\xF5", 12) << Outcome::Refused
            << QStringLiteral("第2条记录被设备拒绝10次，下载中止。") << 12;
        QTest::newRow("3 restarts")
            << QByteArray("\0\xDD\0\xDD\0\xDD", 6) << Outcome::Refused
            << QStringLiteral("设备在第2条记录处第3次要求重新开始，下载中止。") << 6;
        QTest::newRow("unexpected") << QByteArray("\0\x07", 2) << Outcome::Refused
                                    << QStringLiteral("第2条记录收到意外应答07，下载中止。") << 2;
        QTest::newRow("silence") << QByteArray("\0\0\0\0\0S", 6) << Outcome::TimedOut
                                 << QStringLiteral(
                                        "第6条记录发送后设备无应答，下载中止。请检查设备号和连线。")
                                 << 6;
    }
    void downloadGivesUp()
    {
        QFETCH(QByteArray, answers);
        QFETCH(Outcome, outcome);
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
        CodeTable table;
        for (int i = 0; i < tableRecords; ++i)
            table[std::size_t(i)] = QString::fromLatin1(record(i + 1).toHex());
        rig.engine.downloadTable(QStringLiteral("0001"), table);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, outcome);
        QCOMPARE(rig.result().detail, detail);
        QCOMPARE(rig.messages.constLast().at(0).toString(), detail);
        QCOMPARE(sent, recordsSent);
        QVERIFY(!rig.log.contains(QStringLiteral("下载记录完成！")));
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
