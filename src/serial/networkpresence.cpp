#include "serial/networkpresence.h"

#include <QTcpSocket>

namespace irlearn {

NetworkPresence::NetworkPresence(NetworkAddress address, int pollMs, int graceMs, QObject *parent)
    : QObject(parent), m_address(std::move(address)), m_graceMs(graceMs),
      m_socket(new QTcpSocket(this))
{
    m_next.setSingleShot(true);
    m_next.setInterval(pollMs);
    connect(&m_next, &QTimer::timeout, this, &NetworkPresence::tryConnect);
    connect(m_socket, &QTcpSocket::connected, this, &NetworkPresence::connected);
    // Whatever the server says (telnet options, a banner) is of no interest here.
    connect(m_socket, &QTcpSocket::readyRead, this, [this] { m_socket->readAll(); });
    connect(m_socket, &QTcpSocket::errorOccurred, this, &NetworkPresence::dropped);
    connect(m_socket, &QTcpSocket::disconnected, this, &NetworkPresence::dropped);
}

NetworkPresence::~NetworkPresence()
{
    // Not a drop to tell about.
    m_socket->disconnect(this);
    m_socket->abort();
}

void NetworkPresence::watch()
{
    m_mode = Mode::Watching;
    m_held = false;
    m_socket->abort();
    m_next.start(0);
}

void NetworkPresence::hold()
{
    m_mode = Mode::Holding;
    m_held = false;
    m_holding.start();
    m_socket->abort();
    m_next.start(0);
}

void NetworkPresence::stop()
{
    m_mode = Mode::Idle;
    m_next.stop();
    m_socket->abort();
}

void NetworkPresence::tryConnect()
{
    if (m_mode == Mode::Idle || m_socket->state() != QAbstractSocket::UnconnectedState)
        return;
    m_socket->connectToHost(m_address.host, m_address.port);
}

void NetworkPresence::connected()
{
    if (m_mode == Mode::Watching) {
        m_mode = Mode::Idle;
        m_socket->abort();
        emit appeared();
    } else if (m_mode == Mode::Holding) {
        m_held = true;
        m_up.start();
    }
}

void NetworkPresence::dropped()
{
    // Both errorOccurred and disconnected may come for one drop: the timer runs once.
    if (m_mode == Mode::Idle || m_next.isActive())
        return;
    if (m_mode == Mode::Watching) {
        m_next.start();
        return;
    }
    // A hold that had settled, or one still turned away past the grace time: the device or its
    // server is gone.
    const bool settled = m_held && m_up.elapsed() >= m_graceMs / 6;
    m_held = false;
    if (settled || m_holding.elapsed() >= m_graceMs) {
        m_mode = Mode::Idle;
        m_socket->abort();
        emit gone();
        return;
    }
    m_next.start();
}

} // namespace irlearn
