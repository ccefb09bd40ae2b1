#pragma once

#include "codefile/codetable.h"

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
    std::unique_ptr<PortJob> m_job;
};

} // namespace irlearn::cli
