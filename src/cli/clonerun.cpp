#include "clonerun.h"

#include "commandline.h"
#include "labelcommands.h"
#include "portjob.h"
#include "reporter.h"
#include "runcontext.h"

#include "base/regularfile.h"
#include "codefile/codefile.h"
#include "codefile/tablecompare.h"
#include "serial/portidentity.h"

#include <QJsonArray>
#include <QJsonObject>

namespace irlearn::cli {

CloneRun::CloneRun(const Request &request, Reporter &out) : PortRun(request, out)
{
}

CloneRun::~CloneRun() = default;

int CloneRun::start()
{
    const Request &r = m_request;
    QJsonObject json{{QStringLiteral("command"), r.name}, {QStringLiteral("file"), r.file}};
    auto refuse = [&](int code, const QString &why, const QString &word) {
        return m_out.refuse(json, code, why, word);
    };

    const labels::Labelled labelled = labels::load(r.file, codefile::notForDownload);
    const codefile::Loaded &file = labelled.file;
    if (!file.ok)
        return refuse(exitUsage, file.message, QStringLiteral("bad-file"));
    if (const QString why = labelRefusal(labelled.labels, r, m_out, json); !why.isEmpty())
        return refuse(exitUsage, why, QStringLiteral("labels-changed"));
    codefile::fill(m_table, file.lines);

    // Every port is looked at before any is opened: a wrong one stops the clone with nothing sent.
    if (const int refused = takePorts(json); refused != 0)
        return refused;
    startJobs(
        [this, &r](Port &port, PortJob &job) {
            job.setRetries(r.retries);
            // Reopened where its adapter is now: by its USB identity when it has one (it may come
            // back under another /dev name), else by the name the operator gave (a COM name or a
            // link finds the device anew).
            const PortIdentity identity = identityOf(describePort(port.device));
            job.setRetryPacing(firstRetryMs(), [&r, given = port.given, identity] {
                QString why;
                const std::optional<Target> target = resolveTarget(r, given, &why);
                return relocatePort(identity, target ? target->device : QString(),
                                    identity.isEmpty() ? QList<PortDetails>() : systemPorts());
            });
            job.addStep({QStringLiteral("写入"),
                         [this, device = port.current](DeviceEngine &e) {
                             return e.downloadTable(device, m_table, true);
                         },
                         QStringLiteral("download")});
            if (!port.number.isEmpty())
                job.addStep(
                    {QStringLiteral("设备号 %1").arg(port.number),
                     [number = port.number](DeviceEngine &e) { return e.setDeviceNumber(number); },
                     QStringLiteral("set-number")});
        },
        QStringLiteral("完成"));
    return started;
}

int CloneRun::summarise()
{
    int code = exitDone;
    int done = 0;
    QJsonArray devices;
    int width = 4;
    for (const Port &port : std::as_const(m_ports))
        width = qMax(width, int(port.label.size()));
    QStringList table{QStringLiteral("%1  结果  设备号  尝试  说明")
                          .arg(QStringLiteral("端口").leftJustified(width - 2))};
    for (const Port &port : std::as_const(m_ports)) {
        const JobResult &result = port.job->result();
        const QString message = failureText(Command::Clone, result);
        const int portCode = exitCodeOf(result);
        code = qMax(code, portCode);
        if (result.ok())
            ++done;
        // A number counts as given only once its step has run.
        const bool numbered = result.ok() && !port.number.isEmpty();
        table << QStringLiteral("%1  %2  %3  %4  %5")
                     .arg(port.label.leftJustified(width),
                          result.ok()          ? QStringLiteral("完成")
                          : result.interrupted ? QStringLiteral("中断")
                                               : QStringLiteral("失败"),
                          (numbered ? port.number : QStringLiteral("-")).leftJustified(6),
                          QString::number(result.attempts).leftJustified(4),
                          result.ok() ? QStringLiteral("已校验") : message);
        QJsonObject device{{QStringLiteral("port"), port.label},
                           {QStringLiteral("path"), port.device},
                           {QStringLiteral("result"), outcomeWord(result.outcome)},
                           {QStringLiteral("exit_code"), portCode},
                           {QStringLiteral("verified"), result.ok()},
                           {QStringLiteral("attempts"), result.attempts},
                           {QStringLiteral("message"), message},
                           {QStringLiteral("interrupted"), result.interrupted}};
        if (numbered)
            device.insert(QStringLiteral("number"), port.number);
        if (!result.ok()) {
            device.insert(QStringLiteral("step"), result.stepWord);
            if (result.operation.record > 0)
                device.insert(QStringLiteral("record"), result.operation.record);
            if (!result.operation.differing.isEmpty())
                device.insert(QStringLiteral("differing"), numbersJson(result.operation.differing));
        }
        devices.append(device);
    }
    const QString sum = QString::fromLatin1(tables::sha256(m_table).toHex());
    m_out.print(table.join(QLatin1Char('\n')));
    m_out.print(QStringLiteral("%1 台设备中 %2 台完成。").arg(m_ports.size()).arg(done));
    m_out.print(sumAndTime(sum, m_clock));
    m_out.result({{QStringLiteral("command"), m_request.name},
                  {QStringLiteral("file"), m_request.file},
                  {QStringLiteral("sha256"), sum},
                  {QStringLiteral("elapsed_s"), seconds(m_clock)},
                  {QStringLiteral("exit_code"), code},
                  {QStringLiteral("interrupted"), code >= exitInterrupted},
                  {QStringLiteral("result"),
                   done == m_ports.size() ? QStringLiteral("done") : QStringLiteral("failed")},
                  {QStringLiteral("devices"), devices}});
    return code;
}

int runClone(const Request &request, Reporter &out)
{
    return runToTheEnd(std::make_unique<CloneRun>(request, out));
}

} // namespace irlearn::cli
