#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

namespace irlearn {

class DeviceLink;

// The dialogue with the device, one request at a time: writes frames (with their log lines),
// waits for the awaited reply without blocking, and reports it or its absence as a signal.
//
// A request that timed out stays registered: a late reply is still reported under its tag (marked
// late) until the next request replaces it, or begin() or cancel() forgets it. Bytes that arrive
// while nothing is awaited are dropped unlogged (the device answers the transfer openings that
// way); stray() tells how many, for callers that watch a quiet line. Only after begin() forgot a
// request that was still outstanding are they logged, as that request's answer come too late.
class Exchange : public QObject
{
    Q_OBJECT

public:
    explicit Exchange(DeviceLink &link, QObject *parent = nullptr);

    // Writes a frame given as hex text. An empty frame: nothing at all. Port closed: logs
    // "端口未打开". Otherwise discards what waits to be read, logs the frame text as passed and
    // writes its bytes; a failing port logs "端口连接失败！". True when the bytes went out.
    bool send(const QString &frame);

    // Registers the awaited reply, then sends the frame. The reply is complete once `bytes` bytes
    // are in; its first byte must come within windowMs, and, when completeMs is positive, the
    // rest within completeMs after the first.
    bool request(const QString &frame, const QString &tag, int bytes, int windowMs,
                 int completeMs = 0);

    // Forgets the outstanding (or late) request; what arrives from now on is dropped.
    void cancel();
    // A new operation starts with no reply outstanding: an earlier request's answer that comes
    // from now on is logged as stray bytes, never taken for a reply to this operation.
    void begin();
    // Part of an awaited reply is in.
    bool isReceiving() const { return !m_tag.isEmpty() && !m_reply.isEmpty(); }

signals:
    void logLine(const QString &line);
    // A whole reply, as upper-case hex text; late when it came after its time-out.
    void replied(const QString &tag, const QString &reply, bool late);
    // No whole reply in time; received is how many bytes of it had come.
    void timedOut(const QString &tag, int received);
    void stray(int bytes);

private:
    void receive(const QByteArray &bytes);
    void expire();

    DeviceLink &m_link;
    QTimer m_deadline;
    QString m_tag; // empty: nothing awaited
    QByteArray m_reply;
    int m_bytes = 0;
    int m_completeMs = 0;
    bool m_late = false;
    bool m_forgotten = false; // begin() forgot a request whose answer may yet come
};

} // namespace irlearn
