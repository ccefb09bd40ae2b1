#include "ptyline.h"

#include <QDateTime>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace irlearn::devsim {

namespace {

// 9600 baud with start and stop bits: ten bit times per byte.
constexpr qint64 byteTimeNs = 10 * 1000000000LL / 9600;

// A flood is generated this much at a time; one drain writes at most floodBurst bytes before it
// lets the event loop see incoming frames again.
constexpr int floodChunk = 4096;
constexpr qint64 floodBurst = 64 * 1024;

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

PtyLine::PtyLine(int frameGapMs, bool paced, QObject *parent)
    : QObject(parent), m_frameGapNs(qint64(frameGapMs) * 1000000), m_paced(paced)
{
    m_gapTimer.setSingleShot(true);
    m_gapTimer.setTimerType(Qt::PreciseTimer);
    m_gapTimer.setInterval(frameGapMs);
    connect(&m_gapTimer, &QTimer::timeout, this, &PtyLine::endFrame);

    m_drainTimer.setTimerType(Qt::PreciseTimer);
    m_drainTimer.setInterval(1);
    connect(&m_drainTimer, &QTimer::timeout, this, &PtyLine::drain);

    m_deliveryTimer.setInterval(2);
    connect(&m_deliveryTimer, &QTimer::timeout, this, &PtyLine::checkDelivered);
}

PtyLine::~PtyLine()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool PtyLine::open(QString *error)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        *error = systemError("pseudo-terminal");
        return false;
    }
    const char *name = ::ptsname(m_master);
    if (!name) {
        *error = systemError("ptsname");
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);

    // Held open for the simulator's whole life: without it the master would see a hang-up each
    // time the tool closes its port, and the terminal's settings would not survive a reopen.
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0) {
        *error = systemError("slave side");
        return false;
    }
    termios tio{};
    if (::tcgetattr(m_slave, &tio) != 0) {
        *error = systemError("tcgetattr");
        return false;
    }
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(m_slave, TCSANOW, &tio) != 0) {
        *error = systemError("tcsetattr");
        return false;
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyLine::readAvailable);
    // An unpaced line waits for room on the terminal rather than polling for it.
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyLine::drain);
    return true;
}

void PtyLine::readAvailable()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            // Judged by when the bytes came rather than by the timer alone: a busy moment can
            // hold the gap timer back past the next frame's arrival, and the two must not merge.
            if (!m_frame.isEmpty() && m_sinceLastByte.nsecsElapsed() >= m_frameGapNs)
                endFrame();
            m_sinceLastByte.start();
            if (m_frame.isEmpty())
                m_frameStartMs = QDateTime::currentMSecsSinceEpoch();
            m_frame.append(buffer, n);
            m_gapTimer.start();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        // Cannot happen while the slave is held open; stop watching rather than spin.
        emit problem(n == 0 ? QStringLiteral("line closed") : systemError("read"));
        m_readNotifier->setEnabled(false);
        return;
    }
}

void PtyLine::endFrame()
{
    const QByteArray frame = m_frame;
    m_frame.clear();
    if (!frame.isEmpty())
        emit frameReceived(frame, m_frameStartMs);
}

void PtyLine::send(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_outbox.isEmpty()) {
        m_lineClock.start();
        m_lineWritten = 0;
    }
    m_outbox.append(bytes);
    drain();
}

void PtyLine::flood(quint32 seed)
{
    // xorshift32 must not start from 0.
    m_floodState = seed * 2654435761u + 0x7F4A7C15u;
    if (m_floodState == 0)
        m_floodState = 1;
    if (m_outbox.isEmpty()) {
        m_lineClock.start();
        m_lineWritten = 0;
    }
    m_flooding = true;
    drain();
}

void PtyLine::drain()
{
    bool blocked = false;
    qint64 burst = 0;
    while (burst < floodBurst) {
        if (m_flooding && m_outbox.size() < floodChunk) {
            QByteArray more(floodChunk, '\0');
            for (char &c : more) {
                m_floodState ^= m_floodState << 13;
                m_floodState ^= m_floodState >> 17;
                m_floodState ^= m_floodState << 5;
                c = char(m_floodState >> 24);
            }
            m_outbox.append(more);
        }
        qint64 due = m_outbox.size();
        if (m_paced) {
            // A byte reaches the far end only once all ten of its bits are on the wire.
            const qint64 onWire = m_lineClock.nsecsElapsed() / byteTimeNs;
            due = qMin(due, onWire - m_lineWritten);
        }
        if (due <= 0)
            break;
        const ssize_t n = ::write(m_master, m_outbox.constData(), size_t(due));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            blocked = true;
            break;
        }
        if (n < 0) {
            emit problem(systemError("write"));
            m_outbox.clear();
            m_flooding = false;
            break;
        }
        m_outbox.remove(0, n);
        m_lineWritten += n;
        burst += n;
    }
    if (blocked && m_paced) {
        // The tool stopped reading; once it reads again the line goes on at its own speed
        // instead of catching up in a burst.
        m_lineClock.start();
        m_lineWritten = 0;
    }
    // A flood can leave the outbox empty at the end of a burst; it is never done.
    const bool more = m_flooding || !m_outbox.isEmpty();
    if (m_paced) {
        if (!more)
            m_drainTimer.stop();
        else if (!m_drainTimer.isActive())
            m_drainTimer.start();
    } else {
        m_writeNotifier->setEnabled(more);
    }
}

int PtyLine::pendingAtTool() const
{
    int n = 0;
    if (::ioctl(m_slave, FIONREAD, &n) != 0)
        return 0;
    return n;
}

void PtyLine::afterDelivery(int timeoutMs, std::function<void()> then)
{
    m_afterDelivery = std::move(then);
    m_deliveryTimeoutMs = timeoutMs;
    m_quietChecks = 0;
    m_deliveryClock.start();
    m_deliveryTimer.start();
    checkDelivered();
}

void PtyLine::checkDelivered()
{
    const bool empty = m_outbox.isEmpty() && !m_flooding && pendingAtTool() == 0;
    // The terminal hands written bytes to the tool's side a moment later, so one empty look
    // is not proof: it must stay empty for a few checks in a row.
    m_quietChecks = empty ? m_quietChecks + 1 : 0;
    if (m_quietChecks < 3 && m_deliveryClock.elapsed() < m_deliveryTimeoutMs)
        return;
    m_deliveryTimer.stop();
    if (auto then = std::exchange(m_afterDelivery, nullptr))
        then();
}

} // namespace irlearn::devsim
