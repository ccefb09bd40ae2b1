#include "serial/networklink.h"

#include "serial/linerate.h"

#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace irlearn {

namespace {

// Telnet.
constexpr quint8 iac = 255;
constexpr quint8 dont = 254;
constexpr quint8 doo = 253;
constexpr quint8 wont = 252;
constexpr quint8 will = 251;
constexpr quint8 sb = 250;
constexpr quint8 se = 240;
constexpr quint8 optBinary = 0;
constexpr quint8 optSuppressGoAhead = 3;
constexpr quint8 optComPort = 44;

// The serial-port option's commands; the server answers each with the command plus 100.
constexpr quint8 setBaudRate = 1;
constexpr quint8 setDataSize = 2;
constexpr quint8 setParity = 3;
constexpr quint8 setStopSize = 4;
constexpr quint8 setControl = 5;
constexpr quint8 purgeData = 12;
constexpr quint8 serverAnswer = 100;

constexpr quint32 baudRate = lineBaud;
constexpr quint8 dataSize = 8;
constexpr quint8 parityNone = 1;
constexpr quint8 stopBitsOne = 1;
constexpr quint8 noFlowControl = 1;
constexpr quint8 purgeReceived = 1; // the server's buffer of bytes from the device

constexpr int allSettingsAnswered = 0xF;
constexpr int maxSubnegotiation = 64;
constexpr int maxServerText = 200;

QByteArray bytesOf(std::initializer_list<quint8> values)
{
    QByteArray out;
    for (quint8 v : values)
        out += char(v);
    return out;
}

QByteArray bigEndian(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * (3 - i))) & 0xFF);
    return bytes;
}

QByteArray escaped(const QByteArray &bytes)
{
    if (!bytes.contains(char(iac)))
        return bytes;
    QByteArray out;
    out.reserve(bytes.size() + bytes.count(char(iac)));
    for (char c : bytes) {
        out += c;
        if (quint8(c) == iac)
            out += c;
    }
    return out;
}

void keepAlive(QTcpSocket &socket)
{
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // Frames are small and each waits for its answer: no batching of small writes.
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
#ifdef Q_OS_LINUX
    // The system's default waits two hours before it first probes; a server that vanished
    // without a word (its cable pulled) should be noticed within half a minute.
    const int fd = int(socket.socketDescriptor());
    const int idle = 10, interval = 5, count = 3;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
#endif
}

} // namespace

NetworkLink::NetworkLink(QObject *parent)
    : DeviceLink(parent), m_socket(new QTcpSocket(this)), m_next(new QTimer(this)),
      m_attemptEnd(new QTimer(this)), m_tell(new QTimer(this)), m_settle(new QTimer(this)),
      m_purgeWait(new QTimer(this))
{
    m_next->setSingleShot(true);
    connect(m_next, &QTimer::timeout, this, &NetworkLink::nextAttempt);
    m_attemptEnd->setSingleShot(true);
    connect(m_attemptEnd, &QTimer::timeout, this, &NetworkLink::attemptTimedOut);
    m_tell->setSingleShot(true);
    connect(m_tell, &QTimer::timeout, this, &NetworkLink::tell);
    m_purgeWait->setSingleShot(true);
    connect(m_purgeWait, &QTimer::timeout, this, &NetworkLink::purgeUnanswered);
    m_settle->setSingleShot(true);
    connect(m_settle, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Negotiating)
            lineReady();
    });
    connect(m_socket, &QTcpSocket::connected, this, &NetworkLink::connected);
    connect(m_socket, &QTcpSocket::readyRead, this, &NetworkLink::readAvailable);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &NetworkLink::socketError);
    connect(m_socket, &QTcpSocket::disconnected, this, &NetworkLink::socketError);
}

NetworkLink::~NetworkLink()
{
    close();
}

void NetworkLink::open(const QString &address)
{
    close();
    QString why;
    const std::optional<NetworkAddress> parsed = parseNetworkAddress(address, &why);
    m_badAddress = !parsed;
    if (parsed)
        m_address = *parsed;
    else
        m_openError = {PortState::Other, why};
    m_deadline = QDeadlineTimer(m_openTimeoutMs);
    m_hangUp = {};
    m_phase = Phase::Waiting;
    // Even a refused connection may be reported inside connectToHost(): the first one starts
    // from the event loop, so that open() never tells its own outcome.
    m_next->start(0);
}

void NetworkLink::nextAttempt()
{
    if (m_phase != Phase::Waiting)
        return;
    if (m_badAddress) {
        m_phase = Phase::Closed;
        tell();
        return;
    }
    attempt();
}

