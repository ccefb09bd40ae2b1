// The label file reader on arbitrary bytes: it accepts or says why not, and what it accepts it
// writes back in a form it reads again to the same labels. The same bytes taken as a code file
// give labels that are always accepted.
#include "codefile/codefile.h"
#include "codefile/tablelabels.h"
#include "fuzzcheck.h"

#include <QByteArray>

using namespace irlearn;

namespace {

bool isHash(const QString &text)
{
    if (text.size() != 64)
        return false;
    for (QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

// Written, read back and written again: the same bytes and the same labels.
void checkRewrite(const TableLabels &labels)
{
    const QByteArray written = labels::toJson(labels);
    const labels::Parsed again = labels::parse(written);
    FUZZ_CHECK(again.ok);
    FUZZ_CHECK(labels::toJson(again.labels) == written);
    FUZZ_CHECK(again.labels.brand == labels.brand && again.labels.notes == labels.notes);
    FUZZ_CHECK(again.labels.keys == labels.keys && again.labels.commands == labels.commands);
    FUZZ_CHECK(again.labels.records == labels.records && again.labels.sha256 == labels.sha256);
    FUZZ_CHECK(again.labels.unknown.keys() == labels.unknown.keys());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    const labels::Parsed parsed = labels::parse(bytes);
    FUZZ_CHECK(parsed.ok == parsed.reason.isEmpty());
    if (parsed.ok) {
        FUZZ_CHECK(parsed.labels.records.size() == tableRecords);
        for (const QString &hash : parsed.labels.records)
            FUZZ_CHECK(isHash(hash));
        FUZZ_CHECK(isHash(parsed.labels.sha256));
        checkRewrite(parsed.labels);
    }

    const codefile::Loaded table = codefile::parse(bytes);
    if (table.ok) {
        TableLabels stamped;
        stamped.brand = QString::fromUtf8(bytes.left(40));
        stamped.records = labels::recordHashes(table.lines.mid(0, tableRecords));
        stamped.sha256 = labels::fileHash(bytes);
        checkRewrite(stamped);
    }
    return 0;
}
