#include "base/regularfile.h"

#include "base/nativepath.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace irlearn {

namespace {

#ifdef Q_OS_UNIX
PathKind kindOfMode(mode_t mode)
{
    if (S_ISREG(mode))
        return PathKind::Regular;
    if (S_ISDIR(mode))
        return PathKind::Directory;
    if (S_ISFIFO(mode))
        return PathKind::Pipe;
    if (S_ISSOCK(mode))
        return PathKind::Socket;
    if (S_ISCHR(mode))
        return PathKind::CharDevice;
    if (S_ISBLK(mode))
        return PathKind::BlockDevice;
    return PathKind::Other;
}
#endif

FileRead refused(const QString &reason)
{
    FileRead result;
    result.status = FileRead::Refused;
    result.reason = reason;
    return result;
}

FileRead tooLarge()
{
    FileRead result;
    result.status = FileRead::TooLarge;
    return result;
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
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
    const int fd = ::open(nativeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
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

#ifdef Q_OS_UNIX
// The file is written under a temporary name in its own folder and renamed over the old one only
// once complete, as QSaveFile does; done here on the name's bytes, which QSaveFile cannot take
// for a name that is not UTF-8. A link is followed: the file it leads to is replaced, the link
// stays.
bool saveReplacing(const QString &path, const QByteArray &bytes, QString *error)
{
    QByteArray target = nativeName(path);
    char resolved[PATH_MAX];
    if (::realpath(target.constData(), resolved))
        target = resolved;
    const qsizetype slash = target.lastIndexOf('/');
    QByteArray temp =
        (slash < 0 ? QByteArray(".") : target.left(qMax<qsizetype>(slash, 1))) + "/.irlearn-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        setError(error, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const auto failed = [&](const QString &why) {
        ::unlink(temp.constData());
        setError(error, why);
        return false;
    };
    // A replaced file keeps its permissions; a new one gets what the umask leaves.
    struct stat old;
    mode_t mode = 0;
    if (::stat(target.constData(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return failed(file.errorString());
    }
    if (!writeAll(file, bytes, error)) {
        const QString why = error ? *error : QString();
        file.close();
        return failed(why);
    }
    if (::fsync(fd) != 0) {
        const int why = errno;
        file.close();
        return failed(QString::fromLocal8Bit(strerror(why)));
    }
    file.close();
    if (::rename(temp.constData(), target.constData()) != 0)
        return failed(QString::fromLocal8Bit(strerror(errno)));
    return true;
}
#endif

} // namespace

PathKind pathKind(const QString &path)
{
    if (path.isEmpty())
        return PathKind::Missing;
#ifdef Q_OS_UNIX
    const QByteArray native = nativeName(path);
    struct stat st;
    if (::stat(native.constData(), &st) == 0)
        return kindOfMode(st.st_mode);
    if (errno == ELOOP)
        return PathKind::LinkLoop;
    if (errno == ENOENT || errno == ENOTDIR)
        return PathKind::Missing;
    return PathKind::Unreachable;
#else
    const QFileInfo info(path);
    if (!info.exists())
        return PathKind::Missing;
    if (info.isDir())
        return PathKind::Directory;
    if (info.isFile())
        return PathKind::Regular;
    return PathKind::Other;
#endif
}

QString canonicalPath(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

QString pathKindReason(PathKind kind)
{
    switch (kind) {
    case PathKind::Regular:
        return QString();
    case PathKind::Missing:
        return QStringLiteral("文件不存在");
    case PathKind::Directory:
        return QStringLiteral("这是文件夹，不是文件");
    case PathKind::Pipe:
        return QStringLiteral("这是命名管道，不是普通文件");
    case PathKind::Socket:
        return QStringLiteral("这是套接字，不是普通文件");
    case PathKind::CharDevice:
    case PathKind::BlockDevice:
        return QStringLiteral("这是设备文件，不是普通文件");
    case PathKind::Other:
        return QStringLiteral("这不是普通文件");
    case PathKind::LinkLoop:
        return QStringLiteral("符号链接循环，找不到文件");
    case PathKind::Unreachable:
        return QStringLiteral("无法访问该路径");
    }
    return QStringLiteral("这不是普通文件");
}

FileRead readRegularFile(const QString &path, qint64 maxBytes)
{
    const PathKind kind = pathKind(path);
    if (kind == PathKind::Missing)
        return FileRead();
    if (kind != PathKind::Regular)
        return refused(pathKindReason(kind));

    QFile file;
#ifdef Q_OS_UNIX
    // The path may have been swapped for a pipe since it was looked at: a non-blocking open
    // cannot hang on it, and the descriptor's own type is checked again below.
    const int fd = ::open(nativeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int why = errno;
        if (why == ENOENT)
            return FileRead();
        if (why == EACCES || why == EPERM)
            return refused(QStringLiteral("没有读取权限"));
        if (why == ELOOP)
            return refused(pathKindReason(PathKind::LinkLoop));
        return refused(
            QStringLiteral("无法打开文件：%1").arg(QString::fromLocal8Bit(strerror(why))));
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int why = errno;
        ::close(fd);
        return refused(
            QStringLiteral("无法读取文件：%1").arg(QString::fromLocal8Bit(strerror(why))));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return refused(pathKindReason(kindOfMode(st.st_mode)));
    }
    if (st.st_size > maxBytes) {
        ::close(fd);
        return tooLarge();
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return refused(QStringLiteral("无法打开文件：%1").arg(file.errorString()));
    }
#else
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.error() == QFileDevice::PermissionsError)
            return refused(QStringLiteral("没有读取权限"));
        return refused(QStringLiteral("无法打开文件：%1").arg(file.errorString()));
    }
    if (file.size() > maxBytes)
        return tooLarge();
#endif
    // The file may grow between the size check and the read: the read is bounded too.
    FileRead result;
    result.bytes = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return refused(QStringLiteral("无法读取文件：%1").arg(file.errorString()));
    if (result.bytes.size() > maxBytes)
        return tooLarge();
    result.status = FileRead::Read;
    return result;
}

bool writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    if (path.isEmpty()) {
        setError(error, QStringLiteral("未指定文件名"));
        return false;
    }
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
        // Written into a disk, the bytes would destroy what is on it.
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

#ifdef Q_OS_UNIX
    return saveReplacing(path, bytes, error);
#else
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
#endif
}

} // namespace irlearn
