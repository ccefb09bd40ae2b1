#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

namespace irlearn {

// A Unix file name is bytes, and not every name is UTF-8 (a file copied from an old system, a
// name in another encoding). Qt decodes names as UTF-8 and cannot give such a name back: every
// byte it cannot decode turns into U+FFFD, and the file opened would be another one. A name
// decoded by nameFromBytes() keeps each such byte as a lone surrogate (U+DC80 + the byte's low
// seven bits: U+DC80 to U+DCFF), which no UTF-8 text can decode to, so the name stays a QString
// through the program and nativeName() gives the very bytes back. Files with such names are
// opened by those bytes through the functions here and in regularfile.h, never by Qt's own file
// classes. On Windows names are UTF-16 already and these are plain conversions.

// The text of an argument or a name read from the system, every byte kept.
QString nameFromBytes(const QByteArray &bytes);
// The bytes to hand the system for a name.
QByteArray nativeName(const QString &path);
// True when the name holds bytes that are not UTF-8.
bool hasRawBytes(const QString &path);
// Text for people to read: a kept byte shows as U+FFFD.
QString readableText(const QString &text);
// The name for people to read, in native separators, kept bytes as readableText() shows them.
QString displayName(const QString &path);

// Opens the file at path into file: read-only, or for writing (created when missing; truncated
// unless mode has Append). False with the system's reason in *error.
bool openFile(QFile &file, const QString &path, QIODevice::OpenMode mode, QString *error);
// The folder the file at path is in (the current one for a bare name), as a name.
QString folderOf(const QString &path);
// Why no new file can be made in folder (it is missing or not writable), or empty. A file is
// made and removed again to find out: permissions alone do not tell (a read-only mount, ACLs).
QString newFileProblem(const QString &folder);
// Whether the existing file at path may be written by this user.
bool isWritable(const QString &path);
// When the file at path was last modified; invalid when it cannot be looked at.
QDateTime lastModified(const QString &path);

} // namespace irlearn
