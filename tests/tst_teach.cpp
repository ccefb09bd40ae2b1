// The guided pass over a device on a scripted line: the frames in their order with learning mode
// switched on and off around them, what became of every key, retries, skips, the tests on the
// unit, and the ways a pass ends early.
#include "engine/deviceengine.h"
#include "engine/teachsession.h"
#include "support/fakelink.h"

#include <QMap>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace irlearn;

namespace {

const Timings fast{60, 80, 3, 3, 120, 400};

// A device that echoes learning mode and answers a learning with 00 unless the script says
// otherwise: "41:01,--" refuses the first learning of code 41 with 01 and ignores the second.
// "F0:--" ignores learning mode on. Outside learning mode every command is answered 00.
struct ScriptedDevice
{
    FakeLink *link = nullptr;
    QMap<QString, QStringList> script;
    QString lostAt; // the code whose frame unplugs the device

    QByteArray answer(const QString &frame)
    {
        const QString code = frame.right(2);
        if (code == lostAt) {
            QTimer::singleShot(0, link, [l = link] {
                l->close();
                emit l->lost();
            });
            return {};
        }
        const bool mode = code == QLatin1String("F0") || code == QLatin1String("F2");
        QString reply = mode ? code : QStringLiteral("00");
        if (!script.value(code).isEmpty())
            reply = script[code].takeFirst();
        return reply == QLatin1String("--") ? QByteArray() : QByteArray::fromHex(reply.toLatin1());
    }
};

// '.' not yet, 'L' learnt, 'F' failed, 'S' skipped; a tested key: 'T' reacted, 'N' no reaction.
QString marks(const QList<TeachItem> &items)
{
    QString s;
    for (const TeachItem &item : items) {
        if (item.reaction != Reaction::Untested)
            s += item.reaction == Reaction::Reacted ? QLatin1Char('T') : QLatin1Char('N');
        else
            s += QLatin1String(".LFS").at(int(item.status));
    }
    return s;
}

QString attempts(const QList<TeachItem> &items)
{
    QString s;
    for (const TeachItem &item : items)
        s += QString::number(item.attempts);
    return s;
}

} // namespace

class TeachTest : public QObject
{
    Q_OBJECT

private slots:
    void wholePass_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<int>("commands"); // numbered commands 11 to 10 + this
        QTest::addColumn<bool>("learningModeOn");
        QTest::addColumn<int>("autoRetries");
        QTest::addColumn<bool>("test");
        QTest::addColumn<QString>("script");
        // The front end's answers, in order: r retry, s skip at a failure; y reacted, n none,
        // x none and learn it again, - no verdict, at a test.
        QTest::addColumn<QString>("decisions");
        QTest::addColumn<QString>("lostAt");
        QTest::addColumn<int>("cancelAt"); // the item whose learning start cancels the pass
        QTest::addColumn<QString>("frames");
        QTest::addColumn<QString>("marks");
        QTest::addColumn<QString>("attempts");
        QTest::addColumn<int>("warnings");
        QTest::addColumn<TeachSession::Ending>("ending");
        // The pass's own switches of learning mode; "?" where the device did not confirm it.
        QTest::addColumn<QString>("switches");

