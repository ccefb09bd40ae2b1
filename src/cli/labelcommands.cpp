#include "labelcommands.h"

#include "commandline.h"
#include "reporter.h"

#include "base/nativepath.h"
#include "base/settings.h"
#include "codefile/tablelibrary.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace irlearn::cli {

namespace {

QString recordList(const QList<int> &records)
{
    QStringList numbers;
    for (int r : records)
        numbers << QString::number(r);
    return numbers.join(QStringLiteral("、"));
}

QString savedText(const QDateTime &saved)
{
    return saved.isValid() ? saved.toString(Qt::ISODate) : QStringLiteral("-");
}

QString orDash(const QString &text)
{
    return text.trimmed().isEmpty() ? QStringLiteral("-") : text.trimmed();
}

QString coverage(const TableLabels &labels)
{
    return QStringLiteral("%1/%2/10").arg(labels.keysLearnt()).arg(labels.keysTested());
}

QJsonObject entryJson(const TableLibrary::Entry &entry)
{
    return {{QStringLiteral("id"), entry.id},
            {QStringLiteral("path"), entry.path},
            {QStringLiteral("brand"), entry.labels.brand},
            {QStringLiteral("model"), entry.labels.model},
            {QStringLiteral("remote"), entry.labels.remote},
            {QStringLiteral("notes"), entry.labels.notes},
            {QStringLiteral("saved"),
             entry.labels.saved.isValid() ? entry.labels.saved.toString(Qt::ISODate) : QString()},
            {QStringLiteral("keys_learnt"), entry.labels.keysLearnt()},
            {QStringLiteral("keys_tested"), entry.labels.keysTested()},
            {QStringLiteral("labelled"),
             entry.labelState != labels::Check::None && entry.labelState != labels::Check::Damaged},
            {QStringLiteral("sha256"), entry.sha256}};
}

int failed(Reporter &out, const Request &r, int code, const QString &why, const QString &word)
{
    return out.refuse({{QStringLiteral("command"), r.name}}, code, why, word);
}

int listLibrary(const Request &r, Reporter &out, const TableLibrary &library)
{
    QStringList problems;
    QList<TableLibrary::Entry> entries = library.entries(&problems);
    for (const QString &problem : std::as_const(problems))
        out.say(QStringLiteral("不是红外指令文件，已跳过：%1").arg(problem));
    if (!r.search.isEmpty()) {
        entries.removeIf(
            [&r](const TableLibrary::Entry &e) { return !TableLibrary::matches(e, r.search); });
    }
    QJsonArray list;
    QList<QStringList> rows{{QStringLiteral("编号"), QStringLiteral("品牌"), QStringLiteral("型号"),
                             QStringLiteral("遥控器"), QStringLiteral("保存时间"),
                             QStringLiteral("学/测/共"), QStringLiteral("SHA-256")}};
    for (const TableLibrary::Entry &e : std::as_const(entries)) {
        rows.append({e.id, orDash(e.labels.brand), orDash(e.labels.model), orDash(e.labels.remote),
                     savedText(e.labels.saved), coverage(e.labels), e.sha256.left(12)});
        list.append(entryJson(e));
    }
    if (entries.isEmpty()) {
        out.say(r.search.isEmpty()
                    ? QStringLiteral("码库中没有条目：%1").arg(displayName(library.folder()))
                    : QStringLiteral("没有符合“%1”的条目。").arg(r.search));
    } else {
        out.print(columnsText(rows));
    }
    out.result({{QStringLiteral("command"), r.name},
                {QStringLiteral("action"), r.action},
                {QStringLiteral("exit_code"), exitDone},
                {QStringLiteral("library"), library.folder()},
                {QStringLiteral("entries"), list}});
    return exitDone;
}

int addToLibrary(const Request &r, Reporter &out, const TableLibrary &library)
{
    TableLabels edits;
    applyLabelFields(edits, r);
    const TableLibrary::Added added = library.add(r.file, edits, r.ignoreLabels);
    if (!added.ok)
        return failed(out, r, exitUsage,
                      QStringLiteral("%1：%2").arg(displayName(r.file), added.error),
                      QStringLiteral("not-added"));
    out.say(QStringLiteral("已存入码库：%1").arg(displayName(added.entry.path)));
    out.print(added.entry.id);
    QJsonObject json{{QStringLiteral("command"), r.name},
                     {QStringLiteral("action"), r.action},
                     {QStringLiteral("exit_code"), exitDone},
                     {QStringLiteral("library"), library.folder()}};
    json.insert(QStringLiteral("entry"), entryJson(added.entry));
    out.result(json);
    return exitDone;
}

int showEntry(const Request &r, Reporter &out, const TableLibrary &library)
{
    const std::optional<TableLibrary::Entry> entry = library.find(r.entry);
    if (!entry)
        return failed(
            out, r, exitUsage,
            QStringLiteral("码库中没有条目：%1（%2）").arg(r.entry, displayName(library.folder())),
            QStringLiteral("no-entry"));
    QStringList lines{QStringLiteral("编号：%1").arg(entry->id),
                      QStringLiteral("文件：%1").arg(displayName(entry->path))};
    if (entry->labelState == labels::Check::Damaged)
        lines << QStringLiteral("标签文件无效，已忽略");
    else if (entry->labelState == labels::Check::Mismatch)
        lines << QStringLiteral("文件在加标签后已被改动");
    lines << labelLines(entry->labels);
    lines << QStringLiteral("SHA-256（文件）：%1").arg(entry->sha256);
    out.print(lines.join(QLatin1Char('\n')));
    QJsonObject json{{QStringLiteral("command"), r.name},
                     {QStringLiteral("action"), r.action},
                     {QStringLiteral("exit_code"), exitDone},
                     {QStringLiteral("entry"), entryJson(*entry)}};
    if (entry->labelState != labels::Check::None && entry->labelState != labels::Check::Damaged)
        json.insert(QStringLiteral("labels"), labelsJson(entry->labels));
    out.result(json);
    return exitDone;
}

// Terminal cells a text takes: the wide scripts (CJK, full-width forms) two each.
int cells(const QString &text)
{
    int width = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool wide = (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF) ||
                          (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) ||
                          (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60) ||
                          (u >= 0xFFE0 && u <= 0xFFE6);
        width += wide ? 2 : 1;
    }
    return width;
}

} // namespace

