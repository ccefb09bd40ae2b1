#include "codefile/tablelibrary.h"

#include "base/regularfile.h"
#include "base/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <utility>

namespace irlearn {

namespace {

const QString suffix = QStringLiteral(".bin");

TableLibrary::Entry entryFrom(const QString &path, const labels::Labelled &loaded)
{
    TableLibrary::Entry entry;
    entry.path = path;
    entry.id = QFileInfo(path).fileName();
    entry.id.chop(suffix.size());
    entry.labelState = loaded.labels.state;
    if (loaded.labels.state != labels::Check::Damaged)
        entry.labels = loaded.labels.labels;
    entry.sha256 = labels::fileHash(loaded.bytes);
    codefile::fill(entry.table, loaded.file.lines);
    return entry;
}

// Free-text labels given in edits replace those of base; statuses are merged.
TableLabels merged(TableLabels base, const TableLabels &edits)
{
    for (const auto &[field, edit] :
         {std::pair{&base.brand, &edits.brand}, std::pair{&base.model, &edits.model},
          std::pair{&base.remote, &edits.remote}, std::pair{&base.notes, &edits.notes},
          std::pair{&base.device, &edits.device}}) {
        if (!edit->isEmpty())
            *field = *edit;
    }
    if (edits.saved.isValid())
        base.saved = edits.saved;
    for (auto it = edits.keys.begin(); it != edits.keys.end(); ++it)
        base.keys.insert(it.key(), it.value());
    for (auto it = edits.commands.begin(); it != edits.commands.end(); ++it)
        base.commands.insert(it.key(), it.value());
    for (auto it = edits.unknown.begin(); it != edits.unknown.end(); ++it)
        base.unknown.insert(it.key(), it.value());
    return base;
}

QString changedList(const QList<int> &records)
{
    QStringList numbers;
    for (int r : records)
        numbers << QString::number(r);
    return numbers.join(QStringLiteral("、"));
}

} // namespace

TableLibrary::TableLibrary(QString folder) : m_folder(std::move(folder))
{
}

QString TableLibrary::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/irlearn/library");
}

QString TableLibrary::folderIn(const Settings &settings)
{
    const QString folder = settings.readValue(section, pathKey, QString()).trimmed();
    return folder.isEmpty() ? defaultFolder() : folder;
}

QList<TableLibrary::Entry> TableLibrary::entries(QStringList *problems) const
{
    QList<Entry> found;
    const QDir dir(m_folder);
    const QStringList names = dir.entryList({QStringLiteral("*.bin")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        const labels::Labelled loaded = labels::load(path);
        if (!loaded.file.ok) {
            if (problems)
                *problems << QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(path),
                                                          loaded.file.reason);
            continue;
        }
        found << entryFrom(path, loaded);
    }
    // By id, so that "x" comes before its namesakes "x-2", "x-3" (a file name sort puts "-"
    // before ".").
    std::sort(found.begin(), found.end(),
              [](const Entry &a, const Entry &b) { return a.id < b.id; });
    return found;
}

QList<TableLibrary::Entry> TableLibrary::search(const QString &text) const
{
    QList<Entry> matching;
    for (const Entry &entry : entries()) {
        if (matches(entry, text))
            matching << entry;
    }
    return matching;
}

bool TableLibrary::matches(const Entry &entry, const QString &text)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = text.split(blanks, Qt::SkipEmptyParts);
    const QString haystack = QStringList{entry.id, entry.labels.brand, entry.labels.model,
                                         entry.labels.remote, entry.labels.notes}
                                 .join(QLatin1Char('\n'));
    return std::all_of(words.begin(), words.end(), [&](const QString &word) {
        return haystack.contains(word, Qt::CaseInsensitive);
    });
}

std::optional<TableLibrary::Entry> TableLibrary::find(const QString &id) const
{
    // An id names a file in the folder and nothing outside it.
    if (id.isEmpty() || id.contains(QLatin1Char('/')) || id.contains(QLatin1Char('\\')) ||
        id.startsWith(QLatin1Char('.')))
        return std::nullopt;
    const QString path = QDir(m_folder).filePath(id + suffix);
    if (pathKind(path) != PathKind::Regular)
        return std::nullopt;
    const labels::Labelled loaded = labels::load(path);
    if (!loaded.file.ok)
        return std::nullopt;
    return entryFrom(path, loaded);
}

