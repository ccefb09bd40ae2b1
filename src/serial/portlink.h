#pragma once

#include "serial/devicelink.h"

#include <QPointer>

namespace irlearn {

// A new, closed line of the kind the address calls for: a NetworkLink for "rfc2217://" and
// "tcp://" addresses, a SerialLink for anything else (a device path, COMn on Windows).
DeviceLink *createLink(const QString &address, QObject *parent = nullptr);

// The line to whatever port the operator names: on each open it becomes the kind of line the
// address calls for (see createLink) and passes everything through. An engine keeps one line
// for its whole life; this one lets that line be a serial port one time and a port server the
// next.
class PortLink : public DeviceLink
{
    Q_OBJECT

public:
    explicit PortLink(QObject *parent = nullptr);

    void open(const QString &address) override;
    void close() override;
    bool isOpen() const override;
    bool discardPending() override;
    bool write(const QByteArray &bytes) override;
    void expect(int bytes) override;

    // The line of the last open, if any.
    DeviceLink *current() const { return m_line; }

private:
    QPointer<DeviceLink> m_line;
    bool m_network = false;
};

} // namespace irlearn