// One connection, up to the line being ready, a failure or the open's deadline.
void NetworkLink::attempt()
{
    m_openError = {};
    m_ready = false;
    m_hungUp = false;
    m_serverSaid.clear();
    m_localOn.reset();
    m_localAsked.reset();
    m_remoteOn.reset();
    m_remoteAsked.reset();
    m_settingsSent = false;
    m_settingsAnswered = 0;
    m_purgeAnswered = false;
    m_purgesPending = 0;
    m_held.clear();
    m_parse = Parse::Data;
    m_sub.clear();

    m_phase = Phase::Connecting;
    m_attemptEnd->start(int(qMax<qint64>(m_deadline.remainingTime(), 0)));
    m_socket->connectToHost(m_address.host, m_address.port);
}

void NetworkLink::attemptTimedOut()
{
    if (!opening())
        return;
    m_openError = m_hangUp.message.isEmpty() ? timedOut(m_phase) : m_hangUp;
    dropConnection();
    attemptEnded();
}

void NetworkLink::attemptEnded()
{
    m_attemptEnd->stop();
    m_settle->stop();
    if (m_hungUp)
        m_hangUp = m_openError;
    // A server that hangs up at once mostly still holds the device for a connection that just
    // ended (often our own, a moment ago) and lets it go shortly after.
    if (m_hungUp && m_deadline.remainingTime() >= retryMs) {
        m_phase = Phase::Waiting;
        m_next->start(retryMs);
        return;
    }
    m_phase = Phase::Closed;
    m_tell->start(0);
}

void NetworkLink::lineReady()
{
    if (m_ready)
        return;
    m_ready = true;
    m_attemptEnd->stop();
    m_settle->stop();
    m_tell->start(0);
}

void NetworkLink::tell()
{
    if (m_phase == Phase::Negotiating && m_ready) {
        m_phase = Phase::Open;
        emit opened();
    } else if (m_phase == Phase::Closed) {
        emit openFailed(m_openError);
    }
}

OpenFailure NetworkLink::timedOut(Phase reached) const
{
    const QString seconds = QString::number(m_openTimeoutMs / 1000.0);
    if (reached == Phase::Connecting)
        return {
            PortState::Other,
            QStringLiteral("连接 %1 超时：%2 秒内没有应答").arg(m_address.hostAndPort(), seconds)};
    return {PortState::Other, QStringLiteral("串口服务器 %1 在 %2 秒内没有确认线路设置"
                                             "（若是普通 TCP 端口，请用 tcp:// 地址）")
                                  .arg(m_address.hostAndPort(), seconds)};
}

void NetworkLink::close()
{
    m_next->stop();
    m_tell->stop();
    m_attemptEnd->stop();
    m_settle->stop();
    dropConnection();
}

bool NetworkLink::isOpen() const
{
    return m_phase == Phase::Open;
}

bool NetworkLink::discardPending()
{
    if (!isOpen())
        return false;
    // What waits unread in the socket is stale as data; its commands still count.
    QByteArray stale;
    parse(m_socket->readAll(), stale);
    if (!isOpen())
        return false;
    if (m_address.protocol == NetworkAddress::Rfc2217) {
        sendComPort(purgeData, QByteArray(1, char(purgeReceived)));
        m_held.clear();
        if (m_purgeAnswered) {
            ++m_purgesPending;
            m_purgeWait->start(purgeAnswerMs);
        }
    }
    return true;
}

bool NetworkLink::write(const QByteArray &bytes)
{
    if (!isOpen())
        return false;
    const QByteArray out = m_address.protocol == NetworkAddress::Rfc2217 ? escaped(bytes) : bytes;
    if (m_socket->write(out) != out.size())
        return false;
    // The purge before it and the frame leave together, now.
    m_socket->flush();
    return true;
}

void NetworkLink::connected()
{
    if (m_phase != Phase::Connecting)
        return;
    keepAlive(*m_socket);
    m_phase = Phase::Negotiating;
    if (m_address.protocol == NetworkAddress::RawTcp) {
        // Nothing to agree on; a server that turns the connection away does so at once.
        m_settle->start(rawSettleMs);
        return;
    }
    // Binary both ways (a record is any bytes), no go-aheads, and the serial-port option.
    m_localAsked.set(optComPort);
    m_localAsked.set(optBinary);
    m_localAsked.set(optSuppressGoAhead);
    m_remoteAsked.set(optBinary);
    m_remoteAsked.set(optSuppressGoAhead);
    QByteArray hello;
    for (const auto &[verb, code] : {std::pair{will, optComPort},
                                     {will, optBinary},
                                     {doo, optBinary},
                                     {will, optSuppressGoAhead},
                                     {doo, optSuppressGoAhead}})
        hello += bytesOf({iac, verb, code});
    m_socket->write(hello);
}

