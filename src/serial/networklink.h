#pragma once

#include "serial/devicelink.h"
#include "serial/networkaddress.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <bitset>

class QTimer;
class QTcpSocket;

namespace irlearn {

// The device's serial port on a port server across the network (ser2net and the like): an
// "rfc2217://" address speaks telnet with the serial-port option and sets the line to 9600 baud,
// 8 data bits, no parity, 1 stop bit, no flow control, so that every frame and pause reaches the
// device as from a local port; a "tcp://" address carries the bytes as they are.
//
// An open ends once the server has answered the line settings (opened()) or at the latest after
// openTimeoutMs, 3 s unless set otherwise (openFailed()); a server that hangs up at once is tried
// again within that time. All of it runs on the socket's signals and timers.
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

    void open(const QString &address) override;
    void close() override;
    bool isOpen() const override;
    bool discardPending() override;
    bool write(const QByteArray &bytes) override;

    void setOpenTimeout(int ms) { m_openTimeoutMs = ms; }

private:
    // Waiting: an open is under way between two connections (before the first, or before the
    // retry after a hang-up).
    enum class Phase { Closed, Waiting, Connecting, Negotiating, Open };
    enum class Parse { Data, Iac, Option, Sub, SubIac };

    void nextAttempt();
    void attempt();
    void attemptTimedOut();
    void attemptEnded();
    void lineReady();
    void tell();
    bool opening() const { return m_phase == Phase::Connecting || m_phase == Phase::Negotiating; }
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
    QDeadlineTimer m_deadline;
    // Starts the next connection, or tells an address that cannot be used, from the event loop.
    QTimer *m_next = nullptr;
    QTimer *m_attemptEnd = nullptr; // the deadline of the connection under way
    // The outcome is told from the event loop, never from inside the parser or a socket's signal:
    // whoever hears it may write, close or open again at once.
    QTimer *m_tell = nullptr;
    bool m_ready = false; // the line is ready; opened() is about to be told
    bool m_badAddress = false;
    OpenFailure m_openError;
    // Set when the server hung up while the line was being opened, with what it said first.
    bool m_hungUp = false;
    // The last hang-up of this open: a retry that then runs out of time says why it was retried.
    OpenFailure m_hangUp;
    QByteArray m_serverSaid;
    // A plain TCP connection is taken as open once the server has had a moment to turn it away.
    QTimer *m_settle = nullptr;

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
