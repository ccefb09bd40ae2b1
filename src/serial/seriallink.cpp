#include "serial/seriallink.h"

#include "serial/portinfo.h"

#include <QFileInfo>
#include <QSerialPort>

namespace irlearn {

namespace {

void explain(const QString &path, QSerialPort::SerialPortError code, OpenError *error)
{
    if (!error)
        return;
    const OpenFailure failure = explainOpenFailure(path, code);
    static const OpenError::Kind kinds[] = {OpenError::Missing, OpenError::Busy,
                                            OpenError::NotPermitted, OpenError::NotASerialPort,
                                            OpenError::Other};
    *error = {kinds[failure.kind], failure.message};
}

// A byte at 9600 baud: start bit, eight data bits, stop bit.
constexpr double byteMs = 10.0 * 1000.0 / 9600.0;
// The last bytes of an answer are read as they come, so that its end is never held back.
constexpr int readAsTheyComeBelow = 8;

bool configure(QSerialPort &port)
{
    return port.setBaudRate(QSerialPort::Baud9600) && port.setParity(QSerialPort::NoParity) &&
           port.setDataBits(QSerialPort::Data8) && port.setStopBits(QSerialPort::OneStop) &&
           port.setFlowControl(QSerialPort::NoFlowControl);
}

} // namespace

SerialLink::SerialLink(QObject *parent)
    : DeviceLink(parent), m_port(new QSerialPort(this)), m_gatherEnd(new QTimer(this))
{
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

bool SerialLink::open(const QString &devicePath, OpenError *error)
{
    close();
    if (devicePath.isEmpty()) {
        explain(devicePath, QSerialPort::DeviceNotFoundError, error);
        return false;
    }
    // One port whatever it is called (a by-id link, a link of ours, the /dev path): the lock that
    // keeps a second opener out is named after the port, so it must be taken on one name.
    const QString canonical = QFileInfo(devicePath).canonicalFilePath();
    m_port->setPortName(canonical.isEmpty() ? devicePath : canonical);
    if (!m_port->open(QIODevice::ReadWrite)) {
        explain(devicePath, m_port->error(), error);
        m_port->clearError();
        return false;
    }
    if (!configure(*m_port)) {
        explain(devicePath, m_port->error(), error);
        m_port->close();
        m_port->clearError();
        return false;
    }
    m_port->clear(QSerialPort::AllDirections);
    return true;
}

void SerialLink::close()
{
    stopGathering();
    m_expected = 0;
    if (m_port->isOpen())
        m_port->close();
}

bool SerialLink::isOpen() const
{
    return m_port->isOpen();
}

bool SerialLink::discardPending()
{
    if (!m_port->isOpen())
        return false;
    stopGathering();
    m_expected = 0;
    m_port->readAll();
    // The driver's bytes too: a late reply must not be read as the answer to the next frame.
    return m_port->clear(QSerialPort::AllDirections);
}

bool SerialLink::write(const QByteArray &bytes)
{
    if (!m_port->isOpen() || m_port->write(bytes) != bytes.size())
        return false;
    // Hand the bytes to the driver now; the next write empties what is still queued.
    m_port->flush();
    return true;
}

bool SerialLink::canOpen(const QString &devicePath)
{
    if (devicePath.isEmpty())
        return false;
    QSerialPort probe(devicePath);
    if (!probe.open(QIODevice::ReadWrite))
        return false;
    probe.close();
    return true;
}

void SerialLink::expect(int bytes)
{
    m_expected = bytes;
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
// everything else a read does. While most of an awaited answer is still on the line, reading
// pauses: the port's buffer is limited to one byte, which turns its read notifier off once that
// byte is in, and the driver collects the rest. The pause ends a little before the last bytes are
// due, so the answer is complete as early as ever.
void SerialLink::gather()
{
#ifdef Q_OS_UNIX
    if (m_expected <= readAsTheyComeBelow || !m_port->isOpen())
        return;
    m_port->setReadBufferSize(1);
    m_gathering = true;
    m_gatherEnd->start(int(0.9 * (m_expected - readAsTheyComeBelow) * byteMs));
#endif
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
    // Reading the byte that waits turns the read notifier on again.
    m_port->setReadBufferSize(0);
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
            QMetaObject::invokeMethod(this, &DeviceLink::lost, Qt::QueuedConnection);
            return;
        }
    }
    m_port->clearError();
}

} // namespace irlearn
