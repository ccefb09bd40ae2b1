#pragma once

#include <QString>

#include <memory>

namespace irlearn {

// The program's settings file "VexoSet.ini": last port and device number (section "Setup"), the
// window's options (sections "Download" and "Log", values 0 and 1) and, on Linux, the serial
// devices pinned to port names (section "Ports", keys COM1 ... COM32).
//
// The file is read once, on first use, and reads are served from memory: port names alone ask
// for dozens of keys at start-up. A file that is not a regular file of at most 1 MiB (a pipe, a
// device, a folder, a link loop, a huge file) is used as if absent and never overwritten;
// problem() says why. Copies share one view of the file, so a value written through one copy is
// what every other copy reads.
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

    QString path() const;

    // Why the file is left alone, for the log pane ("设置文件未使用：<path>（<reason>）"); empty
    // when it was read or is absent.
    QString problem() const;

    QString readValue(const QString &section, const QString &key,
                      const QString &defaultValue) const;
    // Updates the value in memory and, unless the file is left alone, in the file (atomically,
    // every other line kept byte for byte).
    void writeValue(const QString &section, const QString &key, const QString &value);

    static inline const QString fileName = QStringLiteral("VexoSet.ini");
    static inline const QString setupSection = QStringLiteral("Setup");
    static inline const QString portKey = QStringLiteral("TXPort");
    static inline const QString deviceKey = QStringLiteral("TXsbID");
    static inline const QString portsSection = QStringLiteral("Ports");
    static inline const QString downloadSection = QStringLiteral("Download");
    static inline const QString verifyKey = QStringLiteral("Verify");
    static inline const QString logSection = QStringLiteral("Log");
    static inline const QString timeStampsKey = QStringLiteral("TimeStamps");

private:
    struct Data;
    Data &loaded() const;

    std::shared_ptr<Data> d;
};

} // namespace irlearn
