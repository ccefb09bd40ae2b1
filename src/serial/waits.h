#pragma once

#include <QtGlobal>

namespace irlearn {

// The waits through which the program waits for the device while the window stays alive. Each
// runs passes that process the window's pending events; between passes it sleeps until the next
// event or its deadline instead of spinning. Time is measured on a monotonic clock, so a wait
// that spans midnight (or a change of the system time) ends when it should.
namespace waits {

// Waits more than PauseTime seconds, at least one pass.
void DelayAll(double PauseTime);
// Waits until waitReply is false (tested before every pass, the first included) or more than
// PauseTime seconds have passed.
void Delay(double PauseTime, const bool &waitReply);
// The same, watching waitLearn.
void TDelay(double PauseTime, const bool &waitLearn);

// Monotonic milliseconds, for callers that keep their own deadlines.
qint64 nowMs();
// Processes pending events; when there are none, sleeps until one arrives or wakeAtMs (nowMs()
// scale) comes. Returns as soon as something was processed, so the caller can test its
// condition after every handler that may have changed it.
void sleepUntil(qint64 wakeAtMs);

} // namespace waits
} // namespace irlearn
