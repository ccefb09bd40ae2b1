#include "codefile/codefile.h"

#include "base/regularfile.h"

#include <QByteArray>
#include <QDir>

#include <algorithm>

namespace irlearn {
namespace codefile {

namespace {

QByteArray fileBytes(const CodeTable &table)
{
    QByteArray bytes;
    for (int i = 0; i < tableRecords; ++i) {
        bytes += table[static_cast<std::size_t>(i)].toLatin1();
        bytes += QByteArrayLiteral("\r\n");
    }
    return bytes;
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Empty when the line is a run of hexadecimal bytes, otherwise why not.
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
    return writeFile(path, fileBytes(table), error);
}

Loaded parse(const QByteArray &data)
{
    if (data.size() > maxFileSize)
        return refused(0, QStringLiteral("文件过大（超过1 MiB）"));
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
    // Checked last, so that a file that is no code table at all is told so first. The 17th line
    // is never sent and keeps only the rules above.
    for (int i = 0; i < tableRecords; ++i) {
        const qsizetype digits = records.at(i).size();
        if (digits != recordDigits)
            return refused(i + 1, QStringLiteral("第%1行有%2个十六进制数字，应为%3个（%4字节）")
                                      .arg(i + 1)
                                      .arg(digits)
                                      .arg(recordDigits)
                                      .arg(recordBytes));
    }

    Loaded result;
    result.ok = true;
    result.lines = records;
    return result;
}

Loaded load(const QString &path, const QString &refusal)
{
    const FileRead file = readRegularFile(path, maxFileSize);
    Loaded result;
    switch (file.status) {
    case FileRead::Read:
        result = parse(file.bytes);
        break;
    case FileRead::Missing:
        result = refused(0, pathKindReason(PathKind::Missing));
        break;
    case FileRead::TooLarge:
        result = refused(0, QStringLiteral("文件过大（超过1 MiB）"));
        break;
    case FileRead::Refused:
        result = refused(0, file.reason);
        break;
    }
    if (!result.ok)
        result.message = refusalMessage(refusal, path, result.reason);
    return result;
}

QString refusalMessage(const QString &refusal, const QString &path, const QString &reason)
{
    return QStringLiteral("%1：%2\n%3").arg(refusal, QDir::toNativeSeparators(path), reason);
}

void fill(CodeTable &table, const QStringList &lines)
{
    const qsizetype count = std::min<qsizetype>(lines.size(), qsizetype(table.size()));
    for (qsizetype k = 0; k < count; ++k)
        table[static_cast<std::size_t>(k)] = lines.at(k);
}

} // namespace codefile
} // namespace irlearn
