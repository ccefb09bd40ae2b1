#pragma once

#include "codefile/tablelabels.h"
#include "engine/operation.h"

#include <QList>
#include <QObject>
#include <QString>

namespace irlearn {

class DeviceEngine;

// What became of one key or numbered command in a guided pass.
enum class TeachStatus {
    NotYet,
    Learnt,
    Failed,  // the last attempt was refused or went unanswered, and the pass went on
    Skipped, // the operator skipped it after a failure
};

// The operator's verdict after the learnt key was sent to the unit.
enum class Reaction { Untested, Reacted, NoReaction };

struct TeachItem
{
    int number = 0;     // numbered command 1 to 108; key i is command i + 1
    bool isKey = false; // one of the ten air-conditioner keys, learnt and sent as such
    TeachStatus status = TeachStatus::NotYet;
    Outcome failure = Outcome::Done; // Refused or TimedOut: how the last failed attempt ended
    QString reply;                   // the device's answer to the last attempt
    int attempts = 0;
    Reaction reaction = Reaction::Untested;

    int key() const { return isKey ? number - 1 : -1; }
    // How far it is known to work, as a table's labels keep it: tested once the unit reacted,
    // failed when it was not learnt or the unit did not react, unknown when not tried.
    KeyStatus labelStatus() const;
    QString name() const;   // "开机", "指令12"
    QString prompt() const; // which button of the remote to press
    QString hint() const;   // how to set the remote first
};

struct TeachPlan
{
    QString device;       // the device number, four decimal digits
    QList<int> keys;      // key indices 0 to 9; taught in the keys' own order whatever this says
    int firstCommand = 0; // a range of numbered commands after the keys; 0: none
    int lastCommand = 0;
    // The device is in learning mode already (the window's toggle is pressed in): no F0 first.
    bool learningModeOn = false;
    // Below 0: every failure waits for retry() or skip(). Otherwise a failed item is tried again
    // up to this many times, then left as failed and the pass goes on (for scripts).
    int autoRetries = -1;
    // After learning, each learnt key is sent to the unit for the operator's verdict.
    bool test = false;

    static QList<int> allKeys();
};

// A guided pass over a device: teaches it the chosen keys and numbered commands one after another
// through the engine's operations, one at a time, then sends each learnt key back to the unit so
// the operator can say whether it reacted. Front ends show what it reports and pass the
// operator's decisions in; they hold no state of the pass.
//
// Learning mode goes on (F0) before the first key unless it is on already, and off (F2) after the
// last item, when the pass is cancelled, or when it stops on a failure, whenever it may be on;
// never after the port was lost. A numbered command's learning brackets itself in learning mode,
// so the device is out of it afterwards.
class TeachSession : public QObject
{
    Q_OBJECT

public:
    enum class Phase {
        Idle,
        Entering,  // F0 on its way
        Learning,  // an item's learning on its way
        Deciding,  // an item failed: waiting for retry() or skip()
        Leaving,   // F2 on its way
        TestReady, // a learnt key waits for sendTest() or skipTest()
        Sending,   // it is on its way to the unit
        Answering, // waiting for answer()
        TestsDone, // every learnt key tested: relearn() or finish()
        Finished,
    };
    Q_ENUM(Phase)

    enum class Ending {
        Completed,
        Cancelled,
        PortLost,
        NoLearningMode, // the device did not confirm learning mode
        Stopped,        // the engine refused an operation (busy, no port, bad device number)
    };
    Q_ENUM(Ending)

    // How many failures in a row make the pass suggest checking distance and aim.
    static constexpr int failuresToWarn = 3;

    TeachSession(DeviceEngine &engine, TeachPlan plan, QObject *parent = nullptr);

    const QList<TeachItem> &items() const { return m_items; }
    Phase phase() const { return m_phase; }
    Ending ending() const { return m_ending; }
    int current() const { return m_current; } // the item being learnt or tested; -1: none
    int failuresInARow() const { return m_inARow; }
    bool isRunning() const { return m_phase != Phase::Idle && m_phase != Phase::Finished; }
    // One line per item, for the log.
    QStringList summary() const;
    // Every key and command of the pass by its label status, for the table's labels.
    QMap<QString, KeyStatus> keyStatuses() const;
    QMap<int, KeyStatus> commandStatuses() const;

public slots:
    void start();
    // After itemFailed, in phase Deciding.
    void retry();
    void skip();
    // In phase TestReady.
    void sendTest();
    void skipTest();
    // In phase Answering: did the unit react to the key just sent?
    void answer(bool reacted);
    // In phase Answering: go on without a verdict (nobody to ask); the reaction stays untested.
    void noAnswer();
    // In phase TestReady or TestsDone: learn a key again (in learning mode), then test it again.
    void relearn(int item);
    // Ends a pass whose learning is over (TestReady, Answering, TestsDone) as completed.
    void finish();
    // Ends the pass at the next safe point: after the operation on its way, with learning mode
    // switched off if it may be on.
    void cancel();

signals:
    void phaseChanged(irlearn::TeachSession::Phase phase);
    // The answer to the pass's own F0 or F2: confirmed by the device's echo, or not. (A numbered
    // command's learning switches learning mode itself and reports only its own result.)
    void learningModeSwitched(bool on, bool confirmed);
    // An item's learning starts: show its prompt and hint.
    void itemStarted(int item, int attempt);
    // Seconds left of the learning window, while an item is being learnt.
    void countdown(int secondsLeft);
    // Anything of an item changed: status, attempts, reaction.
    void itemChanged(int item);
    void itemLearnt(int item);
    // outcome Refused (reply: the device's answer) or TimedOut. With autoRetries below 0, the
    // pass then waits in phase Deciding.
    void itemFailed(int item, irlearn::Outcome outcome, const QString &reply);
    // failuresToWarn or more failures in a row, since the last success.
    void repeatedFailures(int inARow);
    void testReady(int item);
    // The key went to the unit (outcome of the send, reply the device's answer); the pass waits
    // for answer().
    void testSent(int item, irlearn::Outcome outcome, const QString &reply);
    void testsDone();
    void finished(irlearn::TeachSession::Ending ending);

private:
    enum class After { Tests, Complete, Cancel, NoLearningMode, Stop };

    void setPhase(Phase phase);
    bool call(Phase phase, const std::function<bool()> &operation);
    void engineFinished(const OperationResult &result);
    void entered(const OperationResult &result);
    void learnt(const OperationResult &result);
    void left(const OperationResult &result);
    void sent(const OperationResult &result);
    void learnNext();
    void learn(int item);
    void leave(After after);
    void afterLeaving(After after);
    void nextTest();
    void end(Ending ending);

    DeviceEngine &m_engine;
    TeachPlan m_plan;
    QList<TeachItem> m_items;
    Phase m_phase = Phase::Idle;
    Ending m_ending = Ending::Completed;
    QList<int> m_learnQueue;
    QList<int> m_testQueue;
    int m_current = -1;
    int m_inARow = 0;
    int m_tries = 0;         // attempts at the current item since it came up
    bool m_awaiting = false; // an operation of ours is on its way
    bool m_maybeOn = false;  // learning mode may be on: F2 is owed
    bool m_cancelled = false;
    bool m_relearning = false; // back to the tests when the learning is over
    After m_after = After::Complete;
};

} // namespace irlearn
