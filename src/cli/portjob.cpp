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
    case Outcome::Cancelled:
        return QStringLiteral("已中断");
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
    case Outcome::Cancelled:
        return exitInterrupted;
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
        m_result.done = done;
        m_result.readingBack = m_readingBack;
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
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &PortJob::reopenAndRun);
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
    OpenError error;
    if (m_engine.open(m_path, &error))
        return true;
    m_result.outcome = Outcome::NotOpen;
    m_result.step = QStringLiteral("打开端口");
    m_result.stepWord = QStringLiteral("open");
    m_result.message = error.text;
    m_result.operation.outcome = Outcome::NotOpen;
    m_failed = true;
    return false;
}

void PortJob::cancel()
{
    if (m_finished || m_cancelled)
        return;
    m_cancelled = true;
    if (!m_stepOpen) {
        // Between steps, or waiting to retry: on to the end (and the `always` steps) now.
        m_retry.stop();
        m_next.start(0);
        return;
    }
    const Step &step = m_steps.at(m_index);
    if (step.always)
        return;
    if (m_awaiting && m_keyReleased)
        settleLearning(Outcome::Cancelled, QString());
    else
        m_engine.cancel();
}

void PortJob::runStep()
{
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
    m_lastDone = -1;
    m_readingBack = false;
    m_stepOpen = true;
    if (!step.always) {
        m_result.done = 0;
        m_result.readingBack = false;
    }
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
    if (m_awaiting && m_cancelled && !result.ok()) {
        settleLearning(Outcome::Cancelled, QString());
        return;
    }
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
        m_lastResult = result;
        ++m_index;
        m_attempt = 0;
        m_next.start(0);
        return;
    }
    if (m_cancelled && !m_failed && !step.always) {
        fail(step, result);
        ++m_index;
        m_attempt = 0;
        m_next.start(0);
        return;
    }
    if (!m_failed && !step.always && m_attempt <= m_retries) {
        retryLater(step, result);
        return;
    }
    m_lastResult = result;
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
    OpenError error;
    if (m_engine.open(m_path, &error)) {
        runStep();
        return;
    }
    // Not back yet: that try is spent.
    OperationResult result = m_retryCause;
    result.detail =
        QStringLiteral("%1；重新打开端口失败：%2").arg(describe(m_retryCause), error.text);
    ++m_attempt;
    m_result.attempts = qMax(m_result.attempts, m_attempt);
    const Step &step = m_steps.at(m_index);
    if (m_attempt <= m_retries) {
        retryLater(step, result);
        return;
    }
    m_lastResult = result;
    fail(step, result);
    finish();
}

void PortJob::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_engine.close();
    if (!m_failed && m_lastResult)
        m_result.operation = *m_lastResult;
    emit finished();
}

} // namespace irlearn::cli
