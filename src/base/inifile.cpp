#include "base/inifile.h"

#include "base/regularfile.h"

#include <QByteArray>
#include <QList>
#include <QStringDecoder>

#include <utility>

namespace irlearn {

namespace {

// What a reader of the format can get back: the file answers with at most this many bytes.
constexpr qsizetype maxValueBytes = 254;

const QByteArray utf8Bom = QByteArrayLiteral("\xEF\xBB\xBF");

// One line of the file: its text and its own line end (CR LF, LF or none for a last line
// without one), kept apart so that untouched lines go back out byte for byte.
struct Line
{
    QByteArray text;
    QByteArray end;
};

QList<Line> splitLines(const QByteArray &data)
{
    QList<Line> lines;
    qsizetype pos = 0;
    while (pos < data.size()) {
        const qsizetype lf = data.indexOf('\n', pos);
        if (lf < 0) {
            lines.append({data.mid(pos), QByteArray()});
            break;
        }
        qsizetype textEnd = lf;
        if (textEnd > pos && data.at(textEnd - 1) == '\r')
            --textEnd;
        lines.append({data.mid(pos, textEnd - pos), data.mid(textEnd, lf + 1 - textEnd)});
        pos = lf + 1;
    }
    return lines;
}

// QString::fromUtf8 drops a leading U+FEFF, but only the mark at the very start of the file
// belongs to the file (contentOf removes that one); anywhere else it is text like any other.
QString decode(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

QByteArray trimBlanks(const QByteArray &bytes)
{
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && isBlank(bytes.at(begin)))
        ++begin;
    while (end > begin && isBlank(bytes.at(end - 1)))
        --end;
    return bytes.mid(begin, end - begin);
}

// The line as the parser sees it: a byte-order mark on the first line belongs to the file,
// not to the first section name.
QByteArray contentOf(const QList<Line> &lines, qsizetype index)
{
    QByteArray text = lines.at(index).text;
    if (index == 0 && text.startsWith(utf8Bom))
        text.remove(0, utf8Bom.size());
    return trimBlanks(text);
}

bool isComment(const QByteArray &content)
{
    return content.startsWith(';') || content.startsWith('#');
}

// The section named by a "[name]" line; false for every other line.
bool sectionName(const QByteArray &content, QString *name)
{
    if (!content.startsWith('['))
        return false;
    qsizetype close = content.indexOf(']', 1);
    if (close < 0)
        close = content.size();
    *name = decode(trimBlanks(content.mid(1, close - 1)));
    return true;
}

// The key and value of a "key=value" line; false for comments and lines without '='.
bool keyValue(const QByteArray &content, QString *key, QByteArray *value)
{
    if (isComment(content))
        return false;
    const qsizetype eq = content.indexOf('=');
    if (eq < 0)
        return false;
    *key = decode(trimBlanks(content.left(eq)));
    *value = trimBlanks(content.mid(eq + 1));
    return true;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Where a section lives in the file: the line of its header and the line after its last line.
struct SectionSpan
{
    qsizetype header = -1;
    qsizetype end = -1;
};

// The first section of that name; like the platform's own reader, later sections of the same
// name are never consulted.
SectionSpan findSection(const QList<Line> &lines, const QString &section)
{
    SectionSpan span;
    QString name;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!sectionName(contentOf(lines, i), &name))
            continue;
        if (span.header >= 0) {
            span.end = i;
            return span;
        }
        if (sameName(name, section))
            span.header = i;
    }
    if (span.header >= 0)
        span.end = lines.size();
    return span;
}

qsizetype findKey(const QList<Line> &lines, const SectionSpan &span, const QString &key,
                  QByteArray *value)
{
    QString name;
    QByteArray found;
    for (qsizetype i = span.header + 1; i < span.end; ++i) {
        if (keyValue(contentOf(lines, i), &name, &found) && sameName(name, key)) {
            if (value)
                *value = found;
            return i;
        }
    }
    return -1;
}

// Cut back to maxValueBytes without leaving half of a multi-byte character behind.
QByteArray cutValue(QByteArray value)
{
    if (value.size() <= maxValueBytes)
        return value;
    qsizetype cut = maxValueBytes;
    while (cut > 0 && (static_cast<unsigned char>(value.at(cut)) & 0xC0) == 0x80)
        --cut;
    value.truncate(cut);
    return value;
}

// The file keeps the line ends it was written with; a new file, or one of a single line, gets
// the platform's own CR LF.
QByteArray lineEndOf(const QList<Line> &lines)
{
    for (const Line &line : lines) {
        if (!line.end.isEmpty())
            return line.end;
    }
    return QByteArrayLiteral("\r\n");
}

QByteArray flatten(const QString &value)
{
    QString flat = value;
    flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return flat.toUtf8();
}

} // namespace

