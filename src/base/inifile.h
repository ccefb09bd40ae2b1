#pragma once

#include <QString>

namespace irlearn {

// Reader and writer of the private-profile text format ("[Section]" lines, "key=value" lines),
// compatible with files written on Windows: CR LF or LF line ends, section and key names matched
// without regard to case, comment lines (';') and everything else kept as it was when one key is
// written. Writes are atomic: the old file stays intact until the new one is complete.
class IniFile
{
public:
    explicit IniFile(QString path);

    QString path() const { return m_path; }

    // The value stored under key in section, or defaultValue when the file, the section or the
    // key is missing. Blanks around the value are removed; a value longer than 254 bytes (UTF-8)
    // comes back cut to 254 bytes, never in the middle of a character.
    QString read(const QString &section, const QString &key, const QString &defaultValue) const;

    // Stores value under key in section, creating the file and the section when missing. Every
    // CR and every LF in the value becomes one space. Returns false when the file could not be
    // written (the old file, if any, is then unchanged).
    bool write(const QString &section, const QString &key, const QString &value);

private:
    QString m_path;
};

} // namespace irlearn
