#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace irlearn {

class Settings;

// Port numbers (1 = COM1) and the devices behind them. On Windows COMn is the system's COMn. On
// Linux the settings may pin numbers to device paths (section "Ports", keys COM1 ... COM32); the
// numbers that are not pinned go, in ascending order, to the serial devices the system lists,
// ordered by path, skipping devices already pinned.
class PortNames
{
public:
    static constexpr int maxPort = 32;

    PortNames() = default;
    PortNames(QMap<int, QString> pinned, QStringList systemDevices);

    // Pinned ports from the settings, other numbers from the system's serial devices.
    static PortNames fromSettings(const Settings &settings);
    // The system's serial devices, by path.
    static QStringList systemDevices();

    // The device for port n, or empty when port n has none.
    QString deviceFor(int port) const;

private:
    QMap<int, QString> m_devices;
    bool m_identity = false;
};

} // namespace irlearn
