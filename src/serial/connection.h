#pragma once

#include <QString>
#include <QStringList>

namespace irlearn {

class CommControl;
class LogPane;

// What the connection needs of the window: the port selector, the connect button's caption and
// the device operations that follow the connection.
class ConnectionView
{
public:
    virtual ~ConnectionView() = default;
    virtual QString portText() const = 0;       // Combo1
    virtual QString connectCaption() const = 0; // Command1
    virtual void setConnectCaption(const QString &caption) = 0;
    virtual void setPortSelectorEnabled(bool enabled) = 0;
    virtual void SetCommand(bool sEnb) = 0; // enables or disables the device operations
};

// Opening and closing the port, listing the ports that can be opened, and the connect button.
class Connection
{
public:
    Connection(CommControl &comm, LogPane &log, ConnectionView &view);

    static inline const QString defaultSettings = QStringLiteral("9600,n,8,1");
    static inline const QString connectText = QStringLiteral("连 接");
    static inline const QString disconnectText = QStringLiteral("断 开");

    // True when the port is open afterwards. Nothing is shown or logged either way.
    bool Comm_Open(int cPort, const QString &cSet = defaultSettings,
                   const QString &tsFS = QStringLiteral("hex"));
    void Comm_Close();
    // "COM1" ... "COM32" for each port that can be opened now, in ascending order.
    QStringList list_AllCom();
    void Command1_Click();

    // The port number in a selector text: the rest after the first three characters, read by
    // its leading number and rounded (halves to even); 0 when there is none or it does not fit
    // 16 bits.
    static int portNumber(const QString &text);

private:
    void portLost();

    CommControl &m_comm;
    LogPane &m_log;
    ConnectionView &m_view;
};

} // namespace irlearn
