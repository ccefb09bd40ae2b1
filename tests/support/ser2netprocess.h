#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// A ser2net port server as its own process, for tests and benchmarks: it serves each device (a
// simulator's pseudo-terminal) on two loopback ports of its own choosing, one speaking RFC 2217
// and one plain TCP, from a configuration written into a temporary folder. The ports are chosen
// when it is made, so its addresses are known before it starts, and stay across a restart.
class Ser2netProcess
{
public:
    // charDelay: ser2net's own default, waiting about two character times after the device's
    // last byte before it forwards what it has; off, it forwards at once.
    explicit Ser2netProcess(QString device, bool charDelay = true);
    explicit Ser2netProcess(QStringList devices, bool charDelay = true);
    ~Ser2netProcess(); // kills ser2net if it still runs

    // The ser2net program, or empty when it is not installed.
    static QString program();

    // Starts ser2net and waits (up to 5 s) until every port listens. False on failure.
    bool start();
    // Kills ser2net at once (a server pulled off the network) and waits for it to end.
    void kill();

    // The addresses of the device'th device.
    QString rfc2217Address(int device = 0) const;
    QString tcpAddress(int device = 0) const;

private:
    QStringList m_devices;
    bool m_charDelay = true;
    QTemporaryDir m_dir;
    QProcess m_process;
    QList<quint16> m_rfc2217Ports;
    QList<quint16> m_tcpPorts;
};
