#include "base/nativepath.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace irlearn {

namespace {

#ifdef Q_OS_UNIX
constexpr char16_t escapeBase = 0xDC00;

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at data[i], or 0 when there is none.
int sequenceLength(const QByteArray &data, qsizetype i)
{
    const auto at = [&](qsizetype k) {
        return static_cast<unsigned char>(data.at(k));
    };
    const unsigned char c = at(i);
    if (c < 0x80)
        return 1;
    const qsizetype left = data.size() - i;
    if (c >= 0xC2 && c <= 0xDF)
        return left >= 2 && isContinuation(at(i + 1)) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (left < 3 || !isContinuation(at(i + 1)) || !isContinuation(at(i + 2)))
            return 0;
        // Overlong forms and the surrogates themselves are not UTF-8.
        if ((c == 0xE0 && at(i + 1) < 0xA0) || (c == 0xED && at(i + 1) >= 0xA0))
            return 0;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (left < 4 || !isContinuation(at(i + 1)) || !isContinuation(at(i + 2)) ||
            !isContinuation(at(i + 3)))
            return 0;
        if ((c == 0xF0 && at(i + 1) < 0x90) || (c == 0xF4 && at(i + 1) >= 0x90))
            return 0;
        return 4;
    }
    return 0;
}

// A kept byte: a low surrogate standing alone (after no high one).
bool isEscape(const QString &text, qsizetype i)
{
    const char16_t c = text.at(i).unicode();
    return c >= escapeBase + 0x80 && c <= escapeBase + 0xFF &&
           (i == 0 || !text.at(i - 1).isHighSurrogate());
}

QString systemError(int why)
{
    return QString::fromLocal8Bit(strerror(why));
}
#endif

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

} // namespace

QString nameFromBytes(const QByteArray &bytes)
{
#ifdef Q_OS_UNIX
    QString text;
    text.reserve(bytes.size());
    qsizetype run = 0; // start of the well-formed bytes not yet decoded
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int n = sequenceLength(bytes, i);
        if (n > 0) {
            i += n;
            continue;
        }
        text += QString::fromUtf8(bytes.constData() + run, i - run);
        text += QChar(char16_t(escapeBase + static_cast<unsigned char>(bytes.at(i))));
        run = ++i;
    }
    text += QString::fromUtf8(bytes.constData() + run, bytes.size() - run);
    return text;
#else
    return QString::fromLocal8Bit(bytes);
#endif
}

QByteArray nativeName(const QString &path)
{
#ifdef Q_OS_UNIX
    QByteArray bytes;
    qsizetype run = 0;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (!isEscape(path, i))
            continue;
        bytes += QStringView(path).mid(run, i - run).toUtf8();
        bytes += char(path.at(i).unicode() - escapeBase);
        run = i + 1;
    }
    bytes += QStringView(path).mid(run).toUtf8();
    return bytes;
#else
    return QFile::encodeName(path);
#endif
}

bool hasRawBytes(const QString &path)
{
#ifdef Q_OS_UNIX
    for (qsizetype i = 0; i < path.size(); ++i)
        if (isEscape(path, i))
            return true;
#else
    Q_UNUSED(path)
#endif
    return false;
}

QString readableText(const QString &text)
{
    QString readable = text;
#ifdef Q_OS_UNIX
    for (qsizetype i = 0; i < readable.size(); ++i)
        if (isEscape(text, i))
            readable[i] = QChar::ReplacementCharacter;
#endif
    return readable;
}

QString displayName(const QString &path)
{
    return readableText(QDir::toNativeSeparators(path));
}

bool openFile(QFile &file, const QString &path, QIODevice::OpenMode mode, QString *error)
{
#ifdef Q_OS_UNIX
    int flags = O_CLOEXEC;
    if (mode & QIODevice::WriteOnly)
        flags |= (mode & QIODevice::ReadOnly ? O_RDWR : O_WRONLY) | O_CREAT |
                 (mode & QIODevice::Append ? O_APPEND : O_TRUNC);
    else
        flags |= O_RDONLY;
    const int fd = ::open(nativeName(path).constData(), flags, 0666);
    if (fd < 0) {
        setError(error, systemError(errno));
        return false;
    }
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        setError(error, file.errorString());
        return false;
    }
    return true;
#else
    file.setFileName(path);
    if (!file.open(mode)) {
        setError(error, file.errorString());
        return false;
    }
    return true;
#endif
}

QString folderOf(const QString &path)
{
    qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
#ifdef Q_OS_WIN
    slash = qMax(slash, path.lastIndexOf(QLatin1Char('\\')));
#endif
    if (slash < 0)
        return QStringLiteral(".");
    return slash == 0 ? path.left(1) : path.left(slash);
}

QString newFileProblem(const QString &folder)
{
#ifdef Q_OS_UNIX
    struct stat st;
    const QByteArray native = nativeName(folder);
    if (::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return QStringLiteral("文件夹不存在");
    QByteArray probe = native + "/.irlearn-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return QStringLiteral("文件夹不能写入：%1").arg(systemError(errno));
    ::close(fd);
    ::unlink(probe.constData());
    return QString();
#else
    const QDir dir(folder);
    if (!dir.exists())
        return QStringLiteral("文件夹不存在");
    QTemporaryFile probe(dir.filePath(QStringLiteral(".irlearn-XXXXXX")));
    if (!probe.open())
        return QStringLiteral("文件夹不能写入：%1").arg(probe.errorString());
    return QString();
#endif
}

bool isWritable(const QString &path)
{
#ifdef Q_OS_UNIX
    return ::access(nativeName(path).constData(), W_OK) == 0;
#else
    return QFileInfo(path).isWritable();
#endif
}

QDateTime lastModified(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(nativeName(path).constData(), &st) != 0)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 +
                                          st.st_mtim.tv_nsec / 1000000);
#else
    return QFileInfo(path).lastModified();
#endif
}

} // namespace irlearn
