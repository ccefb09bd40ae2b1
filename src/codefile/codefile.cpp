#include "codefile/codefile.h"

#include <QByteArray>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace irlearn {
namespace codefile {

namespace {

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

QByteArray fileBytes(const CodeTable &table)
{
    QByteArray bytes;
    for (int i = 0; i < tableRecords; ++i) {
        bytes += table[static_cast<std::size_t>(i)].toLatin1();
        bytes += QByteArrayLiteral("\r\n");
    }
    return bytes;
}

// Unbuffered, so that a short write shows up here rather than in a flush inside commit(), which
// would not notice it and would put a cut-off file in place of the old one. A short write is
// retried: the retry is what fails with the system's reason (a full disk, a size limit).
bool writeAll(QFileDevice &file, const QByteArray &bytes, QString *error)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            setError(error, file.errorString());
            return false;
        }
        done += n;
    }
    return true;
}

// A device or pipe cannot be replaced by renaming a finished file over it (and renaming over a
// device node would destroy the node), so such a target gets the bytes written straight into it.
bool writeDirect(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        setError(error, file.errorString());
        return false;
    }
    return writeAll(file, bytes, error);
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Empty when the line is a usable record, otherwise why not.
QString lineFault(const QByteArray &line, int number)
{
    if (line.isEmpty())
        return QStringLiteral("第%1行为空").arg(number);
    for (char c : line) {
        if (!isHexDigit(c))
            return QStringLiteral("第%1行含有非十六进制字符").arg(number);
    }
    if (line.size() % 2 != 0)
        return QStringLiteral("第%1行不是偶数个十六进制数字").arg(number);
    return QString();
}

Loaded refused(int badLine, const QString &reason)
{
    Loaded result;
    result.badLine = badLine;
    result.reason = reason;
    return result;
}

} // namespace

bool write(const QString &path, const CodeTable &table, QString *error)
{
    if (path.isEmpty()) {
        setError(error, QStringLiteral("未指定文件名"));
        return false;
    }
    const QByteArray bytes = fileBytes(table);

    const QFileInfo target(path);
    if (target.exists() && !target.isFile() && !target.isDir())
        return writeDirect(path, bytes, error);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        setError(error, file.errorString());
        return false;
    }
    if (!writeAll(file, bytes, error)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        setError(error, file.errorString());
        return false;
    }
    return true;
}

Loaded load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refused(0, QStringLiteral("无法打开文件：%1").arg(file.errorString()));

    const QString tooLarge = QStringLiteral("文件过大（超过1 MiB）");
    if (file.size() > maxFileSize)
        return refused(0, tooLarge);
    // A device or pipe reports no size, so the read itself is bounded as well.
    const QByteArray data = file.read(maxFileSize + 1);
    if (data.size() > maxFileSize)
        return refused(0, tooLarge);
    if (file.error() != QFileDevice::NoError)
        return refused(0, QStringLiteral("无法读取文件：%1").arg(file.errorString()));
    if (data.isEmpty())
        return refused(0, QStringLiteral("文件为空"));

    QList<QByteArray> lines = data.split('\n');
    // The last line's end is optional; when present it does not start another line.
    if (data.endsWith('\n'))
        lines.removeLast();

    QStringList records;
    records.reserve(lines.size());
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        const QString fault = lineFault(line, i + 1);
        if (!fault.isEmpty())
            return refused(i + 1, fault);
        records.append(QString::fromLatin1(line));
    }

    const int count = static_cast<int>(records.size());
    if (count != tableRecords && count != tableRecords + 1)
        return refused(0, QStringLiteral("行数为%1，应为16或17行").arg(count));

    Loaded result;
    result.ok = true;
    result.lines = records;
    return result;
}

void fill(CodeTable &table, const QStringList &lines)
{
    const qsizetype count = std::min<qsizetype>(lines.size(), qsizetype(table.size()));
    for (qsizetype k = 0; k < count; ++k)
        table[static_cast<std::size_t>(k)] = lines.at(k);
}

} // namespace codefile
} // namespace irlearn