IniFile::IniFile(QString path) : m_path(std::move(path))
{
}

QString IniFile::valueIn(const QByteArray &data, const QString &section, const QString &key,
                         const QString &defaultValue)
{
    const QList<Line> lines = splitLines(data);
    const SectionSpan span = findSection(lines, section);
    if (span.header < 0)
        return defaultValue;
    QByteArray value;
    if (findKey(lines, span, key, &value) < 0)
        return defaultValue;
    return decode(cutValue(value));
}

QByteArray IniFile::withValue(const QByteArray &data, const QString &section, const QString &key,
                              const QString &value)
{
    QList<Line> lines = splitLines(data);
    const QByteArray eol = lineEndOf(lines);
    const QByteArray flatValue = flatten(value);

    const SectionSpan span = findSection(lines, section);
    if (span.header < 0) {
        if (!lines.isEmpty()) {
            if (lines.last().end.isEmpty())
                lines.last().end = eol;
            // A blank line between sections, as the platform's writer leaves them.
            if (!contentOf(lines, lines.size() - 1).isEmpty())
                lines.append({QByteArray(), eol});
        }
        lines.append({'[' + section.toUtf8() + ']', eol});
        lines.append({key.toUtf8() + '=' + flatValue, eol});
    } else {
        const qsizetype at = findKey(lines, span, key, nullptr);
        if (at >= 0) {
            // The key keeps the spelling it has in the file; only its value changes.
            QString name;
            QByteArray unused;
            keyValue(contentOf(lines, at), &name, &unused);
            lines[at].text = name.toUtf8() + '=' + flatValue;
        } else {
            qsizetype last = span.end - 1;
            while (last > span.header && contentOf(lines, last).isEmpty())
                --last;
            if (lines.at(last).end.isEmpty())
                lines[last].end = eol;
            lines.insert(last + 1, {key.toUtf8() + '=' + flatValue, eol});
        }
    }

    QByteArray out;
    out.reserve(data.size() + flatValue.size() + key.size() + section.size() + 16);
    for (const Line &line : std::as_const(lines))
        out += line.text + line.end;
    return out;
}

IniFile::Contents IniFile::load(const QString &path)
{
    Contents contents;
    const FileRead file = readRegularFile(path, maxFileSize);
    switch (file.status) {
    case FileRead::Read:
        contents.bytes = file.bytes;
        break;
    case FileRead::Missing:
        break;
    case FileRead::TooLarge:
        contents.problem = QStringLiteral("文件过大");
        break;
    case FileRead::Refused:
        contents.problem = file.reason;
        break;
    }
    return contents;
}

QString IniFile::read(const QString &section, const QString &key, const QString &defaultValue) const
{
    return valueIn(load(m_path).bytes, section, key, defaultValue);
}

bool IniFile::write(const QString &section, const QString &key, const QString &value)
{
    // A file that could not be read is never replaced: that would throw its settings away, and
    // whatever an odd path (a pipe, a device) names is not ours to overwrite.
    const Contents old = load(m_path);
    if (!old.problem.isEmpty())
        return false;
    return writeFile(m_path, withValue(old.bytes, section, key, value), nullptr);
}

} // namespace irlearn
