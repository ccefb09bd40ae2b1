#pragma once

#include "serial/devicelink.h"
#include "serial/networkaddress.h"

#include <QByteArray>
#include <QString>

#include <bitset>

class QDeadlineTimer;
class QEventLoop;
class QTimer;
class QTcpSocket;

namespace irlearn {

// The device's serial port on a port server across the network (ser2net and the like): an
// "rfc2217://" address speaks telnet with the serial-port option and sets the line to 9600 baud,
// 8 data bits, no parity, 1 stop bit, no flow control, so that every frame and pause reaches the
// device as from a local port; a "tcp://" address carries the bytes as they are.
//
// open() waits for the connection and the server's answer to the line settings in a local event
// loop that takes no operator input, at most openTimeoutMs (3 s unless set otherwise): the
// engine's open is synchronous. A server that hangs up at once is tried again within that time.
// Everything after the open is asynchronous.
class NetworkLink : public DeviceLink
{
    Q_OBJECT

public:
    static constexpr int defaultOpenTimeoutMs = 3000;
    static constexpr int retryMs = 100;
    static constexpr int rawSettleMs = 100;
    static constexpr int purgeAnswerMs = 200;

    explicit NetworkLink(QObject *parent = nullptr);
    ~NetworkLink() override;

    bool open(const QString &address, OpenFailure *error) override;
    void close() override;
    bool isOpen() const override;
    bool discardPending() override;
    bool write(const QByteArray &bytes) override;

    void setOpenTimeout(int ms) { m_openTimeoutMs = ms; }

private:
    enum class Phase { Closed, Connecting, Negotiating, Open };
    enum class Parse { Data, Iac, Option, Sub, SubIac };

    Phase attempt(const QDeadlineTimer &deadline);
    static void pause(int ms);
    OpenFailure timedOut(Phase reached) const;
    void connected();
    void socketError();
    void readAvailable();
    void parse(const QByteArray &bytes, QByteArray &data);
    void option(quint8 verb, quint8 code);
    void subnegotiation();
    void purgeAnswered();
    void purgeUnanswered();
    void lineSettingAnswered(quint8 command, quint32 value);
    void sendCommand(quint8 verb, quint8 code);
    void sendComPort(quint8 command, const QByteArray &value);
    void sendLineSettings();
    void failOpen(PortState kind, const QString &text);
    void dropConnection();

    QTcpSocket *m_socket = nullptr;
    NetworkAddress m_address;
    Phase m_phase = Phase::Closed;
    int m_openTimeoutMs = defaultOpenTimeoutMs;
    OpenFailure m_openError;
    // Set when the server hung up while the line was being opened, with what it said first.
    bool m_hungUp = false;
    QByteArray m_serverSaid;
    // A plain TCP connection is taken as open once the server has had a moment to turn it away.
    QTimer *m_settle = nullptr;
    QEventLoop *m_openLoop = nullptr;

    // Telnet options: on, and asked for by us and not yet answered; ours (WILL) and the
    // server's (DO).
    std::bitset<256> m_localOn, m_localAsked, m_remoteOn, m_remoteAsked;
    bool m_settingsSent = false;
    int m_settingsAnswered = 0; // bit per line setting: baud, data size, parity, stop size
    // A server that answered the purge sent with the line settings is expected to answer every
    // purge: data that comes before the answer is held back (and dropped when it comes), for at
    // most purgeAnswerMs.
    bool m_purgeAnswered = false;
    int m_purgesPending = 0;
    QByteArray m_held;
    QTimer *m_purgeWait = nullptr;

    Parse m_parse = Parse::Data;
    quint8 m_verb = 0;
    QByteArray m_sub;
};

} // namespace irlearn
