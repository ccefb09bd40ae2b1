#include "serial/portlink.h"

#include "serial/networkaddress.h"
#include "serial/networklink.h"
#include "serial/seriallink.h"

namespace irlearn {

DeviceLink *createLink(const QString &address, QObject *parent)
{
    if (isNetworkAddress(address))
        return new NetworkLink(parent);
    return new SerialLink(parent);
}

PortLink::PortLink(QObject *parent) : DeviceLink(parent)
{
}

bool PortLink::open(const QString &address, OpenFailure *error)
{
    const bool network = isNetworkAddress(address);
    if (!m_line || network != m_network) {
        delete m_line;
        m_line = createLink(address, this);
        m_network = network;
        connect(m_line, &DeviceLink::received, this, &DeviceLink::received);
        connect(m_line, &DeviceLink::lost, this, &DeviceLink::lost);
    }
    return m_line->open(address, error);
}

void PortLink::close()
{
    if (m_line)
        m_line->close();
}

bool PortLink::isOpen() const
{
    return m_line && m_line->isOpen();
}

bool PortLink::discardPending()
{
    return m_line && m_line->discardPending();
}

bool PortLink::write(const QByteArray &bytes)
{
    return m_line && m_line->write(bytes);
}

void PortLink::expect(int bytes)
{
    if (m_line)
        m_line->expect(bytes);
}

} // namespace irlearn
