#pragma once

#include "engine/deviceengine.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

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
    };

    PortJob(QString devicePath, const Timings &timings, QObject *parent = nullptr);

    void addStep(Step step) { m_steps.append(std::move(step)); }
    void setRetries(int retries) { m_retries = retries; }
    DeviceEngine &engine() { return m_engine; }
    const JobResult &result() const { return m_result; }
    bool isFinished() const { return m_finished; }

    void start();

signals:
    void stepStarted(const QString &label, int attempt);
    void progress(const QString &label, int done, int total);
    void countdown(int secondsLeft);      // the operator's learning window
    void learningEndsIn(int secondsLeft); // learnt; learning mode goes off then
    void note(const QString &text);       // the engine's messages, said in passing
    void logLine(const QString &line);    // every frame and reply
    void finished();

private:
    bool open();
    void runStep();
    void stepFinished(const OperationResult &result);
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
    bool m_readingBack = false;
    JobResult m_result;
    std::optional<OperationResult> m_last; // the last step's result
    QTimer m_next; // the next step (or the retry) starts from the event loop
};

} // namespace irlearn::cli
