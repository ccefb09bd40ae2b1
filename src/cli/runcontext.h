#pragma once

#include "commandline.h"
#include "signalwatch.h"

#include "engine/operation.h"
#include "protocol/timings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QString>

#include <memory>
#include <optional>

namespace irlearn::cli {

// The device's own timings; a test run may scale them all (IRLEARN_TIME_SCALE, a factor
// above 0 and at most 1), as the engine's own tests do, the opening pause to no less than
// minScaledOpeningPauseMs.
Timings timingsFromEnvironment();
constexpr int minScaledOpeningPauseMs = 50;
// The first wait before a retry: a second, scaled as the timings are.
int firstRetryMs();
// How long a port server is given to let the last connection go before a hang-up means its
// device is gone: NetworkPresence's own time, scaled as the timings are.
int serverGraceMs();

// A port ready to open: the name to show (COMn when it has one, else the path) and its device.
struct Target
{
    QString label;
    QString device;
};

// Resolves --port (a COM name through the settings' pins and the system's devices, a device path,
// or auto) and looks at the path before anything opens it. Nothing when it names no serial port;
// *why says so.
std::optional<Target> resolveTarget(const Request &request, const QString &port, QString *why);

// Starts a run on the device(s); a run refused before anything is sent ends at once, any other
// in the program's event loop, with the exit code its finished() tells.
// The first Ctrl-C or SIGTERM asks the run to stop at a safe point (Run::interrupt).
template <typename Run> int runToTheEnd(std::unique_ptr<Run> run)
{
    SignalWatch watch;
    QObject::connect(&watch, &SignalWatch::interrupted, run.get(), &Run::interrupt);
    QObject::connect(run.get(), &Run::finished, QCoreApplication::instance(),
                     &QCoreApplication::exit, Qt::QueuedConnection);
    const int refused = run->start();
    if (refused != Run::started)
        return refused;
    return QCoreApplication::exec();
}

// Every failure where the device did not answer ends with the hint to check the device number and
// the cable, once: the engine's own words for a silent device carry it already.
QString withNoAnswerHint(const QString &message);

// The last result line of read, download and clone: the table's SHA-256 and the time taken.
QString sumAndTime(const QString &sha256, const QElapsedTimer &clock);
double seconds(const QElapsedTimer &clock);

struct JobResult;

// What an interrupted job did and did not do, for the operator.
QString interruptedText(Command command, const JobResult &result);
// Said on the first Ctrl-C or SIGTERM.
inline const QString stoppingText =
    QStringLiteral("收到中断信号，在安全处停止…（再按一次 Ctrl-C 立即退出）");

// Words for scripts.
QString outcomeWord(Outcome outcome);
QJsonArray numbersJson(const QList<int> &numbers);

} // namespace irlearn::cli
