#pragma once

#include "support/openwait.h"
#include "support/simprocess.h"

#include "engine/deviceengine.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <optional>

// A device engine on a simulated device: starts the simulator, opens its pseudo-terminal and
// records what the engine tells a front end. Boxes are closed as soon as they open, as a front
// end that shows messages in passing does. Times are wall-clock milliseconds since the epoch, the
// clock of the simulator's frame log.
struct EngineRig
{
    // The simulator answers at once; tests of the line's speed pass --paced themselves. Shortened
    // opening pauses need a simulator that ends a frame on a shorter silence.
    explicit EngineRig(const QStringList &simArgs = {}, irlearn::Timings timings = {})
        : sim((timings.openingPauseMs < irlearn::Timings().openingPauseMs
                   ? QStringList{QStringLiteral("--frame-gap"), QStringLiteral("5")}
                   : QStringList()) +
                  simArgs,
              SimProcess::Pace::Instant),
          engine(timings)
    {
        QObject::connect(&engine, &irlearn::DeviceEngine::logLine, &engine,
                         [this](const QString &line) {
                             log << line;
                             logAtMs << now();
                         });
        QObject::connect(&engine, &irlearn::DeviceEngine::message, &engine,
                         [this](const QString &text) {
                             messages << text;
                             QTimer::singleShot(0, &engine, [this] {
                                 closedAtMs = now();
                                 engine.messageClosed();
                             });
                         });
        QObject::connect(&engine, &irlearn::DeviceEngine::progress, &engine,
                         [this](int done, int) { progressAtMs << qMakePair(done, now()); });
        QObject::connect(&engine, &irlearn::DeviceEngine::noticeHidden, &engine,
                         [this] { noticeHiddenAtMs << now(); });
        QObject::connect(&engine, &irlearn::DeviceEngine::finished, &engine,
                         [this](const irlearn::OperationResult &r) {
                             finishedAtMs = now();
                             results << r;
                         });
    }

    static qint64 now() { return QDateTime::currentMSecsSinceEpoch(); }

    // Starts the simulator and opens its terminal.
    bool start() { return sim.start() && openAndWait(engine, sim.linkPath()); }

    // Waits until no operation runs; the last result, if any operation ever finished.
    std::optional<irlearn::OperationResult> waitIdle(int timeoutMs = 5000)
    {
        if (!QTest::qWaitFor([this] { return !engine.isRunning(); }, timeoutMs) ||
            results.isEmpty())
            return std::nullopt;
        return results.constLast();
    }

    // The log lines that carry a device's answer.
    QStringList replies() const { return log.filter(QStringLiteral("收到参数：")); }

    SimProcess sim;
    irlearn::DeviceEngine engine;
    QStringList log;
    QList<qint64> logAtMs; // when each line of log was told
    QStringList messages;
    QList<irlearn::OperationResult> results;
    QList<QPair<int, qint64>> progressAtMs;
    QList<qint64> noticeHiddenAtMs;
    qint64 finishedAtMs = 0;
    qint64 closedAtMs = 0;
};
