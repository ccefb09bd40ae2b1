#pragma once

#include "serial/devicelink.h"
#include "support/openwait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QList>
#include <QStringList>
#include <QTimer>

#include <functional>

// Waits for a state on the event loop, woken by each event rather than polling: on a scripted line
// every step of a dialogue is an event, and a poll's sleep would outlast the short timings.
template <typename Done> bool until(Done done, int timeoutMs = 5000)
{
    QTimer guard;
    guard.setSingleShot(true);
    guard.start(timeoutMs);
    while (!done()) {
        if (!guard.isActive())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // What a finished step left for deletion goes, as it would in the running program.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// A scripted line for engine tests: records every frame written (as upper-case hex text) and
// answers through a responder once the event loop has run, as a real line would. Anything else
// the device sends comes when the test says so (arrive), at a step of the dialogue the test
// waited for: no wall-clock moment that a busy machine could miss. No pseudo-terminal, no
// simulator: the engine's state machines alone.
class FakeLink : public irlearn::DeviceLink
{
public:
    // The answer to a frame (hex text in, raw bytes out); empty: silence.
    using Responder = std::function<QByteArray(const QString &frame)>;

    Responder responder;
    QStringList written;
    QList<qint64> writtenAtMs; // when each frame was written, on the monotonic clock
    // Bytes that came in on the line but wait in the driver, not yet read: they are read with the
    // answer to the next frame unless discarded before it is written.
    QByteArray waiting;
    // Set by a responder: bytes that follow its answer, in a piece of their own.
    QByteArray trailing;

    // Opens from the event loop, as every line tells its open.
    void open(const QString &) override
    {
        QTimer::singleShot(0, this, [this] {
            m_open = true;
            emit opened();
        });
    }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool discardPending() override
    {
        waiting.clear();
        return m_open;
    }
    bool write(const QByteArray &bytes) override
    {
        if (!m_open)
            return false;
        const QString frame = QString::fromLatin1(bytes.toHex()).toUpper();
        written << frame;
        writtenAtMs << QDeadlineTimer::current().deadline();
        QByteArray answer = waiting;
        waiting.clear();
        if (responder)
            answer += responder(frame);
        deliver(answer);
        deliver(trailing);
        trailing.clear();
        return true;
    }

    // Bytes from the device once the event loop has run, each call's in a piece of its own and
    // in the order of the calls; none: silence.
    void deliver(const QByteArray &bytes)
    {
        if (!bytes.isEmpty())
            QTimer::singleShot(0, this, [this, bytes] { arrive(bytes); });
    }
    // Bytes from the device now: the engine has handled them when this returns.
    void arrive(const QByteArray &bytes)
    {
        if (m_open)
            emit received(bytes);
    }

private:
    bool m_open = false;
};
