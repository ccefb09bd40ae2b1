#pragma once

#include "codefile/codetable.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <memory>

namespace irlearn::cli {

struct Request;
class Reporter;
class PortJob;

// read, download, verify, set-number, learn and send on one device: everything the command line
// and the files allow is checked first, then one PortJob runs the command's steps in the
// program's event loop.
class DeviceCommand : public QObject
{
    Q_OBJECT

public:
    static constexpr int started = -1;

    DeviceCommand(const Request &request, Reporter &out);
    ~DeviceCommand() override;

    // The exit code when the command is refused before anything is sent; otherwise `started`,
    // and finished() tells the exit code at the end.
    int start();
    // Ctrl-C or SIGTERM: stop at the next safe point, then say what was done.
    void interrupt(int signal);

signals:
    void finished(int exitCode);

private:
    int refuse(int code, const QString &why, const QString &word);
    void jobFinished();

    const Request &m_request;
    Reporter &m_out;
    QJsonObject m_json;
    CodeTable m_table;
    QString m_label;
    QString m_lastLog;
    QElapsedTimer m_clock;
    int m_signal = 0; // the signal that interrupted the run; 0: none
    std::unique_ptr<PortJob> m_job;
};

// Why the table read cannot be saved at path (read -o, teach -o); empty when it can.
QString saveTargetProblem(const QString &path);

// Runs the command to its end (a Runner).
int runDeviceCommand(const Request &request, Reporter &out);

} // namespace irlearn::cli
