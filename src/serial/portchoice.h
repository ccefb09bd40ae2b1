#pragma once

#include "serial/portinfo.h"
#include "serial/portnames.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace irlearn {

// A port as an operator names it, resolved to the device to open.
struct PortChoice
{
    QString name;   // "COM3" when the port has a COM name, else empty
    QString device; // the device path to open; empty when the text names none
    QString error;  // why not, for the operator, when device is empty
    bool ok() const { return !device.isEmpty(); }
};

// A port with its COM name, for listings.
struct NamedPort
{
    int number = 0; // 1 = COM1
    PortDetails details;
};

// The word that asks for the one USB serial adapter present.
inline const QString autoPort = QStringLiteral("auto");

// Resolves text, which is a COM name (COM1 ... COM32, any case, mapped through names as the
// window maps it), "auto" (the only USB serial adapter among system), a network address
// ("rfc2217://HOST:PORT", "tcp://HOST:PORT") or a device path.
PortChoice choosePort(const QString &text, const PortNames &names,
                      const QList<PortDetails> &system);

// Every COM name that has a device, in order, with what the system tells about the device:
// system ports as listed, pinned ones that the system does not list described on their own.
QList<NamedPort> namedPorts(const PortNames &names, const QList<PortDetails> &system);

// Why path cannot be a serial port, seen before anything opens it: nothing there, a folder, a
// regular file, a pipe. Nothing when it is a character device (or where the system cannot tell
// before opening, as on Windows).
std::optional<OpenFailure> portPathProblem(const QString &path);

} // namespace irlearn
