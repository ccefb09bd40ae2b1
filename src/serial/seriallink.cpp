#include "serial/seriallink.h"

#include "serial/portinfo.h"

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

bool configure(QSerialPort &port)
{
    return port.setBaudRate(QSerialPort::Baud9600) && port.setParity(QSerialPort::NoParity) &&
           port.setDataBits(QSerialPort::Data8) && port.setStopBits(QSerialPort::OneStop) &&
           port.setFlowControl(QSerialPort::NoFlowControl);
}

} // namespace

SerialLink::SerialLink(QObject *parent) : DeviceLink(parent), m_port(new QSerialPort(this))
{
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
    m_port->setPortName(devicePath);
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

void SerialLink::readAvailable()
{
    const QByteArray bytes = m_port->readAll();
    if (!bytes.isEmpty())
        emit received(bytes);
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
