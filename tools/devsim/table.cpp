#include "table.h"

#include "options.h"

#include "base/regularfile.h"

#include <QFile>
#include <QList>

namespace irlearn::devsim {

Table generateTable(quint32 seed, int recordLen)
{
    Table table;
    for (int r = 0; r < int(table.size()); ++r) {
        // xorshift32; the state must never be 0, whatever the seed.
        quint32 x = (seed * 2654435761u) ^ (quint32(r + 1) * 0x9E3779B9u);
        if (x == 0)
            x = 0x6D2B79F5u;
        QByteArray record(recordLen, '\0');
        for (int i = 0; i < recordLen; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            record[i] = char(x >> 24);
        }
        table[r] = record;
    }
    return table;
}

bool loadTable(const QString &path, Table *table, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the last line's terminator, not an empty record
    if (lines.size() != int(table->size())) {
        *error = QStringLiteral("%1: %2 lines, expected 16").arg(path).arg(lines.size());
        return false;
    }
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        const auto bytes = parseHexBytes(QString::fromLatin1(line));
        if (!bytes) {
            *error = QStringLiteral("%1: line %2 is not hex").arg(path).arg(i + 1);
            return false;
        }
        (*table)[i] = *bytes;
    }
    return true;
}

bool dumpTable(const QString &path, const Table &table, QString *error)
{
    QByteArray bytes;
    for (const QByteArray &record : table)
        bytes += record.toHex().toUpper() + QByteArrayLiteral("\r\n");
    QString why;
    if (writeFile(path, bytes, &why))
        return true;
    *error = QStringLiteral("cannot write %1: %2").arg(path, why);
    return false;
}

} // namespace irlearn::devsim