void NetworkLink::socketError()
{
    if (m_phase != Phase::Open && !opening())
        return;
    if (m_phase == Phase::Open) {
        // The last bytes before the end still belong to the answer.
        readAvailable();
        if (m_phase != Phase::Open)
            return;
        dropConnection();
        QMetaObject::invokeMethod(this, &DeviceLink::lost, Qt::QueuedConnection);
        return;
    }
    const QString where = m_address.hostAndPort();
    switch (m_socket->error()) {
    case QAbstractSocket::HostNotFoundError:
        failOpen(PortState::Missing, QStringLiteral("找不到主机：%1").arg(m_address.host));
        break;
    case QAbstractSocket::ConnectionRefusedError:
        failOpen(PortState::Missing,
                 QStringLiteral("连接被拒绝：%1（该端口上没有串口服务器在运行）").arg(where));
        break;
    case QAbstractSocket::RemoteHostClosedError: {
        readAvailable();
        // ser2net says why in a line of text before it hangs up.
        QString said = QString::fromLatin1(m_serverSaid).simplified();
        for (const QChar c : std::as_const(said)) {
            if (c.unicode() < 0x20 || c.unicode() > 0x7E) {
                said.clear();
                break;
            }
        }
        m_hungUp = true;
        failOpen(PortState::Busy,
                 QStringLiteral("串口服务器 %1 关闭了连接（端口可能正被别人使用）%2")
                     .arg(where, said.isEmpty() ? QString() : QStringLiteral("：") + said));
        break;
    }
    default:
        failOpen(PortState::Other,
                 QStringLiteral("无法连接 %1：%2").arg(where, m_socket->errorString()));
        break;
    }
}

void NetworkLink::readAvailable()
{
    if (m_phase != Phase::Open && !opening())
        return;
    QByteArray data;
    parse(m_socket->readAll(), data);
    if (m_phase == Phase::Open && !data.isEmpty())
        emit received(data);
}

void NetworkLink::parse(const QByteArray &bytes, QByteArray &data)
{
    if (m_address.protocol == NetworkAddress::RawTcp) {
        if (m_phase == Phase::Open)
            data += bytes;
        else
            m_serverSaid += bytes.left(maxServerText - m_serverSaid.size());
        return;
    }
    // A command may be cut anywhere between two reads: the parser's state carries over.
    for (const char c : bytes) {
        const quint8 b = quint8(c);
        switch (m_parse) {
        case Parse::Data:
            if (b == iac)
                m_parse = Parse::Iac;
            else if (m_phase == Phase::Open)
                (m_purgesPending > 0 ? m_held : data) += c;
            else if (m_phase != Phase::Open && m_serverSaid.size() < maxServerText)
                m_serverSaid += c;
            break;
        case Parse::Iac:
            if (b == iac) {
                if (m_phase == Phase::Open)
                    (m_purgesPending > 0 ? m_held : data) += c;
                m_parse = Parse::Data;
            } else if (b >= will) {
                m_verb = b;
                m_parse = Parse::Option;
            } else if (b == sb) {
                m_sub.clear();
                m_parse = Parse::Sub;
            } else {
                m_parse = Parse::Data; // no operation, go ahead, data mark ...: nothing to do
            }
            break;
        case Parse::Option:
            m_parse = Parse::Data;
            option(m_verb, b);
            break;
        case Parse::Sub:
            if (b == iac)
                m_parse = Parse::SubIac;
            else if (m_sub.size() < maxSubnegotiation)
                m_sub += c;
            break;
        case Parse::SubIac:
            if (b == iac) {
                if (m_sub.size() < maxSubnegotiation)
                    m_sub += c;
                m_parse = Parse::Sub;
            } else {
                m_parse = Parse::Data;
                if (b == se)
                    subnegotiation();
            }
            break;
        }
        if (m_phase != Phase::Open && !opening())
            return;
    }
}

void NetworkLink::option(quint8 verb, quint8 code)
{
    const bool ours = code == optComPort || code == optBinary || code == optSuppressGoAhead;
    const bool theirs = code == optBinary || code == optSuppressGoAhead;
    switch (verb) {
    case doo:
        if (!ours) {
            sendCommand(wont, code);
            return;
        }
        if (!m_localOn[code] && !m_localAsked[code])
            sendCommand(will, code);
        m_localOn.set(code);
        m_localAsked.reset(code);
        if (code == optComPort)
            sendLineSettings();
        return;
    case dont:
        if (m_localOn[code] && !m_localAsked[code])
            sendCommand(wont, code);
        if (code == optComPort && (m_localOn[code] || m_localAsked[code]))
            failOpen(PortState::NotASerialPort,
                     QStringLiteral("串口服务器 %1 不支持 RFC 2217 串口控制")
                         .arg(m_address.hostAndPort()));
        m_localOn.reset(code);
        m_localAsked.reset(code);
        return;
    case will:
        if (!theirs) {
            sendCommand(dont, code);
            return;
        }
        if (!m_remoteOn[code] && !m_remoteAsked[code])
            sendCommand(doo, code);
        m_remoteOn.set(code);
        m_remoteAsked.reset(code);
        return;
    case wont:
        if (m_remoteOn[code] && !m_remoteAsked[code])
            sendCommand(dont, code);
        m_remoteOn.reset(code);
        m_remoteAsked.reset(code);
        return;
    default:
        return;
    }
}

