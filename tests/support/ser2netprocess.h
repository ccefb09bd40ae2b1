#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A ser2net port server as its own process, for tests and benchmarks: it serves one device (a
// simulator's pseudo-terminal) on two loopback ports of its own choosing, one speaking RFC 2217
// and one plain TCP, from a configuration written into a temporary folder.
class Ser2netProcess
{
public:
    // charDelay: ser2net's own default, waiting about two character times after the device's
    // last byte before it forwards what it has; off, it forwards at once.
    explicit Ser2netProcess(QString device, bool charDelay = true);
    ~Ser2netProcess(); // kills ser2net if it still runs

    // The ser2net program, or empty when it is not installed.
    static QString program();

    // Starts ser2net and waits (up to 5 s) until both ports listen. False on failure.
    bool start();
    // Kills ser2net at once (a server pulled off the network) and waits for it to end.
    void kill();

    QString rfc2217Address() const;
    QString tcpAddress() const;

private:
    QString m_device;
    bool m_charDelay = true;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_rfc2217Port = 0;
    quint16 m_tcpPort = 0;
};
