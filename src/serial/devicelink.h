#pragma once

#include "serial/portstate.h"

#include <QByteArray>
#include <QObject>
#include <QString>

namespace irlearn {

// A byte line to one device: the serial port in the program, a scripted line in engine tests.
// Bytes arrive as they come, in pieces; a write goes out whole or fails.
class DeviceLink : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool open(const QString &devicePath, OpenFailure *failure) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Throws away whatever was received and not yet delivered, down to the driver's buffer: a
    // reply read after the next write never holds bytes that arrived before it. What waits to be
    // sent still goes out.
    virtual bool discardPending() = 0;
    virtual bool write(const QByteArray &bytes) = 0;
    // The device is about to answer with `bytes` bytes. A link may gather them rather than wake
    // for every byte; whatever it gathers is still delivered by the time the last byte is due.
    virtual void expect(int bytes) { Q_UNUSED(bytes) }

signals:
    void received(const QByteArray &bytes);
    // The device end vanished (an adapter pulled out, a terminal hung up); the link is closed.
    void lost();
};

} // namespace irlearn
