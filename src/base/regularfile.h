#pragma once

// Paths here may hold bytes that are not UTF-8 (see nativepath.h): they are opened by their bytes.

#include <QByteArray>
#include <QString>

namespace irlearn {

// What a path names, links followed. Opening a device or a pipe can block, wait for a peer or
// have effects of its own (a serial port raises its control lines), so the program looks before
// it opens anything the operator or a settings file points at.
enum class PathKind {
    Missing,     // nothing there (a dangling link included)
    Regular,     // a regular file
    Directory,   // a folder
    Pipe,        // a named pipe
    Socket,      // a local socket
    CharDevice,  // a character device: /dev/null, /dev/full, a terminal
    BlockDevice, // a disk or partition
    Other,       // anything else the system can name
    LinkLoop,    // links that never end in a file
    Unreachable, // the system refused to look (a folder on the way without search permission)
};

PathKind pathKind(const QString &path);

// The path with every link resolved, so that two names of one file compare equal; the path as
// given when nothing is there to resolve (an unplugged adapter, a file not yet written).
QString canonicalPath(const QString &path);

// Why a path of that kind is not a file to read, in Chinese, for the operator; empty for
// Regular.
QString pathKindReason(PathKind kind);

// A regular file read whole, or why not.
struct FileRead
{
    enum Status {
        Read,     // bytes holds the whole file
        Missing,  // nothing at the path
        TooLarge, // larger than the limit; nothing read
        Refused,  // not a regular file, or it could not be opened or read: see reason
    };
    Status status = Missing;
    QByteArray bytes;
    QString reason; // Chinese, for Refused
};

// Reads the regular file at path if it holds at most maxBytes. Never blocks on a pipe or device
// and never reads more than maxBytes + 1 bytes, whatever the path names.
FileRead readRegularFile(const QString &path, qint64 maxBytes);

// Writes bytes to path through a temporary file in the same folder: an existing file is replaced
// only once the new one is complete, and a failed write leaves nothing behind. A character device
// (/dev/null, a terminal) is written in place, opened without blocking; a folder, a pipe, a socket
// or a disk is refused. On failure returns false and puts a short reason (the system's words, or
// Chinese ones for a refused target) into *error.
bool writeFile(const QString &path, const QByteArray &bytes, QString *error);

} // namespace irlearn
