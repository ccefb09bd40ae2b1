#pragma once

#include "codefile/codetable.h"

#include <QString>
#include <QStringList>

namespace irlearn {

// Code files: one record of hexadecimal text per line, every line ended by CR LF.
namespace codefile {

// Writes slots 0 to 15 of table to path, each followed by CR LF, through a QSaveFile: an existing
// file is replaced only once the new one is complete. On failure returns false, leaves any
// existing file untouched, and puts a short reason (the system's words) into *error.
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
};

// Reads a code file for a download and checks it whole. It is accepted only when it has 16 or
// 17 lines (CR LF, LF and a missing last line end all accepted), each a non-empty, even-length
// run of hexadecimal digits (either case). A file that cannot be read, is larger than
// maxFileSize, or is empty is refused.
Loaded load(const QString &path);

// Stores the loaded lines into the table, line k into slot k - 1; other slots keep their text.
void fill(CodeTable &table, const QStringList &lines);

} // namespace codefile
} // namespace irlearn
