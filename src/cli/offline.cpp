#include "offline.h"

#include "commandline.h"
#include "labelcommands.h"
#include "reporter.h"

#include "base/nativepath.h"
#include "base/settings.h"
#include "codefile/codefile.h"
#include "codefile/tablecompare.h"
#include "codefile/tablelabels.h"
#include "serial/pinnedports.h"
#include "serial/portchoice.h"

#include <QJsonArray>
#include <QJsonObject>

namespace irlearn::cli {

namespace {

QString stateWord(PortState state)
{
    switch (state) {
    case PortState::Free:
        return QStringLiteral("free");
    case PortState::Busy:
        return QStringLiteral("busy");
    case PortState::NotPermitted:
        return QStringLiteral("not-permitted");
    case PortState::Missing:
        return QStringLiteral("missing");
    case PortState::NotASerialPort:
        return QStringLiteral("not-a-serial-port");
    case PortState::Network:
        return QStringLiteral("network");
    case PortState::Other: // never listed
        break;
    }
    return QString();
}

QString stateText(const PortDetails &d)
{
    switch (d.state) {
    case PortState::Free:
        return QStringLiteral("空闲");
    case PortState::Busy:
        if (d.holderPid <= 0)
            return QStringLiteral("被占用");
        return QStringLiteral("被占用（进程 %1%2）")
            .arg(d.holderPid)
            .arg(d.holderName.isEmpty() ? QString() : QLatin1Char(' ') + d.holderName);
    case PortState::NotPermitted:
        return d.group.isEmpty() ? QStringLiteral("没有权限")
                                 : QStringLiteral("没有权限（设备属于 %1 组）").arg(d.group);
    case PortState::Missing:
        return QStringLiteral("不存在");
    case PortState::NotASerialPort:
        return QStringLiteral("不是串口设备");
    case PortState::Network:
        return QStringLiteral("网络串口服务器（未连接试探）");
    case PortState::Other: // never listed
        break;
    }
    return QString();
}

// A code file checked as a download checks it, or the reason on standard error.
std::optional<CodeTable> loadTable(const QString &path, Reporter &out, QString *why)
{
    const codefile::Loaded file = codefile::load(path);
    if (!file.ok) {
        *why = file.message;
        out.say(*why);
        return std::nullopt;
    }
    CodeTable table;
    codefile::fill(table, file.lines);
    return table;
}

QJsonObject failure(const QString &command, int code, const QString &why)
{
    return {{QStringLiteral("command"), command},
            {QStringLiteral("exit_code"), code},
            {QStringLiteral("result"), QStringLiteral("bad-file")},
            {QStringLiteral("message"), why}};
}

} // namespace

int listPorts(const Request &request, Reporter &out)
{
    const Settings settings =
        request.settingsPath.isEmpty() ? Settings::standard() : Settings(request.settingsPath);
    const QList<NamedPort> ports =
        namedPorts(PortNames::current(pinnedPorts(settings)), systemPorts());
    QJsonArray list;
    if (ports.isEmpty())
        out.say(QStringLiteral("没有找到串口。"));
    for (const NamedPort &port : ports) {
        const PortDetails &d = port.details;
        const QString name = comName(port.number);
        QStringList lines{QStringLiteral("%1  %2  %3").arg(name, d.path, stateText(d))};
        const QString indent(name.size() + 2, QLatin1Char(' '));
        if (!d.byId.isEmpty())
            lines << indent + d.byId;
        if (!d.byPath.isEmpty())
            lines << indent + d.byPath;
        QStringList usb;
        if (!d.usbId.isEmpty())
            usb << QStringLiteral("USB %1").arg(d.usbId);
        if (!d.serialNumber.isEmpty())
            usb << QStringLiteral("序列号 %1").arg(d.serialNumber);
        if (!d.description.isEmpty())
            usb << d.description;
        if (!usb.isEmpty())
            lines << indent + usb.join(QStringLiteral("  "));
        out.print(lines.join(QLatin1Char('\n')));
        QJsonObject entry{{QStringLiteral("name"), name},
                          {QStringLiteral("path"), d.path},
                          {QStringLiteral("by_id"), d.byId},
                          {QStringLiteral("by_path"), d.byPath},
                          {QStringLiteral("usb_id"), d.usbId},
                          {QStringLiteral("serial_number"), d.serialNumber},
                          {QStringLiteral("description"), d.description},
                          {QStringLiteral("state"), stateWord(d.state)}};
        if (d.state == PortState::Busy && d.holderPid > 0) {
            entry.insert(QStringLiteral("holder_pid"), d.holderPid);
            entry.insert(QStringLiteral("holder_name"), d.holderName);
        }
        if (!d.group.isEmpty())
            entry.insert(QStringLiteral("group"), d.group);
        list.append(entry);
    }
    out.result({{QStringLiteral("command"), request.name},
                {QStringLiteral("exit_code"), exitDone},
                {QStringLiteral("ports"), list}});
    return exitDone;
}

int diffFiles(const Request &request, Reporter &out)
{
    QString why;
    const auto a = loadTable(request.file, out, &why);
    const auto b = a ? loadTable(request.secondFile, out, &why) : std::nullopt;
    if (!a || !b) {
        out.result(failure(request.name, exitUsage, why));
        return exitUsage;
    }
    const QList<tables::RecordDifference> differing = tables::compare(*a, *b);
    QJsonArray list;
    for (const tables::RecordDifference &d : differing) {
        const QString x = (*a)[std::size_t(d.record - 1)].mid(2 * d.firstByte, 2).toUpper();
        const QString y = (*b)[std::size_t(d.record - 1)].mid(2 * d.firstByte, 2).toUpper();
        // Bytes are counted from 1, as records are.
        out.print(QStringLiteral("第%1条记录不同：从第%2字节起（%3 / %4）")
                      .arg(d.record)
                      .arg(d.firstByte + 1)
                      .arg(x, y));
        list.append(QJsonObject{{QStringLiteral("record"), d.record},
                                {QStringLiteral("first_byte"), d.firstByte + 1}});
    }
    if (differing.isEmpty())
        out.print(QStringLiteral("两个文件的%1条记录全部相同。").arg(tableRecords));
    const int code = differing.isEmpty() ? exitDone : exitFailed;
    out.result({{QStringLiteral("command"), request.name},
                {QStringLiteral("exit_code"), code},
                {QStringLiteral("identical"), differing.isEmpty()},
                {QStringLiteral("differing"), list}});
    return code;
}

int describeFile(const Request &request, Reporter &out)
{
    const labels::Labelled labelled = labels::load(request.file);
    const codefile::Loaded &file = labelled.file;
    if (!file.ok) {
        const QString why = file.message;
        out.say(why);
        QJsonObject result = failure(request.name, exitUsage, why);
        result.insert(QStringLiteral("bad_line"), file.badLine);
        out.result(result);
        return exitUsage;
    }
    CodeTable table;
    codefile::fill(table, file.lines);
    QJsonArray sizes;
    QStringList sizeTexts;
    for (const QString &line : file.lines) {
        sizes.append(int(line.size() / 2));
        sizeTexts << QString::number(line.size() / 2);
    }
    const QString sum = QString::fromLatin1(tables::sha256(table).toHex());
    out.print(QStringLiteral("有效的红外指令文件：%1 行%2")
                  .arg(file.lines.size())
                  .arg(file.lines.size() > tableRecords ? QStringLiteral("（第17行保留，不下载）")
                                                        : QString()));
    out.print(QStringLiteral("每条记录字节数：%1").arg(sizeTexts.join(QLatin1Char(' '))));
    out.print(QStringLiteral("SHA-256（16条记录）：%1").arg(sum));
    QJsonObject result{{QStringLiteral("command"), request.name},
                       {QStringLiteral("exit_code"), exitDone},
                       {QStringLiteral("lines"), int(file.lines.size())},
                       {QStringLiteral("record_bytes"), sizes},
                       {QStringLiteral("sha256"), sum}};
    // info only describes: labels that no longer match are told, not refused.
    const labels::Check &check = labelled.labels;
    if (check.state == labels::Check::Damaged) {
        out.say(QStringLiteral("标签文件无效，已忽略：%1（%2）")
                    .arg(displayName(labels::pathFor(request.file)), check.reason));
        result.insert(QStringLiteral("labels_state"), QStringLiteral("damaged"));
    } else if (check.state != labels::Check::None) {
        QStringList lines = labelLines(check.labels);
        const bool changed = check.state == labels::Check::Mismatch;
        if (changed) {
            QStringList numbers;
            QJsonArray records;
            for (int record : check.changedRecords) {
                numbers << QString::number(record);
                records.append(record);
            }
            lines << (numbers.isEmpty()
                          ? QStringLiteral("文件在加标签后已被改动（16条记录未变）")
                          : QStringLiteral("文件在加标签后已被改动：第%1条记录与标签不符")
                                .arg(numbers.join(QStringLiteral("、"))));
            result.insert(QStringLiteral("changed_records"), records);
        }
        out.print(lines.join(QLatin1Char('\n')));
        result.insert(QStringLiteral("labels_state"),
                      changed ? QStringLiteral("changed") : QStringLiteral("valid"));
        result.insert(QStringLiteral("labels"), labelsJson(check.labels));
    }
    out.result(result);
    return exitDone;
}

} // namespace irlearn::cli
