#include "serial/waits.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cmath>

namespace irlearn::waits {

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void sleepUntil(qint64 wakeAtMs)
{
    const qint64 remaining = wakeAtMs - nowMs();
    if (remaining <= 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // The timer only wakes the event loop; its timeout does nothing.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(int(qMin<qint64>(remaining, 1 << 30)));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

namespace {

// Passes until stop() or until more than pauseTime seconds have passed (1 ms granularity).
template <typename Stop> void passes(double pauseTime, Stop stop)
{
    const qint64 start = nowMs();
    const qint64 limit = qint64(std::floor(pauseTime * 1000.0));
    // The first moment at which the elapsed time is strictly greater than the pause.
    const qint64 deadline = start + qMax<qint64>(limit, 0) + 1;
    while (!stop()) {
        sleepUntil(deadline);
        if (nowMs() - start > limit)
            return;
    }
}

} // namespace

void DelayAll(double PauseTime)
{
    passes(PauseTime, [] { return false; });
}

void Delay(double PauseTime, const bool &waitReply)
{
    passes(PauseTime, [&waitReply] { return !waitReply; });
}

void TDelay(double PauseTime, const bool &waitLearn)
{
    passes(PauseTime, [&waitLearn] { return !waitLearn; });
}

} // namespace irlearn::waits
