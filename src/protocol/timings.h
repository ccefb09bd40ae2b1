#pragma once

#include "serial/linerate.h"

#include <cmath>

namespace irlearn {

// Every pause and time limit of the device's dialogue, in milliseconds. The defaults are the ones
// real devices rely on; the program always uses them. Tests hand the engine scaled values so that
// the same state machines run in a fraction of the time.
struct Timings
{
    int replyWindowMs = 2000;     // an acknowledgement (or a record's first byte) must come by then
    int recordTimeoutMs = 3500;   // a record, once begun, must be whole by then (3 to 4 s)
    int openingPauseMs = 100;     // after each of the first two frames of a transfer opening
    int pacingMs = 300;           // between a transfer's reply and its next request
    int learningWindowMs = 15000; // for the operator's remote control, numbered learning
    int noticeMs = 20000;         // the wait notice comes down this long after a transfer started

    // About how long a paced transfer spends on each record: the record on the line (as answer
    // or as request, recordBytes long) and the pause before the next.
    int perRecordMs(int recordBytes) const
    {
        return pacingMs + int(std::ceil(recordBytes * lineByteMs));
    }

    // All values multiplied by factor (at least 1 ms each).
    Timings scaled(double factor) const
    {
        auto s = [factor](int ms) {
            return ms * factor < 1 ? 1 : int(ms * factor);
        };
        return {s(replyWindowMs), s(recordTimeoutMs),  s(openingPauseMs),
                s(pacingMs),      s(learningWindowMs), s(noticeMs)};
    }
};

} // namespace irlearn
