#pragma once

#include "serial/networkaddress.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QTcpSocket;

namespace irlearn {

// Whether a port server serves an address, told by connecting to it and sending nothing: the
// device behind it never sees a byte from here. While watching, it tries every pollMs and says
// appeared() once the server accepts (and closes that connection again, for the device's own
// line to take). While holding, it keeps a connection open and says gone() once the server
// drops it or turns it away for good.
class NetworkPresence : public QObject
{
    Q_OBJECT

public:
    // A server mostly hangs up at once on a connection that comes while it is still letting the
    // last one go: within graceMs of the hold's start, a connection that dropped before it was
    // up a sixth of that is tried again, not taken for the device being gone.
    static constexpr int defaultGraceMs = 3000;

    NetworkPresence(NetworkAddress address, int pollMs, int graceMs = defaultGraceMs,
                    QObject *parent = nullptr);
    ~NetworkPresence() override;

    const NetworkAddress &address() const { return m_address; }

    void watch();
    void hold();
    void stop();

signals:
    void appeared();
    void gone();

private:
    enum class Mode { Idle, Watching, Holding };

    void tryConnect();
    void connected();
    void dropped();

    NetworkAddress m_address;
    int m_graceMs;
    Mode m_mode = Mode::Idle;
    QTcpSocket *m_socket;
    QTimer m_next;
    QElapsedTimer m_holding; // since hold()
    QElapsedTimer m_up;      // since the hold's connection came up
    bool m_held = false;     // the hold's connection is up
};

} // namespace irlearn
