#include "engine/operation.h"

#include "protocol/exchange.h"
#include "protocol/frames.h"

namespace irlearn {

Operation::Operation(OperationKind kind, Context context, QObject *parent)
    : QObject(parent), m_kind(kind), m_context(std::move(context))
{
}

void Operation::portLost()
{
    finish(Outcome::PortLost);
}

void Operation::cancel()
{
    exchange().cancel();
    finish(Outcome::Cancelled);
}

void Operation::finish(OperationResult result)
{
    if (m_finished)
        return;
    m_finished = true;
    result.kind = m_kind;
    // Nothing of this operation may wake up later.
    for (QTimer *timer : findChildren<QTimer *>())
        timer->stop();
    emit finished(result);
}

void Operation::finish(Outcome outcome, const QString &detail, const QString &reply)
{
    OperationResult result;
    result.outcome = outcome;
    result.detail = detail;
    result.reply = reply;
    finish(result);
}

void Operation::openTransfer(QTimer &timer, const QString &selectFrame, std::function<void()> then)
{
    exchange().send(selectFrame);
    startTimer(timer, timings().openingPauseMs, [this, &timer, then = std::move(then)] {
        exchange().send(frames::openSelect);
        startTimer(timer, timings().openingPauseMs, then);
    });
}

void Operation::startTimer(QTimer &timer, int ms, std::function<void()> slot)
{
    if (timer.parent() != this) {
        timer.setParent(this);
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
    }
    timer.disconnect(this);
    connect(&timer, &QTimer::timeout, this, std::move(slot));
    timer.start(ms);
}

} // namespace irlearn
