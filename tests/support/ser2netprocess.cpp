#include "support/ser2netprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

namespace {

// A port nobody listens on now (the system's choice for a listener closed again at once).
quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

// Whether something listens on 127.0.0.1:port, from the kernel's table: a trial connection
// would make ser2net open the device.
bool listening(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local =
        "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields.at(1) == local && fields.at(3) == "0A")
            return true;
    }
    return false;
}

} // namespace

Ser2netProcess::Ser2netProcess(QString device, bool charDelay)
    : m_device(std::move(device)), m_charDelay(charDelay)
{
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

Ser2netProcess::~Ser2netProcess()
{
    kill();
}

QString Ser2netProcess::program()
{
    return QStandardPaths::findExecutable(QStringLiteral("ser2net"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
                                           QStringLiteral("/usr/local/sbin"),
                                           QStringLiteral("/usr/local/bin")});
}

bool Ser2netProcess::start()
{
    const QString exe = program();
    if (exe.isEmpty() || !m_dir.isValid())
        return false;
    m_rfc2217Port = freePort();
    m_tcpPort = freePort();
    if (m_rfc2217Port == 0 || m_tcpPort == 0 || m_rfc2217Port == m_tcpPort)
        return false;
    // The terminal has no modem lines ("local"); ser2net sets the line to 9600 8N1 itself for
    // the plain port, and takes the client's settings on the RFC 2217 one.
    const QString config = QStringLiteral("connection: &rfc2217\n"
                                          "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
                                          "  connector: serialdev,%3,9600n81,local\n"
                                          "  options:\n"
                                          "    chardelay: %4\n"
                                          "connection: &raw\n"
                                          "  accepter: tcp,127.0.0.1,%2\n"
                                          "  connector: serialdev,%3,9600n81,local\n")
                               .arg(m_rfc2217Port)
                               .arg(m_tcpPort)
                               .arg(m_device)
                               .arg(m_charDelay ? QStringLiteral("true") : QStringLiteral("false"));
    const QString path = m_dir.filePath(QStringLiteral("ser2net.yaml"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0)
        return false;
    file.close();
    m_process.start(exe,
                    {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-P"),
                     m_dir.filePath(QStringLiteral("ser2net.pid")), QStringLiteral("-c"), path});
    if (!m_process.waitForStarted(5000))
        return false;
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        if (listening(m_rfc2217Port) && listening(m_tcpPort))
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

QString Ser2netProcess::rfc2217Address() const
{
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_rfc2217Port);
}

QString Ser2netProcess::tcpAddress() const
{
    return QStringLiteral("tcp://127.0.0.1:%1").arg(m_tcpPort);
}
