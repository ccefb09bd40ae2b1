#pragma once

#include "codefile/codetable.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace irlearn::cli {

struct Request;
class Reporter;
class PortJob;

// One code file into several devices at once: a PortJob per port, all in this one process and
// its one event loop, so the devices' lines run side by side at their own pace. Each job
// downloads, verifies by reading back and, when asked, gives its device its new number; one
// failing never holds up the others. The live board shows every port's step; the summary and
// the JSON result list every device.
class CloneRun : public QObject
{
    Q_OBJECT

public:
    CloneRun(const Request &request, Reporter &out);
    ~CloneRun() override;

    static constexpr int started = -1;

    // Checks the file and every port, then starts every job: the exit code when the clone is
    // refused before anything is sent; otherwise `started`, and finished() tells the exit code
    // once the last device is done.
    int start();
    // Ctrl-C or SIGTERM: every port stops at its next safe point, then the summary says where.
    void interrupt(int signal);

signals:
    void finished(int exitCode);

private:
    struct Port
    {
        QString label;
        QString device;
        QString number; // the new device number, empty: keep
        QString line;   // its live state
        PortJob *job = nullptr;
        QString given;   // --port as given: the port is found again by it
        QString current; // the number its device answers to now
    };

    void drawBoard();
    int summarise();

    const Request &m_request;
    Reporter &m_out;
    CodeTable m_table;
    QList<Port> m_ports;
    int m_running = 0;
    QElapsedTimer m_clock;
    int m_signal = 0; // the signal that interrupted the clone; 0: none
};

// Runs the command to its end (a Runner).
int runClone(const Request &request, Reporter &out);

} // namespace irlearn::cli
