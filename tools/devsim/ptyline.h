#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace irlearn::devsim {

// The device's end of the serial line: the master side of a pseudo-terminal whose slave the tool
// opens as its port. Incoming bytes are cut into frames by silence, as the device does; outgoing
// bytes go out at once or at the line's real speed.
class PtyLine : public QObject
{
    Q_OBJECT

public:
    // The device protocol has no framing bytes: a frame ends when the line stays quiet this long.
    static constexpr int frameGapMs = 20;

    explicit PtyLine(bool paced, QObject *parent = nullptr);
    ~PtyLine() override;

    bool open(QString *error);
    QString slavePath() const { return m_slavePath; }

    // Queues bytes for the tool; they leave in order, after anything still queued.
    void send(const QByteArray &bytes);

signals:
    // firstByteMs: wall-clock time (ms since the epoch) at which the frame's first byte arrived.
    void frameReceived(const QByteArray &frame, qint64 firstByteMs);
    void problem(const QString &text);

private:
    void readAvailable();
    void endFrame();
    void drain();

    const bool m_paced;
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QSocketNotifier *m_readNotifier = nullptr;

    QByteArray m_frame;
    qint64 m_frameStartMs = 0;
    QTimer m_gapTimer;

    QByteArray m_outbox;
    QElapsedTimer m_lineClock; // started when the line became busy
    qint64 m_lineWritten = 0;  // bytes written since then
    QTimer m_drainTimer;
};

} // namespace irlearn::devsim
