#include "serial/connection.h"

#include "base/numtext.h"
#include "serial/commcontrol.h"
#include "base/logpane.h"
#include "serial/portnames.h"

#include <QObject>

#include <cmath>

namespace irlearn {

Connection::Connection(CommControl &comm, LogPane &log, ConnectionView &view)
    : m_comm(comm), m_log(log), m_view(view)
{
    QObject::connect(&m_comm, &CommControl::portLost, &m_comm, [this] { portLost(); });
}

bool Connection::Comm_Open(int cPort, const QString &cSet, const QString &tsFS)
{
    if (cPort < 1)
        cPort = 1;
    const QString settings = cSet.isEmpty() ? defaultSettings : cSet;
    // A setting the control rejects is skipped; the open decides.
    m_comm.setInputLen(0);
    m_comm.setCommPort(cPort);
    m_comm.setSettings(settings);
    m_comm.setInputMode(tsFS == QLatin1String("str") ? comm::InputModeText : comm::InputModeBinary);
    m_comm.setRThreshold(1);
    m_comm.setInBufferSize(1024);
    return m_comm.setPortOpen(true);
}

void Connection::Comm_Close()
{
    m_comm.setPortOpen(false);
}

QStringList Connection::list_AllCom()
{
    QStringList ports;
    for (int n = 1; n <= PortNames::maxPort; ++n) {
        if (m_comm.PortOpen())
            m_comm.setPortOpen(false);
        if (!m_comm.setCommPort(n))
            continue;
        if (m_comm.setPortOpen(true) && m_comm.PortOpen()) {
            ports << QStringLiteral("COM%1").arg(n);
            m_comm.setPortOpen(false);
        }
    }
    return ports;
}

int Connection::portNumber(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.size() < 3)
        return 0;
    const double value = std::nearbyint(textValue(trimmed.mid(3))); // halves to even
    if (value < -32768 || value > 32767)
        return 0;
    return int(value);
}

void Connection::Command1_Click()
{
    if (m_view.portText().trimmed().isEmpty())
        return;
    const int port = portNumber(m_view.portText());
    if (port <= 0)
        return;
    if (m_view.connectCaption() == connectText) {
        if (!Comm_Open(port, defaultSettings, QStringLiteral("hex")))
            return;
        m_view.setConnectCaption(disconnectText);
        m_view.setPortSelectorEnabled(false);
        m_view.SetCommand(true);
    } else {
        m_view.setConnectCaption(connectText);
        Comm_Close();
        m_view.setPortSelectorEnabled(true);
        m_view.SetCommand(false);
    }
}

void Connection::portLost()
{
    m_log.PrintStr(QStringLiteral("端口连接失败！"));
    m_view.setConnectCaption(connectText);
    m_view.setPortSelectorEnabled(true);
    m_view.SetCommand(false);
}

} // namespace irlearn
