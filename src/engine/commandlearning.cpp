#include "engine/commandlearning.h"

#include "protocol/exchange.h"
#include "protocol/frames.h"

#include <cmath>

namespace irlearn {

CommandLearning::CommandLearning(Context context, QString device, int number, QObject *parent)
    : Operation(OperationKind::LearnCommand, std::move(context), parent),
      m_device(std::move(device)), m_number(number)
{
    m_ticks.setParent(this);
    m_ticks.setInterval(1000);
    connect(&m_ticks, &QTimer::timeout, this, &CommandLearning::tick);
}

void CommandLearning::start()
{
    m_step = Step::Entering;
    exchange().request(frames::learningModeOn(m_device), frames::tagCommand, 1,
                       timings().replyWindowMs);
}

void CommandLearning::replied(const QString &tag, const QString &reply, bool)
{
    switch (m_step) {
    case Step::Entering:
        if (reply != frames::learnOnEcho) {
            finish(Outcome::Refused, QString(), reply);
            return;
        }
        emit learnPromptChanged(true);
        m_step = Step::AwaitingResult;
        exchange().request(frames::commandFrame(m_device, m_number), frames::tagLearn, 1,
                           timings().replyWindowMs);
        return;
    case Step::AwaitingResult:
        m_result = reply;
        // Whatever the answer, the window follows in full.
        if (messageOpen())
            m_openWhenClosed = true;
        else
            openWindow();
        return;
    case Step::Window:
        if (tag != frames::tagLearn)
            return;
        m_result = reply;
        if (reply != frames::learnt)
            leave();
        return;
    case Step::Leaving:
        if (reply == frames::learnOffEcho)
            emit learnPromptChanged(false);
        end();
        return;
    }
}

void CommandLearning::timedOut(const QString &, int)
{
    switch (m_step) {
    case Step::Entering:
        finish(Outcome::TimedOut);
        return;
    case Step::AwaitingResult:
        // The answer may still come during the window: the request stays registered.
        openWindow();
        return;
    case Step::Window:
        return;
    case Step::Leaving:
        end();
        return;
    }
}

void CommandLearning::messagesClosed()
{
    if (m_openWhenClosed) {
        m_openWhenClosed = false;
        openWindow();
    } else if (m_leaveWhenClosed) {
        m_leaveWhenClosed = false;
        leave();
    }
}

void CommandLearning::cancel()
{
    // Once learning mode may be on, it is switched off before the learning ends.
    m_cancelled = true;
    if (m_step == Step::Leaving)
        return;
    exchange().cancel();
    leave();
}

void CommandLearning::openWindow()
{
    m_step = Step::Window;
    m_windowEnd = QDeadlineTimer(timings().learningWindowMs, Qt::PreciseTimer);
    startTimer(m_window, timings().learningWindowMs, [this] { windowOver(); });
    m_ticks.start();
    tick();
}

void CommandLearning::tick()
{
    const qint64 left = m_windowEnd.remainingTime();
    emit learningCountdown(int(std::ceil(double(qMax<qint64>(left, 0)) / 1000.0)));
}

void CommandLearning::windowOver()
{
    if (messageOpen()) {
        m_leaveWhenClosed = true;
        return;
    }
    leave();
}

void CommandLearning::leave()
{
    m_window.stop();
    m_ticks.stop();
    emit learningCountdown(0);
    m_step = Step::Leaving;
    exchange().request(frames::learningModeOff(m_device), frames::tagCommand, 1,
                       timings().replyWindowMs);
}

void CommandLearning::end()
{
    if (m_cancelled)
        finish(Outcome::Cancelled, QString(), m_result);
    else if (m_result == frames::learnt)
        finish(Outcome::Done, QString(), m_result);
    else if (m_result.isEmpty())
        finish(Outcome::TimedOut);
    else
        finish(Outcome::Refused, QString(), m_result);
}

} // namespace irlearn
