#include "identifyrun.h"

#include "commandline.h"
#include "labelcommands.h"
#include "portjob.h"
#include "reporter.h"
#include "runcontext.h"

#include "base/nativepath.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>

namespace irlearn::cli {

IdentifyRun::IdentifyRun(const Request &request, Reporter &out) : PortRun(request, out)
{
}

IdentifyRun::~IdentifyRun() = default;

int IdentifyRun::start()
{
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
    if (const int refused = takePorts(json); refused != 0)
        return refused;
    startJobs(
        [&r](Port &, PortJob &job) {
            job.addStep({QStringLiteral("读取"),
                         [device = r.device](DeviceEngine &e) { return e.readTable(device); },
                         QStringLiteral("read")});
        },
        QStringLiteral("已读取"));
    return started;
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
            portCode = exitCodeOf(result);
            const QString message = failureText(Command::Identify, result);
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
