#include "portjob.h"

#include "commandline.h"

#include "engine/outcomes.h"

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
    return outcomes::message(result.outcome);
}

} // namespace

int JobResult::exitCode() const
{
    return outcomes::exitCode(outcome);
}

PortJob::PortJob(QString devicePath, const Timings &timings, QObject *parent)
    : QObject(parent), m_path(std::move(devicePath)), m_engine(timings)
{
    connect(&m_engine, &DeviceEngine::finished, this, &PortJob::stepFinished);
    connect(&m_engine, &DeviceEngine::logLine, this, &PortJob::logLine);
    connect(&m_engine, &DeviceEngine::message, this, [this](const QString &text) {
        emit note(text);
        m_engine.messageClosed();
    });
    connect(&m_engine, &DeviceEngine::phaseChanged, this,
            [this](Phase phase) { m_readingBack = phase == Phase::ReadingBack; });
    connect(&m_engine, &DeviceEngine::progress, this, [this](int done, int total) {
        if (m_index >= 0 && m_index < m_steps.size())
            emit progress(m_readingBack ? QStringLiteral("校验") : m_steps.at(m_index).label, done,
                          total);
    });
    connect(&m_engine, &DeviceEngine::learningCountdown, this, &PortJob::countdown);
    connect(&m_engine, &DeviceEngine::learningEndsIn, this, &PortJob::learningEndsIn);
    m_next.setSingleShot(true);
    connect(&m_next, &QTimer::timeout, this, &PortJob::runStep);
}

void PortJob::start()
{
    m_index = 0;
    m_attempt = 0;
    if (!open()) {
        QTimer::singleShot(0, this, &PortJob::finish);
        return;
    }
    QTimer::singleShot(0, this, &PortJob::runStep);
}

bool PortJob::open()
{
    OpenFailure failure;
    if (m_engine.open(m_path, &failure))
        return true;
    m_result.outcome = Outcome::NotOpen;
    m_result.step = QStringLiteral("打开端口");
    m_result.message = failure.message;
    m_result.operation.outcome = Outcome::NotOpen;
    m_failed = true;
    return false;
}

void PortJob::runStep()
{
    while (m_index < m_steps.size() && m_failed && !m_steps.at(m_index).always)
        ++m_index;
    if (m_index >= m_steps.size() || (m_failed && !m_engine.isOpen())) {
        finish();
        return;
    }
    const Step &step = m_steps.at(m_index);
    ++m_attempt;
    m_readingBack = false;
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
    if (!m_failed && !step.always && m_attempt <= m_retries &&
        (m_engine.isOpen() || m_engine.open(m_path))) {
        emit note(QStringLiteral("%1失败：%2；第%3次重试")
                      .arg(step.label, describe(result))
                      .arg(m_attempt));
        m_next.start(m_engine.timings().pacingMs);
        return;
    }
    m_last = result;
    if (!m_failed) {
        // After a failure only the "always" steps run; the first failure is the job's.
        m_failed = true;
        m_result.outcome = result.outcome;
        m_result.step = step.label;
        m_result.message = describe(result);
        m_result.operation = result;
    }
    ++m_index;
    m_attempt = 0;
    m_next.start(0);
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
