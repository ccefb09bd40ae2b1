#include "support/ser2netprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Ports nobody listens on now (the system's choices for listeners closed again at once), all
// different.
QList<quint16> freePorts(qsizetype count)
{
    std::vector<QTcpServer> probes(static_cast<size_t>(count));
    QList<quint16> ports;
    for (QTcpServer &probe : probes)
        ports << (probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0);
    return ports;
}

// Whether something listens on 127.0.0.1:port, from the kernel's table: a trial connection
// would make ser2net open the device.
bool listening(quint16 port)
{
    QFile table(u"/proc/net/tcp"_s);
    // A listener: local 127.0.0.1:port, no remote end, state 0A.
    const QByteArray line =
        " 0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0') +
        " 00000000:0000 0A ";
    return table.open(QIODevice::ReadOnly) && table.readAll().contains(line);
}

} // namespace

Ser2netProcess::Ser2netProcess(QString device, bool charDelay)
    : Ser2netProcess(QStringList{std::move(device)}, charDelay)
{
}

Ser2netProcess::Ser2netProcess(QStringList devices, bool charDelay)
    : m_devices(std::move(devices)), m_charDelay(charDelay)
{
    const QList<quint16> ports = freePorts(2 * m_devices.size());
    m_rfc2217Ports = ports.mid(0, m_devices.size());
    m_tcpPorts = ports.mid(m_devices.size());
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

Ser2netProcess::~Ser2netProcess()
{
    kill();
}

QString Ser2netProcess::program()
{
    return QStandardPaths::findExecutable(
        u"ser2net"_s, {u"/usr/sbin"_s, u"/usr/bin"_s, u"/usr/local/sbin"_s, u"/usr/local/bin"_s});
}

bool Ser2netProcess::start()
{
    const QString exe = program();
    if (exe.isEmpty() || !m_dir.isValid() || m_rfc2217Ports.contains(0) || m_tcpPorts.contains(0))
        return false;
    // The terminal has no modem lines ("local"); ser2net sets the line to 9600 8N1 itself for
    // the plain port, and takes the client's settings on the RFC 2217 one.
    QString config;
    for (qsizetype i = 0; i < m_devices.size(); ++i)
        config += QStringLiteral("connection: &rfc2217-%5\n"
                                 "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
                                 "  connector: serialdev,%3,9600n81,local\n"
                                 "  options:\n"
                                 "    chardelay: %4\n"
                                 "connection: &raw-%5\n"
                                 "  accepter: tcp,127.0.0.1,%2\n"
                                 "  connector: serialdev,%3,9600n81,local\n")
                      .arg(m_rfc2217Ports.at(i))
                      .arg(m_tcpPorts.at(i))
                      .arg(m_devices.at(i))
                      .arg(m_charDelay ? u"true"_s : u"false"_s)
                      .arg(i);
    const QString path = m_dir.filePath(u"ser2net.yaml"_s);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0)
        return false;
    file.close();
    m_process.start(exe,
                    {u"-n"_s, u"-u"_s, u"-P"_s, m_dir.filePath(u"ser2net.pid"_s), u"-c"_s, path});
    if (!m_process.waitForStarted(5000))
        return false;
    const QList<quint16> ports = m_rfc2217Ports + m_tcpPorts;
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        if (std::all_of(ports.begin(), ports.end(), listening))
            return true;
        if (m_process.state() == QProcess::NotRunning)
            return false;
        QTest::qWait(20);
    }
    return false;
}

void Ser2netProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

QString Ser2netProcess::rfc2217Address(int device) const
{
    return u"rfc2217://127.0.0.1:%1"_s.arg(m_rfc2217Ports.value(device));
}

QString Ser2netProcess::tcpAddress(int device) const
{
    return u"tcp://127.0.0.1:%1"_s.arg(m_tcpPorts.value(device));
}
