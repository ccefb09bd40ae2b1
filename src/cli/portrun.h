#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QJsonObject;

namespace irlearn::cli {

struct Request;
struct JobResult;
class Reporter;
class PortJob;
enum class Command;

// Work on several devices side by side, one PortJob per port, all in this one event loop: the
// shape of a Runner (start, interrupt, finished) that clone, identify and the station share.
// For the ports given on the command line it also looks at them all before any is opened, wires
// each job to the live board, and tells finished() once the last job is done.
class PortRun : public QObject
{
    Q_OBJECT

public:
    PortRun(const Request &request, Reporter &out);
    ~PortRun() override;

    static constexpr int started = -1;

    // The exit code when the run is refused before anything is sent; otherwise `started`, and
    // finished() tells the exit code later.
    virtual int start() = 0;
    // Ctrl-C or SIGTERM: every port stops at its next safe point, then the summary says where.
    virtual void interrupt(int signal);

signals:
    void finished(int exitCode);

protected:
    struct Port
    {
        QString label;
        QString device;  // the path (or address) its job opens
        QString given;   // --port as given: the port is found again by it
        QString current; // the number its device answers to now
        QString number;  // the new device number, empty: keep
        QString line;    // its live state
        PortJob *job = nullptr;
    };

    // Looks at every --port before any is opened and fills m_ports: 0, or the exit code of the
    // refusal it has reported (a port given twice, ports that are no serial ports).
    int takePorts(const QJsonObject &json);
    // Gives every port its job, with the steps `addSteps` adds, and starts them all; `doneText`
    // stands on the board for a job done. summarise() gives the exit code after the last one.
    void startJobs(const std::function<void(Port &, PortJob &)> &addSteps, const QString &doneText);
    virtual int summarise() = 0;

    // A job's exit code, and the message that says why it failed.
    int exitCodeOf(const JobResult &result) const;
    QString failureText(Command command, const JobResult &result) const;

    const Request &m_request;
    Reporter &m_out;
    QList<Port> m_ports;
    QElapsedTimer m_clock;
    int m_signal = 0; // the signal that interrupted the run; 0: none

private:
    void drawBoard();

    int m_running = 0;
};

} // namespace irlearn::cli
