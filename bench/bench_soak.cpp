// A soak: N reads of the code table back to back through one engine on one simulated device, each
// table compared with the one the device holds, saved as a code file and read back. What it
// watches is what a long session wears down: tables that come back wrong, memory that is never
// given back, file handles that are never closed.
//
//   build/bench/bench_soak [N]      (N cycles, default 200)
//
// The engine runs on shortened timings and the simulator answers at once (not at 9600 baud): the
// dialogue is the same, only its pauses are shorter: 200 cycles take about two minutes. The exit
// status is 1 when a target is missed: a wrong table, growth of 1 MB or more, a handle left open.
#include "support/openwait.h"
#include "support/procstats.h"
#include "support/simprocess.h"

#include "codefile/codefile.h"
#include "engine/deviceengine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace irlearn;

namespace {

QStringList records(const CodeTable &table)
{
    QStringList list;
    for (int r = 0; r < tableRecords; ++r)
        list << table[std::size_t(r)];
    return list;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 200;
    if (cycles < 2) {
        std::fprintf(stderr, "usage: %s [CYCLES >= 2]\n", argv[0]);
        return 2;
    }
    // The first reads fill caches and pools that then stay: growth is counted from after them.
    const int warmUp = qMin(10, cycles / 2);

    Timings timings;
    timings.replyWindowMs = 250;
    timings.recordTimeoutMs = 400;
    timings.openingPauseMs = 15;
    timings.pacingMs = 10;
    timings.noticeMs = 2000;
    // A frame ends on 5 ms of silence, well inside the shortened opening pause.
    SimProcess sim({QStringLiteral("--frame-gap"), QStringLiteral("5")}, SimProcess::Pace::Instant);
    QTemporaryDir dir;
    if (!sim.start() || !dir.isValid()) {
        std::fprintf(stderr, "cannot start the simulator\n");
        return 2;
    }
    const QStringList stored = sim.storedTable();
    const QString path = dir.filePath(QStringLiteral("soak.bin"));

    DeviceEngine engine(timings);
    if (!openAndWait(engine, sim.linkPath())) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(sim.linkPath()));
        return 2;
    }
    OperationResult result;
    QEventLoop loop;
    QObject::connect(&engine, &DeviceEngine::finished, [&](const OperationResult &r) {
        result = r;
        loop.quit();
    });
    // A front end that shows each message in passing.
    QObject::connect(&engine, &DeviceEngine::message, &engine, &DeviceEngine::messageClosed,
                     Qt::QueuedConnection);

    const qsizetype handlesAtStart = openHandles();
    qint64 residentAfterWarmUp = 0;
    int wrongTables = 0;
    int failedReads = 0;
    int failedSaves = 0;
    QElapsedTimer clock;
    clock.start();
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        if (cycle == warmUp + 1)
            residentAfterWarmUp = residentKiB();
        if (!engine.readTable(QStringLiteral("0001"))) {
            ++failedReads;
            continue;
        }
        loop.exec();
        if (!result.ok()) {
            ++failedReads;
            std::fprintf(stderr, "cycle %d: %s\n", cycle, qPrintable(result.detail));
            continue;
        }
        if (records(result.table) != stored)
            ++wrongTables;
        QString error;
        const codefile::Loaded loaded =
            codefile::write(path, result.table, &error) ? codefile::load(path) : codefile::Loaded{};
        if (!loaded.ok)
            ++failedSaves;
        else if (loaded.lines != stored)
            ++wrongTables;
    }
    const double seconds = double(clock.elapsed()) / 1000.0;
    const qint64 residentAtEnd = residentKiB();
    const qsizetype handlesAtEnd = openHandles();
    const qint64 growth = residentAtEnd - residentAfterWarmUp;

    std::printf("cycles:              %d (%.1f s, %.0f ms each)\n", cycles, seconds,
                1000.0 * seconds / cycles);
    std::printf("wrong tables:        %d\n", wrongTables);
    std::printf("failed reads, saves: %d, %d\n", failedReads, failedSaves);
    std::printf(
        "VmRSS:               %lld KiB after cycle %d, %lld KiB after cycle %d: %+lld KiB\n",
        static_cast<long long>(residentAfterWarmUp), warmUp, static_cast<long long>(residentAtEnd),
        cycles, static_cast<long long>(growth));
    std::printf("open handles:        %lld at start, %lld at end\n",
                static_cast<long long>(handlesAtStart), static_cast<long long>(handlesAtEnd));
    const bool met = wrongTables == 0 && failedReads == 0 && failedSaves == 0 && growth < 1024 &&
                     handlesAtEnd == handlesAtStart;
    return met ? 0 : 1;
}
