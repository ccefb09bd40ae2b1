#include "base/settings.h"

#include "base/inifile.h"
#include "base/regularfile.h"

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

struct Settings::Data
{
    QString path;
    bool loaded = false;
    QByteArray bytes;
    QString problem;
};

Settings::Settings(QString filePath) : d(std::make_shared<Data>())
{
    d->path = std::move(filePath);
}

Settings::Data &Settings::loaded() const
{
    if (!d->loaded) {
        const IniFile::Contents contents = IniFile::load(d->path);
        d->bytes = contents.bytes;
        if (!contents.problem.isEmpty())
            d->problem = QStringLiteral("设置文件未使用：%1（%2）").arg(d->path, contents.problem);
        d->loaded = true;
    }
    return *d;
}

QString Settings::path() const
{
    return d->path;
}

QString Settings::problem() const
{
    return loaded().problem;
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

QString Settings::readValue(const QString &section, const QString &key,
                            const QString &defaultValue) const
{
    return IniFile::valueIn(loaded().bytes, section, key, defaultValue);
}

void Settings::writeValue(const QString &section, const QString &key, const QString &value)
{
    Data &data = loaded();
    if (!data.problem.isEmpty()) {
        data.bytes = IniFile::withValue(data.bytes, section, key, value);
        return;
    }
    // The change goes into the file as it is now, not as it was at start-up: another program
    // (the simulator pinning a port) may have written it since.
    const IniFile::Contents now = IniFile::load(data.path);
    if (!now.problem.isEmpty()) {
        data.problem = QStringLiteral("设置文件未使用：%1（%2）").arg(data.path, now.problem);
        data.bytes = IniFile::withValue(data.bytes, section, key, value);
        return;
    }
    data.bytes = IniFile::withValue(now.bytes, section, key, value);
    // Settings that cannot be saved are lost without a word: the next start simply shows the
    // defaults, which is all that is at stake.
    writeFile(data.path, data.bytes, nullptr);
}

} // namespace irlearn
