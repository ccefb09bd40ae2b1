#include "engine/keylearning.h"

#include "protocol/exchange.h"
#include "protocol/frames.h"

#include <cmath>

namespace irlearn {

KeyLearning::KeyLearning(Context context, QString device, int key, QObject *parent)
    : Operation(OperationKind::LearnKey, std::move(context), parent), m_device(std::move(device)),
      m_key(key)
{
    m_ticks.setParent(this);
    m_ticks.setInterval(1000);
    connect(&m_ticks, &QTimer::timeout, this, &KeyLearning::tick);
}

void KeyLearning::start()
{
    emit keyPrompt(m_key);
    emit learnPromptChanged(true);
    m_windowEnd = QDeadlineTimer(timings().learningWindowMs, Qt::PreciseTimer);
    startTimer(m_window, timings().learningWindowMs, [this] { end(Outcome::TimedOut); });
    m_ticks.start();
    tick();
    exchange().request(frames::keyFrame(m_device, m_key), frames::tagLearn, 1,
                       timings().replyWindowMs);
}

void KeyLearning::tick()
{
    const qint64 left = qMax<qint64>(m_windowEnd.remainingTime(), 0);
    emit learningCountdown(int(std::ceil(double(left) / 1000.0)));
}

void KeyLearning::replied(const QString &tag, const QString &reply, bool)
{
    if (tag != frames::tagLearn)
        return;
    end(reply == frames::learnt ? Outcome::Done : Outcome::Refused, reply);
}

void KeyLearning::timedOut(const QString &, int)
{
    if (m_cancelled) {
        end(Outcome::Cancelled);
        return;
    }
    // The request stays registered: the answer still counts until the window is over.
    setInterruptible(true);
}

void KeyLearning::cancel()
{
    if (isInterruptible())
        end(Outcome::Cancelled);
    else
        m_cancelled = true;
}

bool KeyLearning::interrupt()
{
    end(Outcome::Cancelled);
    return true;
}

void KeyLearning::portLost()
{
    end(Outcome::PortLost);
}

void KeyLearning::end(Outcome outcome, const QString &reply)
{
    if (isFinished())
        return;
    m_ticks.stop();
    emit learningCountdown(0);
    finish(outcome, QString(), reply);
}

} // namespace irlearn
