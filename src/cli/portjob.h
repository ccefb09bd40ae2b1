#pragma once

#include "engine/deviceengine.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace irlearn::cli {

// How one device's work ended.
struct JobResult
{
    Outcome outcome = Outcome::Done;
    QString step;              // the step that failed; empty when done
    QString message;           // why, for the operator; empty when done
    OperationResult operation; // the failed step's result, or the last step's when done
    int attempts = 0;          // tries of the step that ended the job
    bool ok() const { return outcome == Outcome::Done; }
    int exitCode() const;
};

// Exit code for an engine outcome (see ExitCode).
int exitCodeFor(Outcome outcome);

// One device on one port, in one DeviceEngine: opens the port, runs its steps one after another
// and closes it again. A failed step is tried again up to `retries` times (the port reopened if it
// had gone); after a step that fails for good only the steps marked `always` still run, so a
// device is never left in learning mode. Everything the engine tells comes out as signals.
class PortJob : public QObject
{
    Q_OBJECT

public:
    struct Step
    {
        QString label; // what the operator sees while it runs
        std::function<bool(DeviceEngine &)> start;
        bool always = false;
        // A key's learning result may come after the reply window: wait for it until the
        // learning window has passed, counting down.
        bool awaitsLearning = false;
    };

    PortJob(QString devicePath, const Timings &timings, QObject *parent = nullptr);

    void addStep(Step step) { m_steps.append(std::move(step)); }
    void setRetries(int retries) { m_retries = retries; }
    DeviceEngine &engine() { return m_engine; }
    const JobResult &result() const { return m_result; }
    // The result of every step that ended, in order (retried steps once, with their last try).
    const QList<OperationResult> &stepResults() const { return m_results; }
    bool isFinished() const { return m_finished; }

    void start();

signals:
    void stepStarted(const QString &label, int attempt);
    void progress(const QString &label, int done, int total);
    void countdown(int secondsLeft);
    void note(const QString &text);    // the engine's messages, said in passing
    void logLine(const QString &line); // every frame and reply
    void finished();

private:
    bool open();
    void runStep();
    void stepFinished(const OperationResult &result);
    void settleLearning(Outcome outcome, const QString &detail);
    void closeStep(const OperationResult &result);
    void tick();
    void finish();

    QString m_path;
    DeviceEngine m_engine;
    QList<Step> m_steps;
    int m_index = -1;
    int m_attempt = 0;
    int m_retries = 0;
    bool m_stepOpen = false;
    bool m_failed = false;
    bool m_finished = false;
    int m_lastDone = -1;
    bool m_readingBack = false;
    JobResult m_result;
    QList<OperationResult> m_results;
    QTimer m_next; // the next step (or the retry) starts from the event loop
    // Key learning: the window, its countdown, and whether the key's request has ended.
    QTimer m_window;
    QTimer m_ticks;
    QDeadlineTimer m_windowEnd;
    bool m_awaiting = false;
    bool m_keyReleased = false;
    bool m_windowOver = false;
};

} // namespace irlearn::cli
