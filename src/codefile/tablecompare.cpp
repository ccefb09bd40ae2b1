#include "codefile/tablecompare.h"

#include <QCryptographicHash>

namespace irlearn::tables {

QList<RecordDifference> compare(const CodeTable &a, const CodeTable &b)
{
    QList<RecordDifference> differing;
    for (int r = 0; r < tableRecords; ++r) {
        const QString x = a[std::size_t(r)].toUpper();
        const QString y = b[std::size_t(r)].toUpper();
        if (x == y)
            continue;
        const qsizetype common = qMin(x.size(), y.size());
        qsizetype digit = 0;
        while (digit < common && x.at(digit) == y.at(digit))
            ++digit;
        differing.append({r + 1, int(digit / 2)});
    }
    return differing;
}

QByteArray sha256(const CodeTable &table)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (int r = 0; r < tableRecords; ++r) {
        hash.addData(table[std::size_t(r)].toUpper().toLatin1());
        hash.addData(QByteArrayView("\r\n"));
    }
    return hash.result();
}

} // namespace irlearn::tables
