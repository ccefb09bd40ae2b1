#pragma once

#include "codefile/codetable.h"
#include "protocol/timings.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace irlearn {

class Exchange;

enum class OperationKind {
    LearningMode,
    LearnKey,
    SendKey,
    LearnCommand,
    SetDeviceNumber,
    ReadTable,
    VerifyTable,
    DownloadTable,
};

enum class Outcome {
    Done,
    Refused,  // the device answered, but not what the operation needed
    Mismatch, // a table read back differs from the one expected
    TimedOut, // no answer, or an incomplete one
    PortLost, // the device vanished in the middle
    Busy,     // another operation runs: nothing was sent
    Invalid,  // the operator's input cannot go on the wire: nothing was sent
    NotOpen,  // no port: nothing was sent
    // Stopped on request at a safe point (cancel()): see the operation for where.
    Cancelled,
};

struct OperationResult
{
    OperationKind kind = OperationKind::SendKey;
    Outcome outcome = Outcome::Done;
    QString detail;       // what happened, for the operator; shown and logged when not empty
    QString reply;        // the device's last answer, as hex text
    int record = 0;       // record (1 to 16) at which a transfer stopped; 0 when none
    CodeTable table;      // the records read (ReadTable, VerifyTable, verified downloads)
    QList<int> differing; // records (1 to 16) that differ from the ones expected
    bool ok() const { return outcome == Outcome::Done; }
};

// One thing done with the device, from its first frame to its result: a small state machine that
// owns its state, is driven by the exchange's replies and its own timers, and ends with
// finished() exactly once. The engine runs one at a time and routes the exchange's signals to it.
class Operation : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        Exchange *exchange = nullptr;
        Timings timings;
        // True while a message the operator must close is open.
        std::function<bool()> messageOpen;
    };

    Operation(OperationKind kind, Context context, QObject *parent = nullptr);

    OperationKind kind() const { return m_kind; }
    bool isFinished() const { return m_finished; }

    virtual void start() = 0;
    virtual void replied(const QString &tag, const QString &reply, bool late) = 0;
    virtual void timedOut(const QString &tag, int received) = 0;
    virtual void strayBytes(int) {}
    virtual void messagesClosed() {}
    // The port is gone: stop at once and say where.
    virtual void portLost();
    // Stop at the next point where the device is left in a known state, and finish as Cancelled.
    // By default that is at once: nothing more goes out.
    virtual void cancel();

signals:
    void logLine(const QString &line);
    void progress(int done, int total);
    void noticeShown(const QString &caption);
    void noticeHidden();
    void learnPromptChanged(bool visible);
    void learningCountdown(int secondsLeft);
    void learningModeConfirmed(bool on);
    void tableRead(const irlearn::CodeTable &table);
    void finished(const irlearn::OperationResult &result);

protected:
    void finish(OperationResult result);
    void finish(Outcome outcome, const QString &detail = QString(), const QString &reply = {});
    // The first two frames of a transfer opening (the select frame, then "40"), each followed by
    // the opening pause, then `then`. Whatever the device answers to them is discarded by the
    // next write and never taken as a reply.
    void openTransfer(QTimer &timer, const QString &selectFrame, std::function<void()> then);
    // A single-shot timer owned by the operation, firing into slot.
    void startTimer(QTimer &timer, int ms, std::function<void()> slot);

    Exchange &exchange() const { return *m_context.exchange; }
    const Timings &timings() const { return m_context.timings; }
    bool messageOpen() const { return m_context.messageOpen && m_context.messageOpen(); }

private:
    OperationKind m_kind;
    Context m_context;
    bool m_finished = false;
};

} // namespace irlearn

Q_DECLARE_METATYPE(irlearn::OperationResult)
