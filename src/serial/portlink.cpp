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

void PortLink::open(const QString &address)
{
    const bool network = isNetworkAddress(address);
    if (!m_line || network != m_network) {
        if (m_line) {
            // Not deleted here: the old line may be what is telling its outcome right now.
            m_line->disconnect(this);
            m_line->close();
            m_line->deleteLater();
        }
        m_line = createLink(address, this);
        m_network = network;
        connect(m_line, &DeviceLink::opened, this, &DeviceLink::opened);
        connect(m_line, &DeviceLink::openFailed, this, &DeviceLink::openFailed);
        connect(m_line, &DeviceLink::received, this, &DeviceLink::received);
        connect(m_line, &DeviceLink::lost, this, &DeviceLink::lost);
    }
    m_line->open(address);
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
