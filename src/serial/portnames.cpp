#include "serial/portnames.h"

#include "base/numtext.h"
#include "serial/networkaddress.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace irlearn {

namespace {

QString canonical(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

} // namespace

PortNames::PortNames(QMap<int, QString> pinned, QStringList systemDevices)
{
    QSet<QString> taken;
    for (auto it = pinned.cbegin(); it != pinned.cend(); ++it) {
        if (it.key() >= 1 && it.key() <= maxPort && !it.value().isEmpty()) {
            m_devices.insert(it.key(), it.value());
            taken.insert(canonical(it.value()));
        }
    }
    std::sort(systemDevices.begin(), systemDevices.end());
    int port = 1;
    for (const QString &device : std::as_const(systemDevices)) {
        if (taken.contains(canonical(device)))
            continue;
        while (port <= maxPort && m_devices.contains(port))
            ++port;
        if (port > maxPort)
            break;
        m_devices.insert(port, device);
        taken.insert(canonical(device));
    }
}

PortNames PortNames::current(const QMap<int, QString> &pinned)
{
#ifdef Q_OS_WIN
    PortNames names;
    names.m_identity = true;
    // COMn is the system's own, but a port server may still be pinned to a number.
    for (auto it = pinned.cbegin(); it != pinned.cend(); ++it) {
        if (it.key() >= 1 && it.key() <= maxPort && isNetworkAddress(it.value()))
            names.m_devices.insert(it.key(), it.value());
    }
    return names;
#else
    return PortNames(pinned, systemDevices());
#endif
}

QStringList PortNames::systemDevices()
{
    QStringList devices;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        devices << info.systemLocation();
    std::sort(devices.begin(), devices.end());
    return devices;
}

int PortNames::numberIn(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.size() < 3)
        return 0;
    const double value = std::nearbyint(textValue(trimmed.mid(3))); // halves to even
    if (value < -32768 || value > 32767)
        return 0;
    return int(value);
}

QString PortNames::deviceFor(int port) const
{
    if (port < 1 || port > maxPort)
        return QString();
    if (m_identity)
        return m_devices.value(port, QStringLiteral("COM%1").arg(port));
    return m_devices.value(port);
}

} // namespace irlearn
