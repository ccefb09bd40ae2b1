#include "serial/portnames.h"

#include "base/settings.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSet>

#include <algorithm>

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

PortNames PortNames::fromSettings(const Settings &settings)
{
#ifdef Q_OS_WIN
    Q_UNUSED(settings);
    PortNames names;
    names.m_identity = true;
    return names;
#else
    QMap<int, QString> pinned;
    for (int n = 1; n <= maxPort; ++n) {
        const QString path =
            settings.Ini_Read(Settings::portsSection, QStringLiteral("COM%1").arg(n), QString());
        if (!path.isEmpty())
            pinned.insert(n, path);
    }
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

QString PortNames::deviceFor(int port) const
{
    if (port < 1 || port > maxPort)
        return QString();
    if (m_identity)
        return QStringLiteral("COM%1").arg(port);
    return m_devices.value(port);
}

} // namespace irlearn
