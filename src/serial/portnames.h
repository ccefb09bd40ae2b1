#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace irlearn {

// Port numbers (1 = COM1) and the devices behind them. On Windows COMn is the system's COMn. On
// Linux the settings may pin numbers to device paths (section "Ports", keys COM1 ... COM32); the
// numbers that are not pinned go, in ascending order, to the serial devices the system lists,
// ordered by path, skipping devices already pinned.
// "COM" and the port number in decimal: the name an operator reads and types for port n.
QString comName(int port);

// The number in a COM name: "COM" (any case) and decimal digits only, blanks around ignored;
// -1 for any other text (a device path such as "com-bridge" is no COM name). The number is not
// checked against maxPort: the caller says what is wrong with "COM0" or "COM99".
int comNumber(const QString &text);

class PortNames
{
public:
    static constexpr int maxPort = 32;

    PortNames() = default;
    PortNames(QMap<int, QString> pinned, QStringList systemDevices);

    // The pinned ports (COMn -> device path, from the settings) and, for the numbers left, the
    // system's serial devices as they are now. On Windows COMn is simply COMn.
    static PortNames current(const QMap<int, QString> &pinned);
    // The system's serial devices, by path.
    static QStringList systemDevices();

    // The port number in the window's selector text ("COM3"): the rest after the first three
    // characters, whatever they are, read by its leading number and rounded (halves to even); 0
    // when there is none or it does not fit 16 bits. This loose reading is the selector's own;
    // everywhere else a port name must be a COM name (comNumber()).
    static int numberIn(const QString &text);

    // The device for port n, or empty when port n has none.
    QString deviceFor(int port) const;

private:
    QMap<int, QString> m_devices;
    bool m_identity = false;
};

} // namespace irlearn
