#pragma once

#include "commandline.h"

#include "engine/operation.h"
#include "protocol/timings.h"

#include <QJsonArray>
#include <QString>

#include <optional>

namespace irlearn::cli {

// The device's own timings; a test run may scale them all (IRLEARN_TIME_SCALE, a factor
// above 0 and at most 1), as the engine's own tests do.
Timings timingsFromEnvironment();

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

// Words for scripts.
QString outcomeWord(Outcome outcome);
QJsonArray numbersJson(const QList<int> &numbers);

} // namespace irlearn::cli