QString columnsText(const QList<QStringList> &rows)
{
    QList<int> widths;
    for (const QStringList &row : rows) {
        for (int c = 0; c < row.size(); ++c) {
            if (c == widths.size())
                widths.append(0);
            widths[c] = qMax(widths[c], cells(row.at(c)));
        }
    }
    QStringList lines;
    for (const QStringList &row : rows) {
        QString line;
        for (int c = 0; c < row.size(); ++c) {
            line += row.at(c);
            if (c + 1 < row.size())
                line += QString(widths[c] - cells(row.at(c)) + 2, QLatin1Char(' '));
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

QStringList labelLines(const TableLabels &labels)
{
    QStringList lines = labels::namedFields(labels);
    if (labels.saved.isValid())
        lines << QStringLiteral("保存时间：") + savedText(labels.saved);
    lines << QStringLiteral("空调键：已学 %1，已测 %2（共10个）")
                 .arg(labels.keysLearnt())
                 .arg(labels.keysTested());
    return lines;
}

QJsonObject labelsJson(const TableLabels &labels)
{
    return QJsonDocument::fromJson(labels::toJson(labels)).object();
}

QString labelRefusal(const labels::Check &check, const Request &r, Reporter &out, QJsonObject &json)
{
    const QString path = displayName(labels::pathFor(r.file));
    switch (check.state) {
    case labels::Check::None:
        return QString();
    case labels::Check::Damaged:
        json.insert(QStringLiteral("labels_state"), QStringLiteral("damaged"));
        out.say(QStringLiteral("标签文件无效，已忽略：%1（%2）").arg(path, check.reason));
        return QString();
    case labels::Check::Valid:
        json.insert(QStringLiteral("labels_state"), QStringLiteral("valid"));
        if (const QString summary = labels::summary(check.labels); !summary.isEmpty())
            out.say(QStringLiteral("标签：") + summary);
        return QString();
    case labels::Check::Mismatch:
        break;
    }
    json.insert(QStringLiteral("labels_state"), QStringLiteral("changed"));
    QJsonArray changed;
    for (int record : check.changedRecords)
        changed.append(record);
    json.insert(QStringLiteral("changed_records"), changed);
    const QString what =
        check.changedRecords.isEmpty()
            ? QStringLiteral("16条记录未变，但文件内容与标签不符")
            : QStringLiteral("第%1条记录与标签不符").arg(recordList(check.changedRecords));
    const QString text =
        QStringLiteral("红外指令文件在加标签后已被改动：%1\n%2。").arg(displayName(r.file), what);
    if (r.ignoreLabels) {
        out.say(text + QStringLiteral("（--ignore-labels：照样使用）"));
        return QString();
    }
    return text + QStringLiteral("\n确认无误时加 --ignore-labels，或用 irlearn-cli label "
                                 "--ignore-labels 重新盖章。");
}

void applyLabelFields(TableLabels &labels, const Request &request)
{
    for (const auto &[name, value] : request.labelFields)
        labels::setField(labels, name, value);
}

QString libraryFolder(const Request &request)
{
    if (!request.library.isEmpty())
        return request.library;
    const Settings settings =
        request.settingsPath.isEmpty() ? Settings::standard() : Settings(request.settingsPath);
    return TableLibrary::folderIn(settings);
}

int labelFile(const Request &r, Reporter &out)
{
    QJsonObject json{{QStringLiteral("command"), r.name}, {QStringLiteral("file"), r.file}};
    const labels::Labelled loaded = labels::load(r.file);
    if (!loaded.file.ok)
        return out.refuse(
            json, exitUsage,
            QStringLiteral("红外指令文件无效：%1\n%2").arg(displayName(r.file), loaded.file.reason),
            QStringLiteral("bad-file"));
    // A label file that is not ours may be someone else's: replaced only when asked to.
    if (loaded.labels.state == labels::Check::Damaged && !r.ignoreLabels)
        return out.refuse(json, exitUsage,
                          QStringLiteral("标签文件无效：%1（%2）\n加 --ignore-labels 则替换它。")
                              .arg(displayName(labels::pathFor(r.file)), loaded.labels.reason),
                          QStringLiteral("bad-labels"));
    const QString why = labelRefusal(loaded.labels, r, out, json);
    if (!why.isEmpty())
        return out.refuse(json, exitUsage, why, QStringLiteral("labels-changed"));
    TableLabels labels = loaded.labels.state == labels::Check::Valid ||
                                 loaded.labels.state == labels::Check::Mismatch
                             ? loaded.labels.labels
                             : TableLabels();
    // A file labelled for the first time was saved when it was last written.
    if (!labels.saved.isValid()) {
        const QDateTime modified = lastModified(r.file);
        labels.saved =
            modified.addMSecs(-modified.time().msec()).toOffsetFromUtc(modified.offsetFromUtc());
    }
    applyLabelFields(labels, r);
    QString error;
    if (!labels::write(r.file, labels, &error))
        return out.refuse(json, exitUsage,
                          QStringLiteral("标签文件未保存：%1\n%2")
                              .arg(displayName(labels::pathFor(r.file)), error),
                          QStringLiteral("not-saved"));
    out.say(QStringLiteral("标签已保存：%1").arg(displayName(labels::pathFor(r.file))));
    out.print(labelLines(labels).join(QLatin1Char('\n')));
    json.insert(QStringLiteral("exit_code"), exitDone);
    json.insert(QStringLiteral("result"), QStringLiteral("done"));
    json.insert(QStringLiteral("labels"), labelsJson(labels));
    out.result(json);
    return exitDone;
}

int runLibrary(const Request &r, Reporter &out)
{
    const TableLibrary library(libraryFolder(r));
    if (r.action == QLatin1String("add"))
        return addToLibrary(r, out, library);
    if (r.action == QLatin1String("show"))
        return showEntry(r, out, library);
    return listLibrary(r, out, library);
}

} // namespace irlearn::cli
