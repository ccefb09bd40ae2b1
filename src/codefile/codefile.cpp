#include "codefile/codefile.h"

#include "base/regularfile.h"

#include <QByteArray>
#include <QFile>
#include <QFileDevice>
#include <QSaveFile>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// A device cannot be replaced by renaming a finished file over it (and renaming over a device
// node would destroy the node), so a device gets the bytes written straight into it.
bool writeDirect(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile file;
#ifdef Q_OS_UNIX
    // Non-blocking: were the device swapped for a pipe with no reader in the meantime, the open
    // fails at once (ENXIO) instead of freezing the window until a reader appears.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        setError(error, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        ::close(fd);
        setError(error, pathKindReason(PathKind::Other));
        return false;
    }
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        setError(error, file.errorString());
        return false;
    }
#else
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        setError(error, file.errorString());
        return false;
    }
#endif
    return writeAll(file, bytes, error);
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
    if (path.isEmpty()) {
        setError(error, QStringLiteral("未指定文件名"));
        return false;
    }
    const QByteArray bytes = fileBytes(table);

    const PathKind kind = pathKind(path);
    switch (kind) {
    case PathKind::Missing:
    case PathKind::Regular:
        break;
    case PathKind::CharDevice:
        return writeDirect(path, bytes, error);
#ifndef Q_OS_UNIX
    case PathKind::Other: // NUL, COM ports: what Windows names outside its file systems
        return writeDirect(path, bytes, error);
#endif
    case PathKind::Directory:
        setError(error, QStringLiteral("这是文件夹，不能保存为文件"));
        return false;
    case PathKind::BlockDevice:
        // A code table written into a disk would destroy what is on it.
        setError(error, QStringLiteral("这是磁盘设备，不能保存到这里"));
        return false;
    case PathKind::Pipe:
        // Waiting for a reader would freeze the window for as long as none comes.
        setError(error, QStringLiteral("这是命名管道，不能保存到这里"));
        return false;
    case PathKind::Socket:
        setError(error, QStringLiteral("这是套接字，不能保存到这里"));
        return false;
    default:
        setError(error, pathKindReason(kind));
        return false;
    }

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

Loaded load(const QString &path)
{
    const FileRead file = readRegularFile(path, maxFileSize);
    switch (file.status) {
    case FileRead::Read:
        return parse(file.bytes);
    case FileRead::Missing:
        return refused(0, pathKindReason(PathKind::Missing));
    case FileRead::TooLarge:
        return refused(0, QStringLiteral("文件过大（超过1 MiB）"));
    case FileRead::Refused:
        break;
    }
    return refused(0, file.reason);
}

void fill(CodeTable &table, const QStringList &lines)
{
    const qsizetype count = std::min<qsizetype>(lines.size(), qsizetype(table.size()));
    for (qsizetype k = 0; k < count; ++k)
        table[static_cast<std::size_t>(k)] = lines.at(k);
}

} // namespace codefile
} // namespace irlearn
