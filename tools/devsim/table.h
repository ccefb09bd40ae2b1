#pragma once

#include <QByteArray>
#include <QString>

#include <array>

namespace irlearn::devsim {

// The device's stored code table: records 1 to 16 in slots 0 to 15.
using Table = std::array<QByteArray, 16>;

// A reproducible table, so that a test can tell a record that went through intact from one that
// was cut, shifted or mixed up with its neighbour: every seed, record and byte position gives a
// different stream.
Table generateTable(quint32 seed, int recordLen);

// Reads a code file (one record of hex digits per line, CR LF or LF). Exactly 16 records; false
// with *error set otherwise.
bool loadTable(const QString &path, Table *table, QString *error);

// Writes the table as a code file (16 lines of upper-case hex, each ended by CR LF), replacing
// the file only once the new one is complete so that a reader never sees half a table.
bool dumpTable(const QString &path, const Table &table, QString *error);

} // namespace irlearn::devsim
