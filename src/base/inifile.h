#pragma once

#include <QByteArray>
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
    // key is missing, or the file is left alone (see load()). Blanks around the value are removed;
    // a value longer than 254 bytes (UTF-8) comes back cut to 254 bytes, never in the middle of a
    // character.
    QString read(const QString &section, const QString &key, const QString &defaultValue) const;

    // Stores value under key in section, creating the file and the section when missing. Every
    // CR and every LF in the value becomes one space. Returns false when the file could not be
    // written (the old file, if any, is then unchanged) or is left alone (see load()): such a
    // file is never overwritten.
    bool write(const QString &section, const QString &key, const QString &value);

    // Settings files larger than this are not ours: they are left alone, as if absent.
    static constexpr qint64 maxFileSize = 1024 * 1024;

    // The bytes of a settings file, or why it was left alone (Chinese, empty when the file was
    // read or is absent). Only a regular file of at most maxFileSize bytes is read; a pipe, a
    // device, a folder or a link loop is never opened for reading.
    struct Contents
    {
        QByteArray bytes;
        QString problem;
    };
    static Contents load(const QString &path);

    // read() and write() on the bytes of a file in memory.
    static QString valueIn(const QByteArray &data, const QString &section, const QString &key,
                           const QString &defaultValue);
    static QByteArray withValue(const QByteArray &data, const QString &section, const QString &key,
                                const QString &value);

private:
    QString m_path;
};

} // namespace irlearn
