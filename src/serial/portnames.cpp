#include "serial/portnames.h"

#include "base/numtext.h"
#include "base/regularfile.h"
#include "serial/networkaddress.h"

#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace irlearn {

QString comName(int port)
{
    return QStringLiteral("COM%1").arg(port);
}

int comNumber(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^COM([0-9]{1,9})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

PortNames::PortNames(QMap<int, QString> pinned, QStringList systemDevices)
{
    QSet<QString> taken;
    for (auto it = pinned.cbegin(); it != pinned.cend(); ++it) {
        if (it.key() >= 1 && it.key() <= maxPort && !it.value().isEmpty()) {
            m_devices.insert(it.key(), it.value());
            taken.insert(canonicalPath(it.value()));
        }
    }
    std::sort(systemDevices.begin(), systemDevices.end());
    int port = 1;
    for (const QString &device : std::as_const(systemDevices)) {
        if (taken.contains(canonicalPath(device)))
            continue;
        while (port <= maxPort && m_devices.contains(port))
            ++port;
        if (port > maxPort)
            break;
        m_devices.insert(port, device);
        taken.insert(canonicalPath(device));
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
        return m_devices.value(port, comName(port));
    return m_devices.value(port);
}

} // namespace irlearn
