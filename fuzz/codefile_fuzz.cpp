// The code file checker on arbitrary bytes: what it accepts is exactly a table the device can
// take, and it says where and why it refuses everything else.
#include "codefile/codefile.h"
#include "fuzzcheck.h"

#include <QByteArray>

using namespace irlearn;

namespace {

bool allHex(const QString &text)
{
    for (QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const codefile::Loaded loaded = codefile::parse(bytes);

    FUZZ_CHECK(loaded.ok == loaded.reason.isEmpty());
    if (!loaded.ok) {
        FUZZ_CHECK(loaded.lines.isEmpty());
        FUZZ_CHECK(loaded.badLine >= 0 && loaded.badLine <= bytes.count('\n') + 1);
        return 0;
    }

    FUZZ_CHECK(loaded.badLine == 0);
    FUZZ_CHECK(loaded.lines.size() == tableRecords || loaded.lines.size() == tableRecords + 1);
    for (int i = 0; i < loaded.lines.size(); ++i) {
        const QString &line = loaded.lines.at(i);
        FUZZ_CHECK(allHex(line));
        FUZZ_CHECK(i < tableRecords ? line.size() == recordDigits
                                    : !line.isEmpty() && line.size() % 2 == 0);
    }
    // Nothing but line ends was dropped: the records, put back together, are the file.
    QByteArray rebuilt = loaded.lines.join(QLatin1Char('\n')).toLatin1();
    QByteArray plain = bytes;
    plain.replace("\r\n", "\n");
    if (plain.endsWith('\n'))
        plain.chop(1);
    FUZZ_CHECK(rebuilt == plain);
    // What is accepted is accepted again once saved the program's way.
    rebuilt = loaded.lines.join(QLatin1String("\r\n")).toLatin1() + "\r\n";
    FUZZ_CHECK(codefile::parse(rebuilt).lines == loaded.lines);
    return 0;
}
