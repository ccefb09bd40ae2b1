#pragma once

#include <QList>
#include <QSerialPort>
#include <QString>
#include <QStringList>

namespace irlearn {

// What the system can tell about a serial port, and why it may not open. Installers mostly hit
// three causes on Linux: the user is not in the group owning the device node, another program
// holds the port, or the adapter is unplugged. The window, its tooltips and the command line all
// explain a failure through these functions, so the operator reads the same sentence everywhere.

enum class PortState {
    Free,
    Busy,           // another process has the device open (see holderPid / holderName)
    NotPermitted,   // the current user may not read and write it (see group)
    Missing,        // nothing at that path, or a link to nothing
    NotASerialPort, // a directory, a regular file or another kind of node
    Network,        // a port server's address (rfc2217:// or tcp://), not tried
};

struct PortDetails
{
    QString path;   // canonical device path, e.g. /dev/ttyUSB0; the given path when missing
    QString byId;   // /dev/serial/by-id/... link to it, empty when none
    QString byPath; // /dev/serial/by-path/... link to it, empty when none
    QString usbId;  // "1a86:7523", empty when not USB
    QString serialNumber;
    QString description;
    QString manufacturer;
    QString group; // group owning the device node, when known
    PortState state = PortState::Missing;
    qint64 holderPid = 0; // when Busy and /proc tells
    QString holderName;   // from /proc/<pid>/comm
};

// One port, given by any path that leads to it (a tty, a by-id link, a pseudo-terminal).
PortDetails describePort(const QString &path);
// The serial devices the system lists, ordered by path.
QList<PortDetails> systemPorts();

struct OpenFailure
{
    enum Kind { Missing, Busy, NotPermitted, NotASerialPort, Other };
    Kind kind = Other;
    QString message; // one sentence for the operator
};

// Why opening path failed with error, judged from the error and what the file system says now.
OpenFailure explainOpenFailure(const QString &path, QSerialPort::SerialPortError error);

// Tooltip text: device path, by-id name, "USB vvvv:pppp" and serial number, one per line, each
// only where the system has it.
QString portSummary(const PortDetails &details);

namespace detail {
// The entries of dir that are symbolic links resolving to target (a canonical path), sorted.
QStringList findLinksTo(const QString &target, const QString &dir);
// The live process whose serial-port lock file in one of dirs names the port at path, or 0. Qt
// names the file after the path it was given, so both that and the canonical path are looked for.
qint64 lockHolder(const QString &path, const QStringList &dirs);
} // namespace detail

} // namespace irlearn
