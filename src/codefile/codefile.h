#pragma once

#include "codefile/codetable.h"

#include <QString>
#include <QStringList>

namespace irlearn {

// Code files: one record of hexadecimal text per line, every line ended by CR LF.
namespace codefile {

// Writes slots 0 to 15 of table to path, each followed by CR LF, as writeFile() does (see
// base/regularfile.h): on failure any existing file stays untouched and *error says why.
bool write(const QString &path, const CodeTable &table, QString *error);

// Files larger than this are refused without being read whole.
constexpr qint64 maxFileSize = 1024 * 1024;

// A code file checked for a download.
struct Loaded
{
    bool ok = false;
    QStringList lines; // the records as read (16 or 17), terminators removed; empty when !ok
    int badLine =
        0;          // 1-based number of the first bad line, 0 when the fault is the file as a whole
    QString reason; // what is wrong, in Chinese, for the operator; empty when ok
    // What the operator reads when the file is refused: "<refusal>：<path>" and the reason on a
    // line of its own, the path in the system's notation. Empty when ok or when parse()d.
    QString message;
};

// The refusals a file is told with, by what it was loaded for.
inline const QString notForDownload = QStringLiteral("红外指令文件不能下载");
inline const QString notForVerify = QStringLiteral("红外指令文件不能用于校验");
inline const QString invalidFile = QStringLiteral("红外指令文件无效");

// Checks the bytes of a code file for a download. They are accepted only when they hold 16 or 17
// lines (CR LF, LF and a missing last line end all accepted): lines 1 to 16 each exactly
// recordDigits hexadecimal digits (either case), a 17th line a non-empty, even-length run of
// them. More than maxFileSize bytes, or none, are refused.
Loaded parse(const QByteArray &data);

// Reads a code file and checks it as parse() does. Only a readable regular file is read: a
// folder, a pipe, a device, a missing path or a link loop is refused with the reason, without
// ever blocking or reading more than maxFileSize + 1 bytes.
// A refused file's message starts with refusal (one of the texts above).
Loaded load(const QString &path, const QString &refusal = invalidFile);
// What the operator reads when a file is refused: "<refusal>：<path>" and the reason beneath.
QString refusalMessage(const QString &refusal, const QString &path, const QString &reason);

// Stores the loaded lines into the table, line k into slot k - 1; other slots keep their text.
void fill(CodeTable &table, const QStringList &lines);

} // namespace codefile
} // namespace irlearn
