#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>

class QSerialPort;

namespace irlearn {

// Kinds of the communication event (CommEvent).
namespace comm {
enum Event : int {
    EvSend = 1,
    EvReceive = 2,
    EvCTS = 3,
    EvDSR = 4,
    EvCD = 5,
    EvRing = 6,
    EvEOF = 7,
    ErBreak = 1001,
    ErCTSTO = 1002,
    ErDSRTO = 1003,
    ErFrame = 1004,
    ErOverrun = 1006,
    ErCDTO = 1007,
    ErRxOver = 1008,
    ErRxParity = 1009,
    ErTxFull = 1010,
    ErDCB = 1011,
};
enum InputModes : int { InputModeText = 0, InputModeBinary = 1 };
} // namespace comm

// The serial communication control: one port, addressed by number, driven through properties and
// one event. Received bytes collect in our own input buffer; the event OnComm is raised with
// CommEvent 2 whenever bytes arrive and at least RThreshold of them wait there. The event is
// always posted, never raised from inside a call, so it reaches its handler between other events
// or inside any wait that processes events, as the protocol's nested reads expect.
//
// Setters that the control rejects return false (the port is missing, busy, not permitted, the
// value is invalid, or the property cannot change while the port is open); callers decide whether
// to ignore that or report it.
class CommControl : public QObject
{
    Q_OBJECT

public:
    // Maps a port number (1 = COM1) to the system's port name or device path; empty when there is
    // no such port.
    using PortResolver = std::function<QString(int)>;

    explicit CommControl(PortResolver resolver, QObject *parent = nullptr);
    ~CommControl() override;

    int CommPort() const { return m_commPort; }
    bool setCommPort(int port);

    QString Settings() const { return m_settings; }
    bool setSettings(const QString &settings);

    int InputMode() const { return m_inputMode; }
    bool setInputMode(int mode);

    int InputLen() const { return m_inputLen; }
    bool setInputLen(int length);

    int RThreshold() const { return m_rThreshold; }
    bool setRThreshold(int threshold);

    int InBufferSize() const { return m_inBufferSize; }
    bool setInBufferSize(int size);

    bool PortOpen() const;
    bool setPortOpen(bool open);

    // Bytes waiting in the input buffer, counting what the system has received meanwhile.
    int InBufferCount();
    // Only 0 is accepted: discards everything received so far, the driver's bytes included.
    bool setInBufferCount(int count);
    // Only 0 is accepted: discards bytes still waiting to be sent.
    bool setOutBufferCount(int count);

    // Sends the bytes (or the text's Latin-1 characters) as they are.
    bool Output(const QByteArray &bytes);
    bool Output(const QString &text);

    // Removes and returns the whole input buffer: a QByteArray in binary mode, a QString in text
    // mode.
    QVariant Input();

    int CommEvent() const { return m_commEvent; }

    // The system's words for the last rejected open or write.
    QString errorString() const { return m_errorString; }
    // The device behind the current port number, as the resolver gives it.
    QString deviceName() const;

signals:
    void OnComm();
    // The device end vanished (an adapter pulled out). The port has already been closed.
    void portLost();

private:
    void pull();
    void postReceive();
    void deliverReceive();
    void postError(int event);
    void onPortError(int error);

    PortResolver m_resolver;
    QSerialPort *m_port = nullptr;
    QByteArray m_buffer;
    QString m_errorString;
    QString m_settings = QStringLiteral("9600,n,8,1");
    int m_commPort = 1;
    int m_inputMode = comm::InputModeText;
    int m_inputLen = 0;
    int m_rThreshold = 0;
    int m_inBufferSize = 1024;
    int m_commEvent = 0;
    bool m_receivePosted = false;
};

} // namespace irlearn
