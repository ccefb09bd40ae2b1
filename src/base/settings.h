#pragma once

#include <QString>

namespace irlearn {

// The program's settings file "VexoSet.ini": last port and device number (section "Setup"), and,
// on Linux, the serial devices pinned to port names (section "Ports", keys COM1 ... COM32).
class Settings
{
public:
    // Settings kept in the given file (tests, tools).
    explicit Settings(QString filePath);

    // The settings file beside the program; where that folder cannot be written (an installed
    // program), the same file name in the user's configuration folder.
    static Settings standard();

    // folder + separator + "VexoSet.ini", with no doubled separator when the folder already ends
    // with one (a drive root such as "C:\" or "/").
    static QString pathIn(const QString &folder);

    QString path() const { return m_path; }

    QString Ini_Read(const QString &section, const QString &key, const QString &defaultValue) const;
    void Ini_Write(const QString &section, const QString &key, const QString &value);

    static inline const QString fileName = QStringLiteral("VexoSet.ini");
    static inline const QString setupSection = QStringLiteral("Setup");
    static inline const QString portKey = QStringLiteral("TXPort");
    static inline const QString deviceKey = QStringLiteral("TXsbID");
    static inline const QString portsSection = QStringLiteral("Ports");

private:
    QString m_path;
};

} // namespace irlearn
