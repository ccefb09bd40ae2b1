#pragma once

#include "portrun.h"

#include "codefile/codetable.h"

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace irlearn {
class NetworkPresence;
struct NetworkAddress;
} // namespace irlearn

namespace irlearn::cli {

// A preparation bench: every serial port that appears gets the code file (and the next device
// number), one PortJob per device, all side by side in this one event loop. Local ports are found
// by looking at the file system only (the system's USB serial ports, --watch globs, --port
// paths), so a port is never opened just to see whether it is there; a port server's address
// (--port rfc2217://…) counts as there once the server accepts a connection. A port that was
// written waits to be unplugged (its server's connection dropped) before it counts as new again;
// one lost mid-way is written again when it is back.
class Station : public PortRun
{
    Q_OBJECT

public:
    Station(const Request &request, Reporter &out);
    ~Station() override;

    // Checks the file and the log, then starts watching: the exit code when refused, else
    // `started`; finished() tells the exit code after Ctrl-C.
    int start() override;
    // Ctrl-C or SIGTERM: no new device is started; those being written finish first.
    void interrupt(int signal) override;

private:
    // Where ports may appear, and the number their devices answer to.
    struct Source
    {
        QString pattern; // a path, or a folder and a wildcard name
        QString device;  // the device number; empty: --device
        bool system = false;
    };
    // One device on one port, from its appearing until it goes away.
    struct Slot
    {
        QString path;     // as found (a link keeps its name), or the server's address
        QString identity; // the USB serial number where there is one, else the path
        QString device;
        QString number; // the new number, once its step started
        PortJob *job = nullptr;
        bool present = true;
        bool wentAway = false;             // missing at some look while its job ran
        bool settled = false;              // its job ended: it waits to be unplugged
        NetworkPresence *server = nullptr; // a port server's address: tells when it goes
        QElapsedTimer clock;
    };

    void look();
    void watchServer(const NetworkAddress &address, const QString &device);
    void begin(const QString &key, const QString &path, const QString &device);
    void jobEnded(const QString &key);
    bool serverNotThere(const Slot &slot) const;
    void writeLog(const Slot &slot, bool ok);
    void maybeFinish();
    int summarise() override;

    CodeTable m_table;
    QString m_sum;
    QList<Source> m_sources;
    QList<NetworkPresence *> m_servers;
    QMap<QString, Slot> m_slots; // by the port's canonical path
    QTimer m_poll;
    QFile m_log;
    int m_nextNumber = 0; // 0: keep numbers
    QStringList m_numbersUsed;
    QSet<QString> m_unanswered;    // port servers whose device did not answer its last try
    QMap<QString, int> m_lastCode; // by identity: the code of its last result (0: written)
    int m_written = 0;
    int m_failures = 0;
    bool m_stopping = false;
    bool m_done = false;
};

// Runs the station until Ctrl-C (a Runner).
int runStation(const Request &request, Reporter &out);

} // namespace irlearn::cli
