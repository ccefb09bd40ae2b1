#pragma once

#include "codefile/codetable.h"

#include <QByteArray>
#include <QList>

namespace irlearn::tables {

// A record (1 to 16) that differs between two tables, and the first byte (0-based) at which it
// does; where one record is a shorter prefix of the other, the byte just past the shorter one.
struct RecordDifference
{
    int record = 0;
    int firstByte = 0;
};

// The records 1 to 16 that differ, in order. Hex digits compare without regard to case: a file
// written in lower case holds the same bytes the device returns in upper case.
QList<RecordDifference> compare(const CodeTable &a, const CodeTable &b);

// SHA-256 of records 1 to 16 as a saved code file holds them (upper-case digits, each record
// ended by CR LF); a 17th line is not part of what the device stores, so it is left out. Equal
// tables give equal sums however their files were written.
QByteArray sha256(const CodeTable &table);

} // namespace irlearn::tables
