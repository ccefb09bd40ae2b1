#include "codefile/tablelabels.h"

#include "base/commandnames.h"
#include "base/regularfile.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cstdlib>

namespace irlearn {

namespace {

const QString fieldFormat = QStringLiteral("format");
const QString fieldVersion = QStringLiteral("version");
const QString fieldBrand = QStringLiteral("brand");
const QString fieldModel = QStringLiteral("model");
const QString fieldRemote = QStringLiteral("remote");
const QString fieldNotes = QStringLiteral("notes");
const QString fieldDevice = QStringLiteral("device");
const QString fieldSaved = QStringLiteral("saved");
const QString fieldKeys = QStringLiteral("keys");
const QString fieldCommands = QStringLiteral("commands");
const QString fieldRecords = QStringLiteral("records");
const QString fieldSha256 = QStringLiteral("sha256");

const QStringList &knownFields()
{
    static const QStringList fields = {fieldFormat, fieldVersion,  fieldBrand,   fieldModel,
                                       fieldRemote, fieldNotes,    fieldDevice,  fieldSaved,
                                       fieldKeys,   fieldCommands, fieldRecords, fieldSha256};
    return fields;
}

// The free-text field of that name, const or not as labels is; null for any other name.
template <typename Labels>
auto textField(Labels &labels, const QString &name) -> decltype(&labels.brand)
{
    if (name == fieldBrand)
        return &labels.brand;
    if (name == fieldModel)
        return &labels.model;
    if (name == fieldRemote)
        return &labels.remote;
    if (name == fieldNotes)
        return &labels.notes;
    if (name == fieldDevice)
        return &labels.device;
    return nullptr;
}

bool isHashText(const QString &text)
{
    if (text.size() != 64)
        return false;
    for (QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}

// One JSON value as compact text; QJsonDocument writes only objects and arrays.
QByteArray encoded(const QJsonValue &value)
{
    QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return text.mid(1, text.size() - 2);
}

QByteArray member(const QString &name, const QByteArray &value)
{
    return "  " + encoded(name) + ": " + value;
}

QByteArray statusMap(const QList<QPair<QString, KeyStatus>> &entries)
{
    if (entries.isEmpty())
        return "{}";
    QByteArrayList parts;
    for (const auto &[name, status] : entries)
        parts << "    " + encoded(name) + ": " + encoded(labels::statusName(status));
    return "{\n" + parts.join(",\n") + "\n  }";
}

QDateTime withOffset(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc());
}

// ISO 8601 with the offset always spelt out, "+00:00" included: Qt writes "Z" for UTC.
QString isoText(const QDateTime &time)
{
    const QDateTime t = withOffset(time);
    const int offset = t.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return t.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")) +
           QStringLiteral("%1%2:%3")
               .arg(QChar(offset < 0 ? u'-' : u'+'))
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

labels::Parsed damaged(const QString &reason)
{
    labels::Parsed parsed;
    parsed.reason = reason;
    return parsed;
}

// Reads a {"name": "status"} object into out; false when a value is no status.
template <typename Key, typename ToKey>
bool readStatuses(const QJsonValue &value, QMap<Key, KeyStatus> &out, ToKey toKey)
{
    if (value.isUndefined())
        return true;
    if (!value.isObject())
        return false;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const std::optional<Key> key = toKey(it.key());
        const std::optional<KeyStatus> status =
            it.value().isString() ? labels::statusNamed(it.value().toString()) : std::nullopt;
        if (!key || !status)
            return false;
        out.insert(*key, *status);
    }
    return true;
}

} // namespace

int TableLabels::keysLearnt() const
{
    int count = 0;
    for (const QString &name : commands::keyNames()) {
        const KeyStatus status = keys.value(name, KeyStatus::Unknown);
        count += status == KeyStatus::Learned || status == KeyStatus::Tested;
    }
    return count;
}

int TableLabels::keysTested() const
{
    int count = 0;
    for (const QString &name : commands::keyNames())
        count += keys.value(name, KeyStatus::Unknown) == KeyStatus::Tested;
    return count;
}

namespace labels {

QString pathFor(const QString &codePath)
{
    return codePath + QStringLiteral(".json");
}

QString statusName(KeyStatus status)
{
    switch (status) {
    case KeyStatus::Learned:
        return QStringLiteral("learned");
    case KeyStatus::Tested:
        return QStringLiteral("tested");
    case KeyStatus::Failed:
        return QStringLiteral("failed");
    case KeyStatus::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

std::optional<KeyStatus> statusNamed(const QString &name)
{
    for (KeyStatus s :
         {KeyStatus::Unknown, KeyStatus::Learned, KeyStatus::Tested, KeyStatus::Failed}) {
        if (name == statusName(s))
            return s;
    }
    return std::nullopt;
}

bool setField(TableLabels &labels, const QString &name, const QString &value)
{
    QString *field = textField(labels, name);
    if (!field)
        return false;
    *field = value;
    return true;
}

QStringList recordHashes(const QStringList &records)
{
    QStringList hashes;
    for (const QString &record : records) {
        const QByteArray bytes = QByteArray::fromHex(record.toLatin1());
        hashes << QString::fromLatin1(
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }
    return hashes;
}

QString fileHash(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray toJson(const TableLabels &labels)
{
    QByteArrayList members;
    members << member(fieldFormat, encoded(format));
    members << member(fieldVersion, QByteArray::number(version));
    for (const QString &name : {fieldBrand, fieldModel, fieldRemote, fieldNotes, fieldDevice})
        members << member(name, encoded(*textField(labels, name)));
    members << member(fieldSaved,
                      encoded(labels.saved.isValid() ? isoText(labels.saved) : QString()));

    // The ten keys in the window's order, then any others.
    QList<QPair<QString, KeyStatus>> keys;
    for (const QString &name : commands::keyNames()) {
        if (labels.keys.contains(name))
            keys.append({name, labels.keys.value(name)});
    }
    for (auto it = labels.keys.begin(); it != labels.keys.end(); ++it) {
        if (!commands::keyNames().contains(it.key()))
            keys.append({it.key(), it.value()});
    }
    members << member(fieldKeys, statusMap(keys));
    QList<QPair<QString, KeyStatus>> commands;
    for (auto it = labels.commands.begin(); it != labels.commands.end(); ++it)
        commands.append({QString::number(it.key()), it.value()});
    members << member(fieldCommands, statusMap(commands));

    QByteArrayList records;
    for (const QString &hash : labels.records)
        records << "    " + encoded(hash);
    members << member(fieldRecords,
                      records.isEmpty() ? QByteArray("[]") : "[\n" + records.join(",\n") + "\n  ]");
    members << member(fieldSha256, encoded(labels.sha256));
    for (auto it = labels.unknown.begin(); it != labels.unknown.end(); ++it) {
        if (!knownFields().contains(it.key()))
            members << member(it.key(), encoded(it.value()));
    }
    return "{\n" + members.join(",\n") + "\n}\n";
}

Parsed parse(const QByteArray &json)
{
    if (json.size() > maxFileSize)
        return damaged(QStringLiteral("标签文件过大"));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return damaged(QStringLiteral("不是有效的JSON（第%1字节：%2）")
                           .arg(error.offset + 1)
                           .arg(error.errorString()));
    if (!document.isObject())
        return damaged(QStringLiteral("不是JSON对象"));
    const QJsonObject object = document.object();
    if (object.value(fieldFormat).toString() != format)
        return damaged(QStringLiteral("不是irlearn的码表标签文件"));
    const QJsonValue versionValue = object.value(fieldVersion);
    if (!versionValue.isDouble() || versionValue.toDouble() != version)
        return damaged(QStringLiteral("标签文件版本不受支持"));

    Parsed parsed;
    TableLabels &labels = parsed.labels;
    for (const QString &name : {fieldBrand, fieldModel, fieldRemote, fieldNotes, fieldDevice}) {
        const QJsonValue value = object.value(name);
        if (!value.isUndefined() && !value.isString())
            return damaged(QStringLiteral("字段%1不是文本").arg(name));
        *textField(labels, name) = value.toString();
    }
    const QJsonValue saved = object.value(fieldSaved);
    if (!saved.isUndefined() && !saved.isString())
        return damaged(QStringLiteral("字段saved不是文本"));
    if (!saved.toString().isEmpty()) {
        labels.saved = QDateTime::fromString(saved.toString(), Qt::ISODate);
        // Only a time that is written back in a form read again: no years beyond four digits.
        if (!labels.saved.isValid() ||
            !QDateTime::fromString(isoText(labels.saved), Qt::ISODate).isValid())
            return damaged(QStringLiteral("字段saved不是有效的时间"));
    }
    if (!readStatuses<QString>(object.value(fieldKeys), labels.keys,
                               [](const QString &name) { return std::optional<QString>(name); }))
        return damaged(QStringLiteral("字段keys无效"));
    const auto commandNumber = [](const QString &name) -> std::optional<int> {
        const int number = commands::commandNumber(name);
        if (number == 0 || QString::number(number) != name)
            return std::nullopt;
        return number;
    };
    if (!readStatuses<int>(object.value(fieldCommands), labels.commands, commandNumber))
        return damaged(QStringLiteral("字段commands无效"));

    const QJsonValue records = object.value(fieldRecords);
    if (!records.isArray() || records.toArray().size() != tableRecords)
        return damaged(QStringLiteral("字段records应为16个SHA-256值"));
    for (const QJsonValue &record : records.toArray()) {
        if (!isHashText(record.toString()))
            return damaged(QStringLiteral("字段records应为16个SHA-256值"));
        labels.records << record.toString().toLower();
    }
    const QString sha = object.value(fieldSha256).toString();
    if (!isHashText(sha))
        return damaged(QStringLiteral("字段sha256不是SHA-256值"));
    labels.sha256 = sha.toLower();

    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!knownFields().contains(it.key()))
            labels.unknown.insert(it.key(), it.value());
    }
    parsed.ok = true;
    return parsed;
}

Check check(const QString &codePath, const QByteArray &codeBytes, const QStringList &records)
{
    Check result;
    const FileRead file = readRegularFile(pathFor(codePath), maxFileSize);
    switch (file.status) {
    case FileRead::Missing:
        return result;
    case FileRead::TooLarge:
        result.state = Check::Damaged;
        result.reason = QStringLiteral("标签文件过大");
        return result;
    case FileRead::Refused:
        result.state = Check::Damaged;
        result.reason = file.reason;
        return result;
    case FileRead::Read:
        break;
    }
    const Parsed parsed = parse(file.bytes);
    if (!parsed.ok) {
        result.state = Check::Damaged;
        result.reason = parsed.reason;
        return result;
    }
    result.labels = parsed.labels;
    const QStringList now = recordHashes(records.mid(0, tableRecords));
    for (int r = 0; r < tableRecords; ++r) {
        if (r >= now.size() || now.at(r) != parsed.labels.records.at(r))
            result.changedRecords << r + 1;
    }
    result.fileMatches = fileHash(codeBytes) == parsed.labels.sha256;
    result.state =
        result.changedRecords.isEmpty() && result.fileMatches ? Check::Valid : Check::Mismatch;
    return result;
}

Labelled load(const QString &codePath, const QString &refusal)
{
    Labelled result;
    const FileRead file = readRegularFile(codePath, codefile::maxFileSize);
    if (file.status != FileRead::Read) {
        // The refusal as the code file reader words it.
        result.file = codefile::load(codePath, refusal);
        return result;
    }
    result.file = codefile::parse(file.bytes);
    if (!result.file.ok)
        result.file.message = codefile::refusalMessage(refusal, codePath, result.file.reason);
    if (result.file.ok) {
        result.bytes = file.bytes;
        result.labels = check(codePath, file.bytes, result.file.lines);
    }
    return result;
}

bool write(const QString &codePath, const TableLabels &labels, QString *error)
{
    const FileRead file = readRegularFile(codePath, codefile::maxFileSize);
    if (file.status != FileRead::Read) {
        if (error)
            *error = QStringLiteral("红外指令文件无法读取，标签未保存");
        return false;
    }
    const codefile::Loaded table = codefile::parse(file.bytes);
    if (!table.ok) {
        if (error)
            *error = QStringLiteral("红外指令文件无效，标签未保存：%1").arg(table.reason);
        return false;
    }
    TableLabels stamped = labels;
    stamped.records = recordHashes(table.lines.mid(0, tableRecords));
    stamped.sha256 = fileHash(file.bytes);
    if (!stamped.saved.isValid())
        stamped.saved = now();
    // Fields another writer added survive our rewrite, even when the rest of its file no longer
    // matches the table.
    const FileRead old = readRegularFile(pathFor(codePath), maxFileSize);
    if (old.status == FileRead::Read) {
        const QJsonObject previous = QJsonDocument::fromJson(old.bytes).object();
        for (auto it = previous.begin(); it != previous.end(); ++it) {
            if (!knownFields().contains(it.key()) && !stamped.unknown.contains(it.key()))
                stamped.unknown.insert(it.key(), it.value());
        }
    }
    return writeFile(pathFor(codePath), toJson(stamped), error);
}

Saved save(const QString &codePath, const CodeTable &table, const TableLabels &labels)
{
    Saved result;
    if (!codefile::write(codePath, table, &result.error))
        return result;
    result.tableWritten = true;
    result.labelsWritten = write(codePath, labels, &result.error);
    return result;
}

QDateTime now()
{
    const QDateTime local = QDateTime::currentDateTime();
    const QDateTime seconds = local.addMSecs(-local.time().msec());
    return withOffset(seconds);
}

QStringList namedFields(const TableLabels &labels)
{
    QStringList fields;
    const auto add = [&fields](const QString &name, const QString &value) {
        if (!value.trimmed().isEmpty())
            fields << name + value.trimmed();
    };
    add(QStringLiteral("品牌："), labels.brand);
    add(QStringLiteral("型号："), labels.model);
    add(QStringLiteral("遥控器型号："), labels.remote);
    add(QStringLiteral("备注："), labels.notes);
    add(QStringLiteral("设备号："), labels.device);
    return fields;
}

QString summary(const TableLabels &labels)
{
    QStringList parts = namedFields(labels);
    if (labels.saved.isValid())
        parts << QStringLiteral("保存于") + isoText(labels.saved);
    if (!labels.keys.isEmpty())
        parts << QStringLiteral("已学%1/10，已测%2/10")
                     .arg(labels.keysLearnt())
                     .arg(labels.keysTested());
    return parts.join(QStringLiteral("  "));
}

} // namespace labels
} // namespace irlearn