QString TableLibrary::baseId(const TableLabels &labels)
{
    QString name = QStringList{labels.brand.trimmed(), labels.model.trimmed()}
                       .filter(QRegularExpression(QStringLiteral("\\S")))
                       .join(QLatin1Char('-'))
                       .toLower();
    QString id;
    for (QChar c : name) {
        const bool keep = c.isLetterOrNumber() || c == u'_' || c == u'.';
        if (keep)
            id += c;
        else if (!id.endsWith(u'-'))
            id += u'-';
    }
    id = id.left(60);
    while (id.startsWith(u'-') || id.startsWith(u'.'))
        id.remove(0, 1);
    while (id.endsWith(u'-') || id.endsWith(u'.'))
        id.chop(1);
    if (id.isEmpty())
        return QStringLiteral("table");
    // Names Windows keeps for its devices, whatever the extension.
    static const QRegularExpression reserved(
        QStringLiteral("^(con|prn|aux|nul|com[1-9]|lpt[1-9])$"));
    if (reserved.match(id).hasMatch())
        id += QStringLiteral("-table");
    return id;
}

TableLibrary::Added TableLibrary::add(const QString &codePath, const TableLabels &edits,
                                      bool acceptChanged) const
{
    Added added;
    const labels::Labelled loaded = labels::load(codePath);
    if (!loaded.file.ok) {
        added.error = QStringLiteral("不能存入码库：%1").arg(loaded.file.reason);
        return added;
    }
    if (loaded.labels.state == labels::Check::Mismatch && !acceptChanged) {
        added.error =
            loaded.labels.changedRecords.isEmpty()
                ? QStringLiteral("红外指令文件在加标签后已被改动，未存入码库")
                : QStringLiteral("红外指令文件在加标签后已被改动（第%1条记录），未存入码库")
                      .arg(changedList(loaded.labels.changedRecords));
        return added;
    }
    const TableLabels base =
        loaded.labels.state == labels::Check::Damaged ? TableLabels() : loaded.labels.labels;
    const TableLabels labels = merged(base, edits);

    if (!QDir().mkpath(m_folder)) {
        added.error =
            QStringLiteral("码库文件夹无法创建：%1").arg(QDir::toNativeSeparators(m_folder));
        return added;
    }
    // The name is taken by creating the file exclusively, so two additions at once never land
    // on one name; the copy then replaces the empty placeholder atomically.
    const QString id = baseId(labels);
    const QDir dir(m_folder);
    QString target;
    for (int n = 1; n < 10000 && target.isEmpty(); ++n) {
        const QString candidate = n == 1 ? id : QStringLiteral("%1-%2").arg(id).arg(n);
        const QString path = dir.filePath(candidate + suffix);
        if (pathKind(path) != PathKind::Missing ||
            pathKind(labels::pathFor(path)) != PathKind::Missing)
            continue;
        QFile placeholder(path);
        if (placeholder.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            target = path;
    }
    if (target.isEmpty()) {
        added.error = QStringLiteral("码库中没有可用的文件名：%1").arg(id);
        return added;
    }
    QString error;
    if (!writeFile(target, loaded.bytes, &error) || !labels::write(target, labels, &error)) {
        QFile::remove(labels::pathFor(target));
        QFile::remove(target);
        added.error = QStringLiteral("不能存入码库：%1").arg(error);
        return added;
    }
    const std::optional<Entry> entry = find(QFileInfo(target).completeBaseName());
    if (!entry) {
        added.error = QStringLiteral("不能存入码库：%1").arg(QDir::toNativeSeparators(target));
        return added;
    }
    added.ok = true;
    added.entry = *entry;
    return added;
}

TableLibrary::Match TableLibrary::identify(const CodeTable &table) const
{
    return identify(table, entries());
}

TableLibrary::Match TableLibrary::identify(const CodeTable &table, const QList<Entry> &entries)
{
    Match best;
    for (const Entry &entry : entries) {
        const QList<tables::RecordDifference> differing = tables::compare(entry.table, table);
        if (differing.isEmpty()) {
            best.kind = Match::Exact;
            best.entry = entry;
            best.differing.clear();
            return best;
        }
        if (differing.size() <= maxDiffering &&
            (best.kind == Match::Unknown || differing.size() < best.differing.size())) {
            best.kind = Match::Closest;
            best.entry = entry;
            best.differing = differing;
        }
    }
    return best;
}

} // namespace irlearn
