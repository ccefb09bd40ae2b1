#include "identifyrun.h"

#include "commandline.h"
#include "labelcommands.h"
#include "portjob.h"
#include "reporter.h"
#include "runcontext.h"

#include "base/nativepath.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

namespace irlearn::cli {

IdentifyRun::IdentifyRun(const Request &request, Reporter &out) : m_request(request), m_out(out)
{
}

IdentifyRun::~IdentifyRun() = default;

int IdentifyRun::start()
{
    m_clock.start();
    const Request &r = m_request;
    QJsonObject json{{QStringLiteral("command"), r.name}};

    const TableLibrary library(libraryFolder(r));
    json.insert(QStringLiteral("library"), library.folder());
    QStringList problems;
    m_entries = library.entries(&problems);
    for (const QString &problem : std::as_const(problems))
        m_out.say(QStringLiteral("不是红外指令文件，已跳过：%1").arg(problem));
    // An empty library answers "unknown" for every device: worth saying before the reads.
    if (m_entries.isEmpty())
        m_out.say(QStringLiteral("码库中没有条目：%1").arg(displayName(library.folder())));

    // Every port is looked at before any is opened, as a clone does.
    QStringList portProblems;
    QStringList seen;
    for (const QString &given : r.ports) {
        QString why;
        const std::optional<Target> target = resolveTarget(r, given, &why);
        if (!target) {
            portProblems << QStringLiteral("%1：%2").arg(given, why);
            continue;
        }
        const QString canonical = QFileInfo(target->device).canonicalFilePath();
        if (seen.contains(canonical))
            return m_out.refuse(json, exitUsage,
                                QStringLiteral("端口 %1 给了不止一次（%2）").arg(given, canonical),
                                QStringLiteral("usage"));
        seen << canonical;
        m_ports.append({target->label, target->device, QString(), nullptr});
    }
    if (!portProblems.isEmpty())
        return m_out.refuse(json, exitPortOpen, portProblems.join(QLatin1Char('\n')),
                            outcomeWord(Outcome::NotOpen));

    const Timings timings = timingsFromEnvironment();
    m_running = int(m_ports.size());
    for (Port &port : m_ports) {
        port.job = new PortJob(port.device, timings, this);
        port.job->addStep({QStringLiteral("读取"),
                           [device = r.device](DeviceEngine &e) { return e.readTable(device); },
                           QStringLiteral("read")});
        Port *p = &port;
        connect(port.job, &PortJob::stepStarted, this, [this, p](const QString &step, int) {
            p->line = step;
            drawBoard();
        });
        connect(port.job, &PortJob::progress, this,
                [this, p](const QString &step, int done, int total) {
                    p->line = QStringLiteral("%1 %2/%3").arg(step).arg(done).arg(total);
                    drawBoard();
                });
        connect(port.job, &PortJob::note, this, [this, p](const QString &text) {
            m_out.say(QStringLiteral("%1: %2").arg(p->label, text));
        });
        connect(port.job, &PortJob::logLine, this,
                [this, p, verbose = r.verbose](const QString &line) {
                    m_out.frame(QStringLiteral("%1: %2").arg(p->label, line), verbose);
                });
        connect(port.job, &PortJob::finished, this, [this, p] {
            const JobResult &result = p->job->result();
            p->line = result.ok() ? QStringLiteral("已读取")
                                  : QStringLiteral("失败：%1").arg(result.message);
            drawBoard();
            if (--m_running == 0) {
                m_out.settle();
                emit finished(summarise());
            }
        });
    }
    drawBoard();
    for (Port &port : m_ports)
        port.job->start();
    return started;
}

void IdentifyRun::interrupt(int signal)
{
    if (m_signal != 0)
        return;
    m_signal = signal;
    m_out.say(stoppingText);
    for (Port &port : m_ports) {
        if (port.job)
            port.job->cancel();
    }
}

void IdentifyRun::drawBoard()
{
    int width = 0;
    for (const Port &port : std::as_const(m_ports))
        width = qMax(width, int(port.label.size()));
    QStringList lines;
    for (const Port &port : std::as_const(m_ports))
        lines << QStringLiteral("%1  %2").arg(port.label.leftJustified(width),
                                              port.line.isEmpty() ? QStringLiteral("等待")
                                                                  : port.line);
    m_out.board(lines);
}

int IdentifyRun::summarise()
{
    int code = exitDone;
    int exact = 0;
    QJsonArray devices;
    QList<QStringList> rows{{QStringLiteral("端口"), QStringLiteral("设备号"),
                             QStringLiteral("条目"), QStringLiteral("不同的记录")}};
    for (const Port &port : std::as_const(m_ports)) {
        const JobResult &result = port.job->result();
        QJsonObject device{{QStringLiteral("port"), port.label},
                           {QStringLiteral("path"), port.device},
                           {QStringLiteral("device"), m_request.device},
                           {QStringLiteral("result"), outcomeWord(result.outcome)}};
        QString entryText;
        QString differingText = QStringLiteral("-");
        int portCode = exitDone;
        if (!result.ok()) {
            portCode = result.interrupted ? SignalWatch::exitCode(m_signal) : result.exitCode();
            if (result.outcome == Outcome::NotOpen)
                portCode = exitPortOpen;
            QString message =
                result.interrupted ? interruptedText(Command::Identify, result) : result.message;
            if (result.outcome == Outcome::TimedOut)
                message = withNoAnswerHint(message);
            entryText = QStringLiteral("未读出：%1").arg(message);
            device.insert(QStringLiteral("match"), QStringLiteral("not-read"));
            device.insert(QStringLiteral("message"), message);
        } else {
            const CodeTable &table = result.operation.table;
            const TableLibrary::Match match = TableLibrary::identify(table, m_entries);
            device.insert(QStringLiteral("sha256"),
                          QString::fromLatin1(tables::sha256(table).toHex()));
            QJsonArray differing;
            QStringList numbers;
            for (const tables::RecordDifference &d : match.differing) {
                differing.append(d.record);
                numbers << QString::number(d.record);
            }
            switch (match.kind) {
            case TableLibrary::Match::Exact:
                ++exact;
                entryText = match.entry.id;
                device.insert(QStringLiteral("match"), QStringLiteral("exact"));
                break;
            case TableLibrary::Match::Closest:
                portCode = exitFailed;
                entryText = QStringLiteral("最接近 %1").arg(match.entry.id);
                differingText = numbers.join(QLatin1Char(','));
                device.insert(QStringLiteral("match"), QStringLiteral("closest"));
                break;
            case TableLibrary::Match::Unknown:
                portCode = exitFailed;
                entryText = QStringLiteral("未知");
                device.insert(QStringLiteral("match"), QStringLiteral("unknown"));
                break;
            }
            if (match.kind != TableLibrary::Match::Unknown) {
                device.insert(QStringLiteral("entry"), match.entry.id);
                device.insert(QStringLiteral("brand"), match.entry.labels.brand);
                device.insert(QStringLiteral("model"), match.entry.labels.model);
            }
            device.insert(QStringLiteral("differing"), differing);
        }
        device.insert(QStringLiteral("exit_code"), portCode);
        code = qMax(code, portCode);
        rows.append({port.label, m_request.device, entryText, differingText});
        devices.append(device);
    }
    m_out.print(columnsText(rows));
    m_out.print(
        QStringLiteral("%1 台设备中 %2 台与码库条目完全相同。").arg(m_ports.size()).arg(exact));
    m_out.result({{QStringLiteral("command"), m_request.name},
                  {QStringLiteral("elapsed_s"), seconds(m_clock)},
                  {QStringLiteral("exit_code"), code},
                  {QStringLiteral("interrupted"), code >= exitInterrupted},
                  {QStringLiteral("result"),
                   code == exitDone ? QStringLiteral("done") : QStringLiteral("failed")},
                  {QStringLiteral("devices"), devices}});
    return code;
}

int runIdentify(const Request &request, Reporter &out)
{
    return runToTheEnd(std::make_unique<IdentifyRun>(request, out));
}

} // namespace irlearn::cli
