#pragma once

#include "serial/devicelink.h"

#include <QStringList>
#include <QTimer>

#include <functional>

// A scripted line for engine tests: records every frame written (as upper-case hex text) and
// answers through a responder, after the event loop has run once, as a real line would. No
// pseudo-terminal, no simulator: the engine's state machines alone.
class FakeLink : public irlearn::DeviceLink
{
public:
    // The answer to a frame (hex text in, raw bytes out); empty: silence.
    using Responder = std::function<QByteArray(const QString &frame)>;

    Responder responder;
    QStringList written;

    bool open(const QString &, irlearn::OpenFailure *) override { return m_open = true; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool discardPending() override { return m_open; }
    bool write(const QByteArray &bytes) override
    {
        if (!m_open)
            return false;
        const QString frame = QString::fromLatin1(bytes.toHex()).toUpper();
        written << frame;
        if (responder)
            deliver(responder(frame));
        return true;
    }

    // Bytes from the device, a moment later; none: silence.
    void deliver(const QByteArray &bytes, int afterMs = 0)
    {
        if (bytes.isEmpty())
            return;
        QTimer::singleShot(afterMs, this, [this, bytes] {
            if (m_open)
                emit received(bytes);
        });
    }

private:
    bool m_open = false;
};
