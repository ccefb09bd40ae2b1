#include "portjob.h"

#include "commandline.h"

#include "engine/outcomes.h"

#include <utility>

namespace irlearn::cli {

namespace {

static_assert(outcomes::exitDone == exitDone && outcomes::exitFailed == exitFailed &&
                  outcomes::exitUsage == exitUsage && outcomes::exitPortOpen == exitPortOpen &&
                  outcomes::exitLost == exitLost,
              "the engine's outcome table gives the exit codes the command line documents");

QString describe(const OperationResult &result)
{
    if (!result.detail.isEmpty() && !result.quiet)
        return result.detail;
    if (result.kind == OperationKind::LearnKey && result.outcome == Outcome::Refused)
        return QStringLiteral("设备未学会该键");
    if (result.kind == OperationKind::LearnKey && result.outcome == Outcome::TimedOut)
        return QStringLiteral("学习时限内没有收到设备的学习结果");
    if (result.outcome == Outcome::Refused && !result.reply.isEmpty())
        return QStringLiteral("设备拒绝（应答 %1）").arg(result.reply);
    if (result.outcome == Outcome::Cancelled)
        return QStringLiteral("已中断");
    return outcomes::message(result.outcome);
}

} // namespace

int JobResult::exitCode() const
{
    // The command line cancels only when a signal asks it to.
    return outcome == Outcome::Cancelled ? int(exitInterrupted) : outcomes::exitCode(outcome);
}

PortJob::PortJob(QString devicePath, const Timings &timings, QObject *parent)
    : QObject(parent), m_path(std::move(devicePath)), m_engine(timings)
{
    connect(&m_engine, &DeviceEngine::opened, this, &PortJob::opened);
    connect(&m_engine, &DeviceEngine::openFailed, this, &PortJob::openFailed);
    connect(&m_engine, &DeviceEngine::finished, this, &PortJob::stepFinished);
    connect(&m_engine, &DeviceEngine::logLine, this, &PortJob::logLine);
    connect(&m_engine, &DeviceEngine::message, this, [this](const QString &text) {
        emit note(text);
        m_engine.messageClosed();
    });
    connect(&m_engine, &DeviceEngine::phaseChanged, this,
            [this](Phase phase) { m_readingBack = phase == Phase::ReadingBack; });
    connect(&m_engine, &DeviceEngine::progress, this, [this](int done, int total) {
        m_result.done = done;
        m_result.readingBack = m_readingBack;
        if (m_index >= 0 && m_index < m_steps.size())
            emit progress(m_readingBack ? QStringLiteral("校验") : m_steps.at(m_index).label, done,
                          total);
    });
    connect(&m_engine, &DeviceEngine::learningCountdown, this, &PortJob::countdown);
    connect(&m_engine, &DeviceEngine::learningEndsIn, this, &PortJob::learningEndsIn);
    m_next.setSingleShot(true);
    connect(&m_next, &QTimer::timeout, this, &PortJob::runStep);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &PortJob::reopenAndRun);
}

void PortJob::start()
{
    m_index = 0;
    m_attempt = 0;
    m_engine.open(m_path);
}

void PortJob::opened()
{
    if (m_finished)
        return;
    m_reopening = false;
    runStep();
}

void PortJob::openFailed(const OpenFailure &failure)
{
    if (m_finished)
        return;
    if (std::exchange(m_reopening, false)) {
        reopenFailed(failure);
        return;
    }
    m_result.outcome = Outcome::NotOpen;
    m_result.step = QStringLiteral("打开端口");
    m_result.stepWord = QStringLiteral("open");
    m_result.message = failure.message;
    m_result.operation.outcome = Outcome::NotOpen;
    m_failed = true;
    finish();
}

void PortJob::cancel()
{
    if (m_finished || m_cancelled)
        return;
    m_cancelled = true;
    if (!m_stepOpen) {
        // Between steps, or waiting to retry: on to the end (and the `always` steps) now. A port
        // still opening has been sent nothing: it is given up.
        if (m_engine.isOpening()) {
            m_engine.close();
            m_reopening = false;
        }
        m_retry.stop();
        m_next.start(0);
        return;
    }
    if (!m_steps.at(m_index).always)
        m_engine.cancel();
}

void PortJob::runStep()
{
    m_next.stop();
    if (m_cancelled && !m_failed && m_index < m_steps.size()) {
        OperationResult result;
        result.outcome = Outcome::Cancelled;
        fail(m_steps.at(m_index), result);
    }
    while (m_index < m_steps.size() && m_failed && !m_steps.at(m_index).always)
        ++m_index;
    if (m_index >= m_steps.size() || (m_failed && !m_engine.isOpen())) {
        finish();
        return;
    }
    const Step &step = m_steps.at(m_index);
    ++m_attempt;
    m_readingBack = false;
    if (!step.always) {
        m_result.done = 0;
        m_result.readingBack = false;
    }
    m_stepOpen = true;
    emit stepStarted(step.label, m_attempt);
    // A refusal comes back through stepFinished() before start() returns.
    step.start(m_engine);
}

void PortJob::stepFinished(const OperationResult &result)
{
    if (!m_stepOpen)
        return;
    m_stepOpen = false;
    const Step &step = m_steps.at(m_index);
    m_result.attempts = qMax(m_result.attempts, m_attempt);
    if (result.ok()) {
        m_last = result;
        ++m_index;
        m_attempt = 0;
        m_next.start(0);
        return;
    }
    if (m_cancelled && !m_failed && !step.always)
        fail(step, result);
    if (!m_failed && !step.always && m_attempt <= m_retries) {
        retryLater(step, result);
        return;
    }
    m_last = result;
    if (!m_failed)
        fail(step, result);
    ++m_index;
    m_attempt = 0;
    m_next.start(0);
}

void PortJob::fail(const Step &step, const OperationResult &result)
{
    // After a failure only the "always" steps run; the first failure is the job's.
    m_failed = true;
    m_result.outcome = result.outcome;
    m_result.step = step.label;
    m_result.stepWord = step.word;
    m_result.message = describe(result);
    m_result.operation = result;
    m_result.interrupted = m_cancelled;
}

void PortJob::retryLater(const Step &step, const OperationResult &result)
{
    const int wait = m_retryMs * (1 << qMin(m_attempt - 1, 3));
    m_retryCause = result;
    emit note(QStringLiteral("%1失败：%2；%3 秒后第%4次重试")
                  .arg(step.label, describe(result))
                  .arg(double(wait) / 1000.0, 0, 'f', 1)
                  .arg(m_attempt));
    m_retry.start(wait);
}

void PortJob::reopenAndRun()
{
    if (m_cancelled || m_engine.isOpen()) {
        runStep();
        return;
    }
    // The device may be back under another path (a USB adapter plugged in again).
    if (m_locate) {
        const QString path = m_locate();
        if (!path.isEmpty())
            m_path = path;
    }
    m_reopening = true;
    m_engine.open(m_path);
}

void PortJob::reopenFailed(const OpenFailure &failure)
{
    // Not back yet: that try is spent.
    OperationResult result = m_retryCause;
    result.detail =
        QStringLiteral("%1；重新打开端口失败：%2").arg(describe(m_retryCause), failure.message);
    ++m_attempt;
    m_result.attempts = qMax(m_result.attempts, m_attempt);
    const Step &step = m_steps.at(m_index);
    if (m_attempt <= m_retries) {
        retryLater(step, result);
        return;
    }
    m_last = result;
    fail(step, result);
    finish();
}

void PortJob::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_engine.close();
    if (!m_failed && m_last)
        m_result.operation = *m_last;
    emit finished();
}

} // namespace irlearn::cli
