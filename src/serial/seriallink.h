#pragma once

#include "serial/devicelink.h"

#include <QTimer>

class QSerialPort;

namespace irlearn {

// The device's serial port: 9600 baud, no parity, 8 data bits, 1 stop bit, no flow control.
class SerialLink : public DeviceLink
{
    Q_OBJECT

public:
    explicit SerialLink(QObject *parent = nullptr);
    ~SerialLink() override;

    bool open(const QString &devicePath, OpenFailure *failure) override;
    void close() override;
    bool isOpen() const override;
    bool discardPending() override;
    bool write(const QByteArray &bytes) override;
    void expect(int bytes) override;

private:
    void readAvailable();
    void portError(int error);
    void deliver(bool mayGather);
    void gather();
    void endGathering();
    void stopGathering();

    QSerialPort *m_port = nullptr;
    // Bytes of the awaited answer not yet received, and the timer that ends a pause in reading
    // while most of them are still on the line.
    int m_expected = 0;
    bool m_gathering = false;
    QTimer *m_gatherEnd = nullptr;
};

} // namespace irlearn
