#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QSocketNotifier;

namespace irlearn::devsim {

// The device's end of the serial line: the master side of a pseudo-terminal whose slave the tool
// opens as its port. Incoming bytes are cut into frames by silence, as the device does; outgoing
// bytes go out at once or at the line's real speed.
class PtyLine : public QObject
{
    Q_OBJECT

public:
    // The device protocol has no framing bytes: a frame ends when the line stays quiet frameGapMs.
    PtyLine(int frameGapMs, bool paced, QObject *parent = nullptr);
    ~PtyLine() override;

    bool open(QString *error);
    QString slavePath() const { return m_slavePath; }

    // Queues bytes for the tool; they leave in order, after anything still queued.
    void send(const QByteArray &bytes);

    // From now on the line never falls quiet: pseudo-random bytes (from seed) behind whatever is
    // queued, for as long as the process lives.
    void flood(quint32 seed);
    bool isFlooding() const { return m_flooding; }

    // Calls then once everything queued has left and the tool has taken it off the terminal, or
    // after timeoutMs if the tool stops reading. Closing the terminal any earlier would discard
    // the bytes still waiting on the tool's side.
    void afterDelivery(int timeoutMs, std::function<void()> then);

signals:
    // firstByteMs: wall-clock time (ms since the epoch) at which the frame's first byte arrived.
    void frameReceived(const QByteArray &frame, qint64 firstByteMs);
    void problem(const QString &text);

private:
    void readAvailable();
    void endFrame();
    void drain();
    void checkDelivered();
    int pendingAtTool() const;

    const qint64 m_frameGapNs;
    const bool m_paced;
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;

    QByteArray m_frame;
    qint64 m_frameStartMs = 0;
    QElapsedTimer m_sinceLastByte;
    QTimer m_gapTimer;

    QByteArray m_outbox;
    QElapsedTimer m_lineClock; // started when the line became busy
    qint64 m_lineWritten = 0;  // bytes written since then
    QTimer m_drainTimer;

    bool m_flooding = false;
    quint32 m_floodState = 0;

    QTimer m_deliveryTimer;
    QElapsedTimer m_deliveryClock;
    int m_deliveryTimeoutMs = 0;
    int m_quietChecks = 0;
    std::function<void()> m_afterDelivery;
};

} // namespace irlearn::devsim