        const QList<int> all = TeachPlan::allKeys();
        using E = TeachSession::Ending;
        QTest::newRow("every key learnt") << all << 0 << false << -1 << false << ""
                                          << ""
                                          << "" << -1 << "F0 40 41 42 43 44 45 46 47 48 49 F2"
                                          << "LLLLLLLLLL"
                                          << "1111111111" << 0 << E::Completed << "on off";
        // A success ends a run of failures; a skip does not.
        QTest::newRow("retry, skip, three failures in a row")
            << all << 0 << false << -1 << false << "41:01;43:--,--;44:01"
            << "rrss"
            << "" << -1 << "F0 40 41 41 42 43 43 44 45 46 47 48 49 F2"
            << "LLLSSLLLLL"
            << "1212111111" << 1 << E::Completed << "on off";
        QTest::newRow("scripted retries")
            << QList<int>{1, 0} << 0 << false << 2 << false << "40:01,01,01;41:--"
            << ""
            << "" << -1 << "F0 40 40 40 41 41 F2"
            << "FL"
            << "32" << 2 << E::Completed << "on off";
        QTest::newRow("learning mode not confirmed")
            << all << 0 << false << -1 << false << "F0:--"
            << ""
            << "" << -1 << "F0 F2"
            << ".........."
            << "0000000000" << 0 << E::NoLearningMode << "on? off";
        QTest::newRow("learning mode on already")
            << QList<int>{9, 7} << 0 << true << -1 << false << ""
            << ""
            << "" << -1 << "47 49 F2"
            << "LL"
            << "11" << 0 << E::Completed << "off";
        QTest::newRow("port lost in the middle") << all << 0 << false << -1 << false << ""
                                                 << ""
                                                 << "43" << -1 << "F0 40 41 42 43"
                                                 << "LLL......."
                                                 << "1111000000" << 0 << E::PortLost << "on";
        QTest::newRow("cancelled in the middle") << all << 0 << false << -1 << false << ""
                                                 << ""
                                                 << "" << 2 << "F0 40 41 42 F2"
                                                 << "LLL......."
                                                 << "1110000000" << 0 << E::Cancelled << "on off";
        QTest::newRow("cancelled at a failure") << all << 0 << false << -1 << false << "41:--"
                                                << ""
                                                << "" << 1 << "F0 40 41 F2"
                                                << "LF........"
                                                << "1100000000" << 0 << E::Cancelled << "on off";
        // Sent outside learning mode; the key without reaction is learnt again and retested
        // before the next.
        QTest::newRow("tests and a key learnt again")
            << QList<int>{0, 1, 2} << 0 << false << -1 << true << ""
            << "yxyn"
            << "" << -1 << "F0 40 41 42 F2 40 41 F0 41 F2 41 42"
            << "TTN"
            << "121" << 0 << E::Completed << "on off on off";
        QTest::newRow("tests without a verdict")
            << QList<int>{0, 1} << 0 << false << -1 << true << ""
            << "--"
            << "" << -1 << "F0 40 41 F2 40 41"
            << "LL"
            << "11" << 0 << E::Completed << "on off";
        // A numbered learning switches learning mode on and off around itself.
        QTest::newRow("numbered commands after the keys")
            << QList<int>{0} << 2 << false << -1 << false << ""
            << ""
            << "" << -1 << "F0 40 F0 4A F2 F0 4B F2"
            << "LLL"
            << "111" << 0 << E::Completed << "on";
    }

    void wholePass()
    {
        QFETCH(QList<int>, keys);
        QFETCH(int, commands);
        QFETCH(bool, learningModeOn);
        QFETCH(int, autoRetries);
        QFETCH(bool, test);
        QFETCH(QString, script);
        QFETCH(QString, decisions);
        QFETCH(QString, lostAt);
        QFETCH(int, cancelAt);

        auto *link = new FakeLink;
        ScriptedDevice device{link, {}, lostAt};
        for (const QString &entry : script.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            device.script[entry.section(QLatin1Char(':'), 0, 0)] =
                entry.section(QLatin1Char(':'), 1).split(QLatin1Char(','));
        link->responder = [&device](const QString &f) {
            return device.answer(f);
        };
        DeviceEngine engine(link, fast);
        openAndWait(engine, QStringLiteral("fake"));
        // Messages are shown in passing, as the command line does.
        connect(&engine, &DeviceEngine::message, &engine, [&engine] {
            QTimer::singleShot(0, &engine, [&engine] { engine.messageClosed(); });
        });

        TeachPlan plan;
        plan.device = QStringLiteral("0001");
        plan.keys = keys;
        plan.firstCommand = commands > 0 ? 11 : 0;
        plan.lastCommand = 10 + commands;
        plan.learningModeOn = learningModeOn;
        plan.autoRetries = autoRetries;
        plan.test = test;
        TeachSession session(engine, plan);
        QSignalSpy warned(&session, &TeachSession::repeatedFailures);
        QSignalSpy finished(&session, &TeachSession::finished);
        QStringList switched;
        connect(&session, &TeachSession::learningModeSwitched, &session,
                [&switched](bool on, bool confirmed) {
                    switched << QLatin1String(on ? "on" : "off") +
                                    QLatin1String(confirmed ? "" : "?");
                });
        QStringList started;
        connect(&session, &TeachSession::itemStarted, &session, [&](int item, int) {
            started << session.items().at(item).name();
            if (item == cancelAt)
                QTimer::singleShot(0, &session, &TeachSession::cancel);
        });

        // The front end answers a moment later, as an operator does.
        QString pending = decisions;
        int relearnNext = -1;
        connect(&session, &TeachSession::phaseChanged, &session, [&](TeachSession::Phase phase) {
            QTimer::singleShot(0, &session, [&, phase] {
                if (session.phase() != phase)
                    return;
                const QChar c = pending.isEmpty() ? QLatin1Char('?') : pending.at(0);
                switch (phase) {
                case TeachSession::Phase::Deciding:
                    pending.remove(0, 1);
                    c == QLatin1Char('r') ? session.retry() : session.skip();
                    break;
                case TeachSession::Phase::TestReady:
                    if (relearnNext >= 0)
                        session.relearn(std::exchange(relearnNext, -1));
                    else
                        session.sendTest();
                    break;
                case TeachSession::Phase::Answering:
                    pending.remove(0, 1);
                    if (c == QLatin1Char('x'))
                        relearnNext = session.current();
                    if (c == QLatin1Char('-'))
                        session.noAnswer();
                    else
                        session.answer(c == QLatin1Char('y'));
                    break;
                case TeachSession::Phase::TestsDone:
                    session.finish();
                    break;
                default:
                    break;
                }
            });
        });

        session.start();
        QVERIFY(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 10000));
        QFETCH(QString, frames);
        QFETCH(QString, marks);
        QFETCH(QString, attempts);
        QFETCH(int, warnings);
        QFETCH(TeachSession::Ending, ending);
        QFETCH(QString, switches);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).value<TeachSession::Ending>(), ending);
        QStringList wire;
        for (const QString &f : link->written)
            wire << (f.startsWith(QLatin1String("0001")) ? f.mid(4) : f);
        QCOMPARE(wire.join(QLatin1Char(' ')), frames);
        QCOMPARE(::marks(session.items()), marks);
        QCOMPARE(::attempts(session.items()), attempts);
        QCOMPARE(int(warned.size()), warnings);
        QCOMPARE(switched.join(QLatin1Char(' ')), switches);
        QVERIFY(pending.isEmpty());
        QVERIFY(!session.isRunning());
        // Nothing more goes out once the pass has ended.
        const int sent = int(link->written.size());
        QTest::qWait(3 * fast.replyWindowMs);
        QCOMPARE(int(link->written.size()), sent);
    }
};

QTEST_GUILESS_MAIN(TeachTest)
#include "tst_teach.moc"
