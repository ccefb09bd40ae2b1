#include "serial/seriallink.h"

#include "base/regularfile.h"

#include "serial/linerate.h"
#include "serial/portinfo.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QSocketNotifier>

#include <cmath>

namespace irlearn {

namespace {

// The last bytes of an answer are read as they come, so that its end is never held back.
constexpr int readAsTheyComeBelow = 8;
// How long after its last byte is due an answer is taken from the driver.
constexpr int gatherSlackMs = 2;

bool configure(QSerialPort &port)
{
    return port.setBaudRate(QSerialPort::Baud9600) && port.setParity(QSerialPort::NoParity) &&
           port.setDataBits(QSerialPort::Data8) && port.setStopBits(QSerialPort::OneStop) &&
           port.setFlowControl(QSerialPort::NoFlowControl);
}

} // namespace

SerialLink::SerialLink(QObject *parent)
    : DeviceLink(parent), m_port(new QSerialPort(this)), m_gatherEnd(new QTimer(this)),
      m_report(new QTimer(this))
{
    m_report->setSingleShot(true);
    connect(m_report, &QTimer::timeout, this, &SerialLink::report);
    m_gatherEnd->setSingleShot(true);
    m_gatherEnd->setTimerType(Qt::PreciseTimer);
    connect(m_gatherEnd, &QTimer::timeout, this, &SerialLink::endGathering);
    connect(m_port, &QSerialPort::readyRead, this, &SerialLink::readAvailable);
    connect(m_port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { portError(error); });
}

SerialLink::~SerialLink()
{
    close();
}

void SerialLink::open(const QString &devicePath)
{
    close();
    m_path = devicePath;
    m_failure = tryOpen(devicePath);
    m_report->start(0);
}

std::optional<OpenFailure> SerialLink::tryOpen(const QString &devicePath)
{
    if (devicePath.isEmpty())
        return explainOpenFailure(devicePath, QSerialPort::DeviceNotFoundError);
    // One port whatever it is called (a by-id link, a link of ours, the /dev path): the lock that
    // keeps a second opener out is named after the port, so it must be taken on one name.
    // Another program may hold it locked under the name it was given.
    const QString canonical = canonicalPath(devicePath);
    if (canonical != devicePath && portLockHolder(devicePath) > 0)
        return explainOpenFailure(devicePath, QSerialPort::PermissionError);
    m_port->setPortName(canonical);
    if (!m_port->open(QIODevice::ReadWrite)) {
        const OpenFailure failure = explainOpenFailure(devicePath, m_port->error());
        m_port->clearError();
        return failure;
    }
    if (!configure(*m_port)) {
        const OpenFailure failure = explainOpenFailure(devicePath, m_port->error());
        m_port->close();
        m_port->clearError();
        return failure;
    }
    m_port->clear(QSerialPort::AllDirections);
    return std::nullopt;
}

void SerialLink::report()
{
    if (const std::optional<OpenFailure> failure = std::exchange(m_failure, std::nullopt))
        emit openFailed(*failure);
    else
        emit opened();
}

void SerialLink::close()
{
    m_report->stop();
    m_failure.reset();
    stopGathering();
    m_expected = 0;
    if (m_port->isOpen())
        m_port->close();
}

bool SerialLink::isOpen() const
{
    return m_port->isOpen() && !m_report->isActive();
}

bool SerialLink::discardPending()
{
    if (!m_port->isOpen())
        return false;
    stopGathering();
    m_expected = 0;
    m_port->readAll();
    // The driver's received bytes too: a late reply must not be read as the answer to the next
    // frame. Output is left alone: a frame written a moment ago may still be on its way.
    return m_port->clear(QSerialPort::Input);
}

bool SerialLink::write(const QByteArray &bytes)
{
    if (!m_port->isOpen() || m_port->write(bytes) != bytes.size())
        return false;
    // Hand the bytes to the driver now.
    m_port->flush();
    return true;
}

void SerialLink::expect(int bytes)
{
    m_expected = bytes;
    m_gathered = false;
}

void SerialLink::readAvailable()
{
    // While gathering, the byte that paused reading waits in the port's buffer for the rest.
    if (m_gathering)
        return;
    deliver(true);
}

void SerialLink::deliver(bool mayGather)
{
    const QByteArray bytes = m_port->readAll();
    if (bytes.isEmpty())
        return;
    m_expected = qMax(0, m_expected - int(bytes.size()));
    if (mayGather)
        gather();
    emit received(bytes);
}

// At 9600 baud a record trickles in a byte a millisecond, and waking for each costs more than
// everything else a read does. Once the first bytes of an awaited answer are in, reading pauses
// until the last of them is due, and the driver collects the rest meanwhile. A device slower than
// the line is followed byte by byte from then on.
void SerialLink::gather()
{
#ifdef Q_OS_UNIX
    if (m_expected <= readAsTheyComeBelow || !m_port->isOpen() || m_gathered)
        return;
    m_gathered = true;
    m_gathering = true;
    // The port's read notifier is turned off at once. Where it cannot be found, a read buffer of
    // one byte turns it off as that byte comes in, at the cost of two more wake-ups.
    m_pausedNotifier = readNotifier();
    if (m_pausedNotifier)
        m_pausedNotifier->setEnabled(false);
    else
        m_port->setReadBufferSize(1);
    m_gatherEnd->start(int(std::ceil(m_expected * lineByteMs)) + gatherSlackMs);
#endif
}

QSocketNotifier *SerialLink::readNotifier() const
{
    const auto notifiers = m_port->findChildren<QSocketNotifier *>(Qt::FindDirectChildrenOnly);
    for (QSocketNotifier *notifier : notifiers) {
        if (notifier->type() == QSocketNotifier::Read && notifier->isEnabled())
            return notifier;
    }
    return nullptr;
}

void SerialLink::endGathering()
{
    stopGathering();
    // The bytes gathered meanwhile come with the next read notification, in one piece.
    deliver(false);
}

void SerialLink::stopGathering()
{
    if (!m_gathering)
        return;
    m_gathering = false;
    m_gatherEnd->stop();
    if (m_pausedNotifier)
        m_pausedNotifier->setEnabled(true);
    else
        m_port->setReadBufferSize(0); // reading the byte that waits turns the notifier on again
    m_pausedNotifier.clear();
}

void SerialLink::portError(int error)
{
    if (error == QSerialPort::NoError)
        return;
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError) {
        // The device end is gone (a pulled-out adapter reports a resource error, a hung-up
        // terminal a read error). Left open, the port reports it again and again in a tight
        // loop; close it on the first one.
        if (m_port->isOpen()) {
            m_port->close();
            m_port->clearError();
            if (m_report->isActive()) {
                // Gone before its open was told: the open failed.
                m_failure = explainOpenFailure(m_path, QSerialPort::SerialPortError(error));
                return;
            }
            QMetaObject::invokeMethod(this, &DeviceLink::lost, Qt::QueuedConnection);
            return;
        }
    }
    m_port->clearError();
}

} // namespace irlearn
