#pragma once

#include "codefile/tablelibrary.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

namespace irlearn::cli {

struct Request;
class Reporter;
class PortJob;

// Which library table each device holds: a PortJob per port reads the device's table, all in
// one event loop as a clone runs, and each table read is matched against the library's entries.
class IdentifyRun : public QObject
{
    Q_OBJECT

public:
    IdentifyRun(const Request &request, Reporter &out);
    ~IdentifyRun() override;

    static constexpr int started = -1;

    // Loads the library and checks every port, then starts every read: the exit code when the
    // run is refused before anything is sent; otherwise `started`, and finished() tells the exit
    // code once the last device is done.
    int start();
    void interrupt(int signal);

signals:
    void finished(int exitCode);

private:
    struct Port
    {
        QString label;
        QString device;
        QString line;
        PortJob *job = nullptr;
    };

    void drawBoard();
    int summarise();

    const Request &m_request;
    Reporter &m_out;
    QList<TableLibrary::Entry> m_entries;
    QList<Port> m_ports;
    int m_running = 0;
    QElapsedTimer m_clock;
    int m_signal = 0;
};

// Runs the command to its end (a Runner).
int runIdentify(const Request &request, Reporter &out);

} // namespace irlearn::cli
