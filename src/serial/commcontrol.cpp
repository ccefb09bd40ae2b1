#include "serial/commcontrol.h"

#include <QMetaObject>
#include <QSerialPort>
#include <QStringList>

namespace irlearn {

namespace {

struct LineSettings
{
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// "9600,n,8,1": baud rate, parity letter, data bits, stop bits.
bool parseSettings(const QString &text, LineSettings *out)
{
    const QStringList parts = text.trimmed().split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    bool ok = false;
    const int baud = parts[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0)
        return false;
    out->baud = baud;

    const QString parity = parts[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        out->parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        out->parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        out->parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        out->parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        out->parity = QSerialPort::SpaceParity;
    else
        return false;

    const int bits = parts[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        return false;
    out->dataBits = static_cast<QSerialPort::DataBits>(bits);

    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1"))
        out->stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        out->stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        out->stopBits = QSerialPort::TwoStop;
    else
        return false;
    return true;
}

bool applySettings(QSerialPort *port, const LineSettings &s)
{
    return port->setBaudRate(s.baud) && port->setParity(s.parity) &&
           port->setDataBits(s.dataBits) && port->setStopBits(s.stopBits) &&
           port->setFlowControl(QSerialPort::NoFlowControl);
}

} // namespace

CommControl::CommControl(PortResolver resolver, QObject *parent)
    : QObject(parent), m_resolver(std::move(resolver)), m_port(new QSerialPort(this))
{
    connect(m_port, &QSerialPort::readyRead, this, &CommControl::pull);
    connect(m_port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { onPortError(error); });
}

CommControl::~CommControl()
{
    if (m_port->isOpen())
        m_port->close();
}

bool CommControl::setCommPort(int port)
{
    if (m_port->isOpen() || port < 1)
        return false;
    m_commPort = port;
    return true;
}

bool CommControl::setSettings(const QString &settings)
{
    LineSettings parsed;
    if (!parseSettings(settings, &parsed))
        return false;
    if (m_port->isOpen() && !applySettings(m_port, parsed))
        return false;
    m_settings = settings;
    return true;
}

bool CommControl::setInputMode(int mode)
{
    if (mode != comm::InputModeText && mode != comm::InputModeBinary)
        return false;
    m_inputMode = mode;
    return true;
}

bool CommControl::setInputLen(int length)
{
    if (length < 0)
        return false;
    m_inputLen = length;
    return true;
}

bool CommControl::setRThreshold(int threshold)
{
    if (threshold < 0)
        return false;
    m_rThreshold = threshold;
    // Bytes that already wait may satisfy a lowered threshold.
    if (m_rThreshold > 0 && m_buffer.size() >= m_rThreshold)
        postReceive();
    return true;
}

bool CommControl::setInBufferSize(int size)
{
    if (m_port->isOpen() || size <= 0)
        return false;
    m_inBufferSize = size;
    return true;
}

bool CommControl::PortOpen() const
{
    return m_port->isOpen();
}

QString CommControl::deviceName() const
{
    return m_resolver ? m_resolver(m_commPort) : QString();
}

bool CommControl::setPortOpen(bool open)
{
    if (!open) {
        if (m_port->isOpen())
            m_port->close();
        m_buffer.clear();
        return true;
    }
    if (m_port->isOpen()) {
        m_errorString = tr("Port already open");
        return false;
    }
    const QString name = deviceName();
    if (name.isEmpty()) {
        m_errorString = tr("No such port");
        return false;
    }
    LineSettings parsed;
    parseSettings(m_settings, &parsed);
    m_port->setPortName(name);
    if (!m_port->open(QIODevice::ReadWrite)) {
        m_errorString = m_port->errorString();
        m_port->clearError();
        return false;
    }
    if (!applySettings(m_port, parsed)) {
        m_errorString = m_port->errorString();
        m_port->close();
        return false;
    }
    m_buffer.clear();
    m_port->clear(QSerialPort::AllDirections);
    return true;
}

int CommControl::InBufferCount()
{
    pull();
    return int(m_buffer.size());
}

bool CommControl::setInBufferCount(int count)
{
    if (count != 0 || !m_port->isOpen())
        return false;
    m_port->readAll();
    // Also flushes what the driver holds: a late reply must not be read as the answer to the
    // frame about to go out.
    const bool flushed = m_port->clear(QSerialPort::Input);
    m_buffer.clear();
    return flushed;
}

bool CommControl::setOutBufferCount(int count)
{
    if (count != 0 || !m_port->isOpen())
        return false;
    return m_port->clear(QSerialPort::Output);
}

bool CommControl::Output(const QByteArray &bytes)
{
    if (!m_port->isOpen()) {
        m_errorString = tr("Port not open");
        return false;
    }
    if (m_port->write(bytes) != bytes.size()) {
        m_errorString = m_port->errorString();
        return false;
    }
    // Hand the bytes to the driver now: callers may block right after writing (the transfer
    // openings sleep between frames) and then empty the output buffer before the next frame.
    m_port->flush();
    return true;
}

bool CommControl::Output(const QString &text)
{
    return Output(text.toLatin1());
}

QVariant CommControl::Input()
{
    pull();
    const QByteArray data = m_buffer;
    m_buffer.clear();
    if (m_inputMode == comm::InputModeBinary)
        return data;
    return QString::fromLatin1(data);
}

void CommControl::pull()
{
    if (!m_port->isOpen())
        return;
    const QByteArray data = m_port->readAll();
    if (data.isEmpty())
        return;
    const qsizetype room = m_inBufferSize - m_buffer.size();
    if (data.size() > room) {
        m_buffer.append(data.left(qMax<qsizetype>(room, 0)));
        postError(comm::ErRxOver);
    } else {
        m_buffer.append(data);
    }
    if (m_rThreshold > 0 && m_buffer.size() >= m_rThreshold)
        postReceive();
}

void CommControl::postReceive()
{
    if (m_receivePosted)
        return;
    m_receivePosted = true;
    QMetaObject::invokeMethod(this, &CommControl::deliverReceive, Qt::QueuedConnection);
}

void CommControl::deliverReceive()
{
    m_receivePosted = false;
    // A read made since the event was posted may have emptied the buffer; an event for bytes that
    // are gone would make the handler take the next reply's first bytes as a whole reply.
    if (m_rThreshold <= 0 || m_buffer.size() < m_rThreshold)
        return;
    m_commEvent = comm::EvReceive;
    emit OnComm();
}

void CommControl::postError(int event)
{
    QMetaObject::invokeMethod(
        this,
        [this, event] {
            m_commEvent = event;
            emit OnComm();
        },
        Qt::QueuedConnection);
}

void CommControl::onPortError(int error)
{
    if (error == QSerialPort::NoError) // clearError() below announces itself too
        return;
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
        // The device end is gone (an adapter pulled out reports a resource error, a hung-up
        // terminal a read error). Left open, the port reports it again and again in a tight
        // loop; close it on the first one.
        if (m_port->isOpen()) {
            m_port->close();
            m_buffer.clear();
            QMetaObject::invokeMethod(this, &CommControl::portLost, Qt::QueuedConnection);
        }
        break;
    case QSerialPort::WriteError:
        postError(comm::ErTxFull);
        break;
    case QSerialPort::UnknownError:
        postError(comm::ErDCB);
        break;
    default:
        // Open and permission failures are told to the caller of setPortOpen.
        break;
    }
    m_port->clearError();
}

} // namespace irlearn
