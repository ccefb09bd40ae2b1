#pragma once

#include "serial/devicelink.h"

#include <QPointer>
#include <QTimer>

#include <optional>

class QSerialPort;
class QSocketNotifier;

namespace irlearn {

// The device's serial port: 9600 baud, no parity, 8 data bits, 1 stop bit, no flow control.
// open() opens the port at once; its outcome is still told from the event loop, as any line's.
class SerialLink : public DeviceLink
{
    Q_OBJECT

public:
    explicit SerialLink(QObject *parent = nullptr);
    ~SerialLink() override;

    void open(const QString &devicePath) override;
    void close() override;
    bool isOpen() const override;
    bool discardPending() override;
    bool write(const QByteArray &bytes) override;
    void expect(int bytes) override;

private:
    std::optional<OpenFailure> tryOpen(const QString &devicePath);
    void report();
    void readAvailable();
    void portError(int error);
    void deliver(bool mayGather);
    void gather();
    void endGathering();
    void stopGathering();
    QSocketNotifier *readNotifier() const;

    QSerialPort *m_port = nullptr;
    // Bytes of the awaited answer not yet received, and the timer that ends a pause in reading
    // while most of them are still on the line.
    int m_expected = 0;
    bool m_gathering = false;
    QPointer<QSocketNotifier> m_pausedNotifier; // the port's, off while the answer gathers
    bool m_gathered = false;                    // the answer awaited has had its one pause
    QTimer *m_gatherEnd = nullptr;
    // The outcome of the last open(), until it is told.
    QTimer *m_report = nullptr;
    QString m_path;
    std::optional<OpenFailure> m_failure;
};

} // namespace irlearn
