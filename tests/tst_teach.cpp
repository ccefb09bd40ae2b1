// The guided pass over a device on a scripted line: the frames in their order with learning mode
// switched on and off around them, what became of every key, retries, skips, the tests on the
// unit, and the ways a pass ends early.
#include "engine/deviceengine.h"
#include "engine/teachsession.h"
#include "support/fakelink.h"

#include <QMap>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

using namespace irlearn;

namespace {

const Timings fast{60, 80, 2, 5, 120, 400};

// One pass: the plan, the device's script, the front end's answers, and what must come of them.
struct Pass
{
    // keys: their numbers, one digit each; all ten: "".
    const char *name, *keys;
    int commands; // numbered commands 11 to 10 + this
    bool learningModeOn, test;
    int autoRetries;
    // script: "41:01,--" refuses the first learning of code 41 with 01 and ignores the second.
    // decisions: the front end's answers, in order: r retry, s skip at a failure; y reacted, n
    // none, x none and learn it again, - no verdict, at a test.
    const char *script, *decisions, *lostAt;
    int cancelAt; // the item whose learning start cancels the pass
    // marks: each item's mark and its number of attempts: '.' not yet, 'L' learnt, 'F' failed,
    // 'S' skipped; a tested key: 'T' reacted, 'N' no reaction.
    const char *frames, *marks;
    int warnings;
    TeachSession::Ending ending;
    // The pass's own switches of learning mode; "?" where the device did not confirm it.
    const char *switches;
};

using E = TeachSession::Ending;
const Pass passes[] = {
    {"every key learnt", "", 0, false, false, -1, "", "", "", -1,
     "F0 40 41 42 43 44 45 46 47 48 49 F2", "L1L1L1L1L1L1L1L1L1L1", 0, E::Completed, "on off"},
    // A success ends a run of failures; a skip does not.
    {"retry, skip, three failures in a row", "", 0, false, false, -1, "41:01;43:--,--;44:01",
     "rrss", "", -1, "F0 40 41 41 42 43 43 44 45 46 47 48 49 F2", "L1L2L1S2S1L1L1L1L1L1", 1,
     E::Completed, "on off"},
    {"scripted retries", "10", 0, false, false, 2, "40:01,01,01;41:--", "", "", -1,
     "F0 40 40 40 41 41 F2", "F3L2", 2, E::Completed, "on off"},
    {"learning mode not confirmed", "", 0, false, false, -1, "F0:--", "", "", -1, "F0 F2",
     ".0.0.0.0.0.0.0.0.0.0", 0, E::NoLearningMode, "on? off"},
    {"learning mode on already", "97", 0, true, false, -1, "", "", "", -1, "47 49 F2", "L1L1", 0,
     E::Completed, "off"},
    {"port lost in the middle", "", 0, false, false, -1, "", "", "43", -1, "F0 40 41 42 43",
     "L1L1L1.1.0.0.0.0.0.0", 0, E::PortLost, "on"},
    {"cancelled in the middle", "", 0, false, false, -1, "", "", "", 2, "F0 40 41 42 F2",
     "L1L1L1.0.0.0.0.0.0.0", 0, E::Cancelled, "on off"},
    {"cancelled at a failure", "", 0, false, false, -1, "41:--", "", "", 1, "F0 40 41 F2",
     "L1F1.0.0.0.0.0.0.0.0", 0, E::Cancelled, "on off"},
    // Sent outside learning mode; the key without reaction is learnt again and retested
    // before the next.
    {"tests and a key learnt again", "012", 0, false, true, -1, "", "yxyn", "", -1,
     "F0 40 41 42 F2 40 41 F0 41 F2 41 42", "T1T2N1", 0, E::Completed, "on off on off"},
    {"tests without a verdict", "01", 0, false, true, -1, "", "--", "", -1, "F0 40 41 F2 40 41",
     "L1L1", 0, E::Completed, "on off"},
    // A numbered learning switches learning mode on and off around itself.
    {"numbered commands after the keys", "0", 2, false, false, -1, "", "", "", -1,
     "F0 40 F0 4A F2 F0 4B F2", "L1L1L1", 0, E::Completed, "on"},
};

} // namespace

class TeachTest : public QObject
{
    Q_OBJECT

private slots:
    void wholePass_data()
    {
        QTest::addColumn<int>("pass");
        for (const Pass &p : passes)
            QTest::newRow(p.name) << int(&p - passes);
    }

