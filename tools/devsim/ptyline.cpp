#include "ptyline.h"

#include <QDateTime>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace irlearn::devsim {

namespace {

// 9600 baud with start and stop bits: ten bit times per byte.
constexpr qint64 byteTimeNs = 10 * 1000000000LL / 9600;

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

PtyLine::PtyLine(bool paced, QObject *parent) : QObject(parent), m_paced(paced)
{
    m_gapTimer.setSingleShot(true);
    m_gapTimer.setTimerType(Qt::PreciseTimer);
    m_gapTimer.setInterval(frameGapMs);
    connect(&m_gapTimer, &QTimer::timeout, this, &PtyLine::endFrame);

    m_drainTimer.setTimerType(Qt::PreciseTimer);
    m_drainTimer.setInterval(1);
    connect(&m_drainTimer, &QTimer::timeout, this, &PtyLine::drain);
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
    return true;
}

void PtyLine::readAvailable()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
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

void PtyLine::drain()
{
    qint64 due = m_outbox.size();
    if (m_paced) {
        // A byte reaches the far end only once all ten of its bits are on the wire.
        const qint64 onWire = m_lineClock.nsecsElapsed() / byteTimeNs;
        due = qMin(due, onWire - m_lineWritten);
    }
    while (due > 0) {
        const ssize_t n = ::write(m_master, m_outbox.constData(), size_t(due));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break; // a full terminal buffer drains as the tool reads; retry on the next tick
        if (n < 0) {
            emit problem(systemError("write"));
            m_outbox.clear();
            break;
        }
        m_outbox.remove(0, n);
        m_lineWritten += n;
        due -= n;
    }
    if (m_outbox.isEmpty())
        m_drainTimer.stop();
    else if (!m_drainTimer.isActive())
        m_drainTimer.start();
}

} // namespace irlearn::devsim
