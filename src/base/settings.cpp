#include "base/settings.h"

#include "base/inifile.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <utility>

namespace irlearn {

namespace {

// A folder counts as writable only when a file can really be made in it: permission bits say
// nothing about read-only mounts, and nothing at all when running as root.
bool canCreateFilesIn(const QString &folder)
{
    if (folder.isEmpty() || !QDir(folder).exists())
        return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral("VexoSet.XXXXXX.tmp")));
    return probe.open();
}

} // namespace

Settings::Settings(QString filePath) : m_path(std::move(filePath))
{
}

Settings Settings::standard()
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    if (canCreateFilesIn(programFolder))
        return Settings(pathIn(programFolder));
    const QString configFolder =
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(configFolder);
    return Settings(pathIn(configFolder));
}

QString Settings::pathIn(const QString &folder)
{
    if (folder.isEmpty())
        return fileName;
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\')))
        return folder + fileName;
    // A folder spelt with backslashes only (a Windows path as typed) goes on with one.
    const bool backslashes =
        folder.contains(QLatin1Char('\\')) && !folder.contains(QLatin1Char('/'));
    return folder + (backslashes ? QLatin1Char('\\') : QLatin1Char('/')) + fileName;
}

QString Settings::Ini_Read(const QString &section, const QString &key,
                           const QString &defaultValue) const
{
    return IniFile(m_path).read(section, key, defaultValue);
}

void Settings::Ini_Write(const QString &section, const QString &key, const QString &value)
{
    // Settings that cannot be saved are lost without a word: the next start simply shows the
    // defaults, which is all that is at stake.
    IniFile(m_path).write(section, key, value);
}

} // namespace irlearn