    void wholePass()
    {
        QFETCH(int, pass);
        const Pass &p = passes[pass];
        auto *link = new FakeLink;
        // The device echoes learning mode and answers a learning with 00 unless the script says
        // otherwise ("F0:--" ignores learning mode on); outside learning mode every command is
        // answered 00. The frame of lostAt's code unplugs it.
        QMap<QString, QStringList> script;
        for (const QString &entry : QString::fromLatin1(p.script).split(u';', Qt::SkipEmptyParts))
            script[entry.section(u':', 0, 0)] = entry.section(u':', 1).split(u',');
        link->responder = [&script, &p, link](const QString &frame) {
            const QString code = frame.right(2);
            if (code == QLatin1String(p.lostAt)) {
                QTimer::singleShot(0, link, [link] {
                    link->close();
                    emit link->lost();
                });
                return QByteArray();
            }
            QString reply = code == u"F0"_s || code == u"F2"_s ? code : u"00"_s;
            if (!script.value(code).isEmpty())
                reply = script[code].takeFirst();
            return reply == u"--"_s ? QByteArray() : QByteArray::fromHex(reply.toLatin1());
        };
        DeviceEngine engine(link, fast);
        openAndWait(engine, u"fake"_s);
        // Messages are shown in passing, as the command line does.
        connect(&engine, &DeviceEngine::message, &engine, [&engine] {
            QTimer::singleShot(0, &engine, [&engine] { engine.messageClosed(); });
        });

        QList<int> keys;
        for (const char *k = p.keys; *k; ++k)
            keys << *k - '0';
        TeachSession session(engine, {u"0001"_s, keys.isEmpty() ? TeachPlan::allKeys() : keys,
                                      p.commands > 0 ? 11 : 0, 10 + p.commands, p.learningModeOn,
                                      p.autoRetries, p.test});
        QSignalSpy warned(&session, &TeachSession::repeatedFailures);
        QSignalSpy finished(&session, &TeachSession::finished);
        QStringList switched;
        connect(&session, &TeachSession::learningModeSwitched, &session,
                [&switched](bool on, bool confirmed) {
                    switched << QLatin1String(on ? "on" : "off") +
                                    QLatin1String(confirmed ? "" : "?");
                });
        connect(&session, &TeachSession::itemStarted, &session, [&](int item, int) {
            if (item == p.cancelAt)
                QTimer::singleShot(0, &session, &TeachSession::cancel);
        });

        // The front end answers a moment later, as an operator does.
        QString pending = QLatin1String(p.decisions);
        int relearnNext = -1;
        connect(&session, &TeachSession::phaseChanged, &session, [&](TeachSession::Phase phase) {
            QTimer::singleShot(0, &session, [&, phase] {
                if (session.phase() != phase)
                    return;
                using P = TeachSession::Phase;
                const QChar c = pending.isEmpty() ? u'?' : pending.at(0);
                if (phase == P::Deciding || phase == P::Answering)
                    pending.remove(0, 1);
                if (phase == P::Answering && c == u'x')
                    relearnNext = session.current();
                if (phase == P::Deciding)
                    c == u'r' ? session.retry() : session.skip();
                else if (phase == P::TestReady && relearnNext >= 0)
                    session.relearn(std::exchange(relearnNext, -1));
                else if (phase == P::TestReady)
                    session.sendTest();
                else if (phase == P::Answering)
                    c == u'-' ? session.noAnswer() : session.answer(c == u'y');
                else if (phase == P::TestsDone)
                    session.finish();
            });
        });

        session.start();
        QVERIFY(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 10000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).value<TeachSession::Ending>(), p.ending);
        // The frames without the device number.
        QCOMPARE(link->written.join(u' ').remove(QRegularExpression(u"\\b0001"_s)),
                 QLatin1String(p.frames));
        QString marks;
        for (const TeachItem &item : session.items())
            marks += (item.reaction == Reaction::Untested  ? u".LFS"_s.at(int(item.status))
                      : item.reaction == Reaction::Reacted ? u'T'
                                                           : u'N') +
                     QString::number(item.attempts);
        QCOMPARE(marks, QLatin1String(p.marks));
        QCOMPARE(int(warned.size()), p.warnings);
        QCOMPARE(switched.join(u' '), QLatin1String(p.switches));
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
