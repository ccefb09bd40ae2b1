// The settings reader and writer on arbitrary files: writing one key keeps every other line byte
// for byte and every other value as it was, and reading it back gives what was written.
//
// Input: one byte each for the lengths of the section name, the key name and the value, those
// three, then the file.
#include "base/inifile.h"
#include "fuzzcheck.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QStringDecoder>

#include <functional>

using namespace irlearn;

namespace {

struct Line
{
    QByteArray text;
    QByteArray end;
    bool operator==(const Line &other) const { return text == other.text && end == other.end; }
};

QList<Line> lines(const QByteArray &data)
{
    QList<Line> result;
    for (qsizetype pos = 0; pos < data.size();) {
        qsizetype lf = data.indexOf('\n', pos);
        const qsizetype next = lf < 0 ? data.size() : lf + 1;
        if (lf < 0)
            lf = data.size();
        qsizetype textEnd = lf;
        if (lf < data.size() && textEnd > pos && data.at(textEnd - 1) == '\r')
            --textEnd;
        result.append({data.mid(pos, textEnd - pos), data.mid(textEnd, next - textEnd)});
        pos = next;
    }
    return result;
}

// A last line without end may get one; its own CR then reads as part of that end.
bool addsLineEnd(const QByteArray &was, const QByteArray &now)
{
    return now.startsWith(was) && (now.mid(was.size()) == "\n" || now.mid(was.size()) == "\r\n");
}

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

QByteArray trimmed(QByteArray bytes)
{
    while (!bytes.isEmpty() && blank(bytes.front()))
        bytes.remove(0, 1);
    while (!bytes.isEmpty() && blank(bytes.back()))
        bytes.chop(1);
    return bytes;
}

QString decode(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

// A section or key name the format can hold: none of its structural characters, no blanks at
// the ends, not empty.
QString name(const QByteArray &bytes)
{
    static const QString alphabet = QStringLiteral("AaBbKkZz09_-. /中文éÉ");
    QString result;
    for (char c : bytes)
        result += alphabet.at(static_cast<unsigned char>(c) % alphabet.size());
    result = result.trimmed();
    return result.isEmpty() ? QStringLiteral("K") : result;
}

// What a reader gets back for a written value: line breaks as spaces, no blanks at the ends,
// at most 254 bytes and never half a character.
QString expectedValue(const QString &value)
{
    QString flat = value;
    flat.replace(u'\r', u' ').replace(u'\n', u' ');
    QByteArray bytes = trimmed(flat.toUtf8());
    if (bytes.size() > 254) {
        qsizetype cut = 254;
        while (cut > 0 && (static_cast<unsigned char>(bytes.at(cut)) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
    }
    return decode(bytes);
}

bool same(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    qsizetype pos = 3;
    auto field = [&](int index) {
        const QByteArray bytes = input.mid(pos, static_cast<unsigned char>(input.at(index)));
        pos += bytes.size();
        return bytes;
    };
    const QString section = name(field(0));
    const QString key = name(field(1));
    const QString value = decode(field(2));
    const QByteArray old = input.mid(pos);

    const QByteArray written = IniFile::withValue(old, section, key, value);
    const QString missing = QStringLiteral("\x01missing");
    FUZZ_CHECK(IniFile::valueIn(written, section, key, missing) == expectedValue(value));
    FUZZ_CHECK(IniFile::withValue(written, section, key, value) == written);

    // Byte for byte: the old lines in order, one of them possibly rewritten as the key's line,
    // or the key's line, its section header and a blank line added, and a line end given to a
    // last line that had none.
    QString flat = value;
    flat.replace(u'\r', u' ').replace(u'\n', u' ');
    const QByteArray keyLineEnd = '=' + flat.toUtf8();
    const QByteArray header = '[' + section.toUtf8() + ']';
    auto insertable = [&](const Line &line) {
        return line.text.isEmpty() || line.text == header || line.text == key.toUtf8() + keyLineEnd;
    };
    const QList<Line> before = lines(old);
    const QList<Line> after = lines(written);
    // Which line was added and which rewritten can be ambiguous (blank lines, a key line spelt
    // like the new one), so every reading is tried; the small budgets keep the states few.
    QSet<qsizetype> failed;
    std::function<bool(qsizetype, int, int, int)> fits = [&](qsizetype i, int inserted,
                                                             int rewritten, int endsAdded) {
        if (inserted > 3 || rewritten > 1 || endsAdded > 1 || (rewritten && inserted))
            return false;
        const qsizetype j = i + inserted;
        if (i == before.size() && j == after.size())
            return true;
        const qsizetype state = ((i * 4 + inserted) * 2 + rewritten) * 2 + endsAdded;
        if (failed.contains(state) || j > after.size())
            return false;
        bool ok = false;
        if (i < before.size() && j < after.size()) {
            const Line &was = before.at(i);
            const Line &now = after.at(j);
            if (now == was)
                ok = fits(i + 1, inserted, rewritten, endsAdded);
            else if (was.end.isEmpty() && addsLineEnd(was.text, now.text + now.end))
                ok = fits(i + 1, inserted, rewritten, endsAdded + 1);
            if (!ok && now.text.endsWith(keyLineEnd) && now.end == was.end)
                ok = fits(i + 1, inserted, rewritten + 1, endsAdded);
        }
        if (!ok && j < after.size() && insertable(after.at(j)))
            ok = fits(i, inserted + 1, rewritten, endsAdded);
        if (!ok)
            failed.insert(state);
        return ok;
    };
    FUZZ_CHECK(fits(0, 0, 0, 0));

    // Every other value reads as before. Any section and key spelt in the file will do as a
    // question, whether or not the reader sees them as such.
    QString current;
    for (const Line &line : before) {
        const QByteArray text = trimmed(line.text);
        if (text.startsWith('[')) {
            current = decode(trimmed(text.mid(1, text.indexOf(']') - 1)));
            continue;
        }
        const qsizetype eq = text.indexOf('=');
        if (eq < 0)
            continue;
        const QString other = decode(trimmed(text.left(eq)));
        if (same(current, section) && same(other, key))
            continue;
        FUZZ_CHECK(IniFile::valueIn(old, current, other, missing) ==
                   IniFile::valueIn(written, current, other, missing));
    }
    return 0;
}
