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

const Timings fast{60, 80, 3, 3, 120, 400};

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
    FakeLink *link = new FakeLink;
    DeviceEngine engine{link, fast};
    QSignalSpy finished{&engine, &DeviceEngine::finished};
    QSignalSpy messages{&engine, &DeviceEngine::message};
    QStringList log;

    explicit Rig(FakeLink::Responder responder)
    {
        link->responder = std::move(responder);
        engine.open(QStringLiteral("fake"));
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

    void lateAnswers()
    {
        Rig rig([](const QString &) { return QByteArray(); });
        QSignalSpy confirmed(&rig.engine, &DeviceEngine::learningModeConfirmed);
        QSignalSpy learnt(&rig.engine, &DeviceEngine::keyLearnt);
        // A late echo is logged, but confirms nothing.
        rig.engine.switchLearningMode(QStringLiteral("0001"), false);
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.result().outcome, Outcome::TimedOut);
        rig.link->deliver(QByteArray("\xF2", 1));
        QTRY_VERIFY(rig.log.contains(QStringLiteral("收到参数：F2")));
        QVERIFY(confirmed.isEmpty());

        // A late learning result still counts, once: a second answer while its box is open is
        // no second result.
        rig.engine.learnKey(QStringLiteral("0001"), 0);
        QVERIFY(rig.waitFinished(2));
        QCOMPARE(rig.result().outcome, Outcome::TimedOut);
        rig.link->deliver(QByteArray(1, '\0'));
        QTRY_COMPARE(learnt.size(), 1);
        rig.link->deliver(QByteArray(1, '\0'));
        QTest::qWait(20);
        QCOMPARE(learnt.size(), 1);
        QCOMPARE(rig.messages.size(), 1);
        QCOMPARE(rig.messages.at(0).at(0).toString(), QStringLiteral("指令学习成功！"));
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
