#pragma once

#include "serial/devicelink.h"
#include "support/openwait.h"

#include <QElapsedTimer>
#include <QList>
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
    QList<qint64> writtenAtMs; // when each frame was written, since the link was made
    // Bytes that came in on the line but wait in the driver, not yet read: they are read with the
    // answer to the next frame unless discarded before it is written.
    QByteArray waiting;
    // What each discard threw away, in order (empty entries included).
    QList<QByteArray> discarded;

    // Opens from the event loop, as every line tells its open.
    void open(const QString &) override
    {
        m_open = false;
        QTimer::singleShot(0, this, [this, ticket = ++m_opens] {
            if (ticket != m_opens)
                return;
            m_open = true;
            emit opened();
        });
    }
    void close() override
    {
        m_open = false;
        ++m_opens;
    }
    bool isOpen() const override { return m_open; }
    bool discardPending() override
    {
        discarded << waiting;
        waiting.clear();
        return m_open;
    }
    bool write(const QByteArray &bytes) override
    {
        if (!m_open)
            return false;
        const QString frame = QString::fromLatin1(bytes.toHex()).toUpper();
        written << frame;
        writtenAtMs << m_clock.elapsed();
        QByteArray answer = waiting;
        waiting.clear();
        if (responder)
            answer += responder(frame);
        deliver(answer);
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

    qint64 elapsedMs() const { return m_clock.elapsed(); }

private:
    bool m_open = false;
    int m_opens = 0; // opens and closes so far: an open's outcome is told only if it is the last
    QElapsedTimer m_clock = [] {
        QElapsedTimer clock;
        clock.start();
        return clock;
    }();
};
