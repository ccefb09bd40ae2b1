#include "portjob.h"

#include "commandline.h"

#include <cmath>

namespace irlearn::cli {

namespace {

QString describe(const OperationResult &result)
{
    if (!result.detail.isEmpty())
        return result.detail;
    switch (result.outcome) {
    case Outcome::Done:
        return QString();
    case Outcome::Refused:
        return result.reply.isEmpty() ? QStringLiteral("设备拒绝")
                                      : QStringLiteral("设备拒绝（应答 %1）").arg(result.reply);
    case Outcome::Mismatch:
        return QStringLiteral("读回的记录与文件不一致");
    case Outcome::TimedOut:
        return QStringLiteral("设备无应答");
    case Outcome::PortLost:
        return QStringLiteral("与设备的连接中断");
    case Outcome::Busy:
        return QStringLiteral("设备正忙");
    case Outcome::Invalid:
        return QStringLiteral("输入无效，未发送");
    case Outcome::NotOpen:
        return QStringLiteral("端口未打开");
    }
    return QString();
}

} // namespace

int exitCodeFor(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Done:
        return exitDone;
    case Outcome::Refused:
    case Outcome::Mismatch:
    case Outcome::Busy:
        return exitFailed;
    case Outcome::Invalid:
        return exitUsage;
    case Outcome::NotOpen:
        return exitPortOpen;
    case Outcome::TimedOut:
    case Outcome::PortLost:
        return exitLost;
    }
    return exitFailed;
}

int JobResult::exitCode() const
{
    return exitCodeFor(outcome);
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
    connect(&m_engine, &DeviceEngine::progress, this, [this](int done, int total) {
        // A verified download reads the table back after its 16th record: progress starts over.
        if (done == 0 && m_lastDone == total)
            m_readingBack = true;
        m_lastDone = done;
        if (m_index >= 0 && m_index < m_steps.size())
            emit progress(m_readingBack ? QStringLiteral("校验") : m_steps.at(m_index).label, done,
                          total);
    });
    connect(&m_engine, &DeviceEngine::learningCountdown, this, &PortJob::countdown);
    // A learning answer that comes after the key's reply window still counts; one within it
    // ends the key's own request, which settles the step.
    connect(&m_engine, &DeviceEngine::keyLearnt, this, [this] {
        if (m_awaiting && m_keyReleased)
            settleLearning(Outcome::Done, QString());
    });
    connect(&m_engine, &DeviceEngine::learnPromptChanged, this, [this](bool visible) {
        if (!visible && m_awaiting && m_keyReleased && m_stepOpen)
            settleLearning(Outcome::Refused, QStringLiteral("设备未学会该键"));
    });

    m_window.setSingleShot(true);
    m_window.setTimerType(Qt::PreciseTimer);
    connect(&m_window, &QTimer::timeout, this, [this] {
        m_windowOver = true;
        if (m_keyReleased)
            settleLearning(Outcome::TimedOut, QStringLiteral("学习时限内没有收到设备的学习结果"));
    });
    m_ticks.setInterval(1000);
    connect(&m_ticks, &QTimer::timeout, this, &PortJob::tick);
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
    m_lastDone = -1;
    m_readingBack = false;
    m_stepOpen = true;
    m_awaiting = step.awaitsLearning;
    m_keyReleased = false;
    m_windowOver = false;
    emit stepStarted(step.label, m_attempt);
    if (m_awaiting) {
        m_windowEnd = QDeadlineTimer(m_engine.timings().learningWindowMs, Qt::PreciseTimer);
        m_window.start(m_engine.timings().learningWindowMs);
        m_ticks.start();
        tick();
    }
    // A refusal comes back through stepFinished() before start() returns.
    step.start(m_engine);
}

void PortJob::tick()
{
    const qint64 left = qMax<qint64>(m_windowEnd.remainingTime(), 0);
    emit countdown(int(std::ceil(double(left) / 1000.0)));
}

void PortJob::stepFinished(const OperationResult &result)
{
    if (!m_stepOpen)
        return;
    if (m_awaiting && result.outcome == Outcome::TimedOut && !m_windowOver) {
        m_keyReleased = true;
        return;
    }
    if (m_awaiting && result.outcome == Outcome::TimedOut) {
        settleLearning(Outcome::TimedOut, QStringLiteral("学习时限内没有收到设备的学习结果"));
        return;
    }
    closeStep(result);
}

void PortJob::settleLearning(Outcome outcome, const QString &detail)
{
    OperationResult result;
    result.kind = OperationKind::LearnKey;
    result.outcome = outcome;
    result.detail = detail;
    closeStep(result);
}

void PortJob::closeStep(const OperationResult &result)
{
    m_stepOpen = false;
    if (m_awaiting) {
        m_awaiting = false;
        m_window.stop();
        m_ticks.stop();
        emit countdown(0);
    }
    const Step &step = m_steps.at(m_index);
    m_result.attempts = qMax(m_result.attempts, m_attempt);
    if (result.ok()) {
        m_results.append(result);
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
    m_results.append(result);
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
    if (!m_failed && !m_results.isEmpty())
        m_result.operation = m_results.constLast();
    emit finished();
}

} // namespace irlearn::cli