// Bytes that come before the answer to the last purge left the device before the purge: stale, as
// those a local port's flush throws away. The device's answer to the frame that follows the purge
// comes after it.
void NetworkLink::purgeAnswered()
{
    if (m_phase == Phase::Negotiating) {
        m_purgeAnswered = true;
        return;
    }
    if (m_purgesPending == 0)
        return;
    m_held.clear();
    if (--m_purgesPending == 0)
        m_purgeWait->stop();
}

// A server that answered the first purge but not this one: what was held back is delivered after
// all, and later purges are not waited for.
void NetworkLink::purgeUnanswered()
{
    if (m_phase != Phase::Open || m_purgesPending == 0)
        return;
    m_purgeAnswered = false;
    m_purgesPending = 0;
    const QByteArray held = m_held;
    m_held.clear();
    if (!held.isEmpty())
        emit received(held);
}

void NetworkLink::subnegotiation()
{
    if (m_sub.size() < 2 || quint8(m_sub.at(0)) != optComPort)
        return;
    const quint8 command = quint8(m_sub.at(1));
    const QByteArray value = m_sub.mid(2);
    if (command == serverAnswer + purgeData) {
        purgeAnswered();
        return;
    }
    if (command < serverAnswer + setBaudRate || command > serverAnswer + setStopSize ||
        value.isEmpty())
        return;
    quint32 number = 0;
    for (char c : value)
        number = (number << 8) | quint8(c);
    lineSettingAnswered(quint8(command - serverAnswer), number);
}

// Only the four line settings are waited for: the answer to the flow control (like those to
// DTR and RTS) may never come from a server in front of a pseudo-terminal or a three-wire line.
void NetworkLink::lineSettingAnswered(quint8 command, quint32 value)
{
    if (m_phase != Phase::Negotiating)
        return;
    QString wanted;
    bool right = false;
    switch (command) {
    case setBaudRate:
        right = value == baudRate;
        wanted = QStringLiteral("波特率 %1").arg(baudRate);
        break;
    case setDataSize:
        right = value == dataSize;
        wanted = QStringLiteral("数据位 %1").arg(dataSize);
        break;
    case setParity:
        right = value == parityNone;
        wanted = QStringLiteral("无校验");
        break;
    case setStopSize:
        right = value == stopBitsOne;
        wanted = QStringLiteral("停止位 1");
        break;
    default:
        return;
    }
    if (!right) {
        failOpen(PortState::Other,
                 QStringLiteral("串口服务器 %1 拒绝了线路设置：%2（服务器回答 %3）")
                     .arg(m_address.hostAndPort(), wanted)
                     .arg(value));
        return;
    }
    m_settingsAnswered |= 1 << (command - setBaudRate);
    if (m_settingsAnswered == allSettingsAnswered)
        lineReady();
}

void NetworkLink::sendCommand(quint8 verb, quint8 code)
{
    m_socket->write(bytesOf({iac, verb, code}));
}

void NetworkLink::sendComPort(quint8 command, const QByteArray &value)
{
    QByteArray out = bytesOf({iac, sb, optComPort, command});
    out += escaped(value);
    out += char(iac);
    out += char(se);
    m_socket->write(out);
}

void NetworkLink::sendLineSettings()
{
    if (m_settingsSent || m_phase != Phase::Negotiating)
        return;
    m_settingsSent = true;
    // Whatever the device sent before this connection is not an answer to it; and whether the
    // server answers a purge tells whether later ones can be waited for.
    sendComPort(purgeData, QByteArray(1, char(purgeReceived)));
    sendComPort(setBaudRate, bigEndian(baudRate));
    sendComPort(setDataSize, QByteArray(1, char(dataSize)));
    sendComPort(setParity, QByteArray(1, char(parityNone)));
    sendComPort(setStopSize, QByteArray(1, char(stopBitsOne)));
    sendComPort(setControl, QByteArray(1, char(noFlowControl)));
    m_socket->flush();
}

void NetworkLink::failOpen(PortState kind, const QString &text)
{
    if (!opening())
        return;
    m_openError = {kind, text};
    dropConnection();
    attemptEnded();
}

void NetworkLink::dropConnection()
{
    m_phase = Phase::Closed;
    m_purgesPending = 0;
    m_held.clear();
    m_purgeWait->stop();
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
}

} // namespace irlearn
