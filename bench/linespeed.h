#pragma once

// A whole read at the line's real speed, timed against the least the dialogue allows: shared by
// the benchmarks of a local port and of a port server.
#include "support/enginerig.h"

#include <QEventLoop>
#include <QTimer>

namespace linespeed {

// The floor: the two opening pauses, 16 records of 257 bytes at ten bit times a byte, the pacing
// between them, and the 20 ms of silence the device waits for before it takes each request that
// a record answers (the opening's first two are hidden in the pauses).
inline double readFloorMs(const irlearn::Timings &t)
{
    return 2.0 * t.openingPauseMs +
           irlearn::tableRecords * irlearn::recordBytes * 10 * 1000.0 / 9600 +
           (irlearn::tableRecords - 1) * t.pacingMs + irlearn::tableRecords * 20.0;
}

// Starts a read on the rig's open engine and waits in an event loop (not a polling wait: the CPU
// counted is the program's own) for its last record: the milliseconds from the call to that
// record whole, or 0 when it did not come within timeoutMs.
inline qint64 readToLastRecordMs(EngineRig &rig, int timeoutMs)
{
    QEventLoop loop;
    qint64 lastRecordMs = 0;
    QObject::connect(&rig.engine, &irlearn::DeviceEngine::progress, &loop,
                     [&lastRecordMs, &loop](int done, int total) {
                         if (done == total) {
                             lastRecordMs = EngineRig::now();
                             loop.quit();
                         }
                     });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    const qint64 startMs = EngineRig::now();
    if (!rig.engine.readTable(QStringLiteral("0001")))
        return 0;
    loop.exec();
    return lastRecordMs == 0 ? 0 : lastRecordMs - startMs;
}

} // namespace linespeed
