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

    // Starts opening the line; it ends in opened() or openFailed(), always from the event loop
    // after open() has returned, even where the line opens at once: a caller sets up its own
    // state after the call and never sees the outcome inside it. A close() or another open()
    // before then withdraws the outcome, so one open() ends in at most one signal. isOpen()
    // turns true as opened() is emitted.
    virtual void open(const QString &address) = 0;
    // Closes the line or abandons an open under way; no signal follows.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Throws away whatever was received and not yet delivered, down to the driver's buffer: a
    // reply read after the next write never holds bytes that arrived before it. What waits to be
    // sent still goes out.
    virtual bool discardPending() = 0;
    virtual bool write(const QByteArray &bytes) = 0;
    // The device is about to answer with `bytes` bytes. A link may gather them rather than wake
    // for every byte; whatever it gathers is delivered within a few milliseconds of the time the
    // last byte is due.
    virtual void expect(int bytes) { Q_UNUSED(bytes) }

signals:
    void opened();
    void openFailed(const irlearn::OpenFailure &failure);
    void received(const QByteArray &bytes);
    // The device end vanished (an adapter pulled out, a terminal hung up); the link is closed.
    void lost();
};

} // namespace irlearn
