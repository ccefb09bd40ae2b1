#include "sessionlog.h"

#include "base/nativepath.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>

namespace irlearn {

SessionLog::SessionLog(const QString &folder, Target target)
{
    if (target == Target::File) {
        // Made absolute as text: the name may hold bytes Qt's file classes would not keep.
        m_fixedFile =
            QDir::isRelativePath(folder) ? QDir::currentPath() + QLatin1Char('/') + folder : folder;
        m_folder = folderOf(m_fixedFile);
        return;
    }
    m_folder = folder;
    removeOld(QDate::currentDate());
}

QString SessionLog::standardFolder()
{
#ifdef Q_OS_WIN
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/irlearn/log");
#else
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // XDG base directories: a relative value is invalid and is ignored.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/irlearn");
#endif
}

QString SessionLog::fileName(const QDate &day)
{
    return QStringLiteral("irlearn-%1.log").arg(day.toString(QStringLiteral("yyyy-MM-dd")));
}

QString SessionLog::currentPath() const
{
    if (!m_fixedFile.isEmpty())
        return m_fixedFile;
    return QDir(m_folder).filePath(fileName(QDate::currentDate()));
}

void SessionLog::removeOld(const QDate &today)
{
    static const QRegularExpression name(QStringLiteral("^irlearn-(\\d{4}-\\d{2}-\\d{2})\\.log$"));
    const QDir dir(m_folder);
    const QStringList files = dir.entryList({QStringLiteral("irlearn-*.log")}, QDir::Files);
    for (const QString &file : files) {
        const QRegularExpressionMatch m = name.match(file);
        if (!m.hasMatch())
            continue;
        const QDate day = QDate::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd"));
        if (day.isValid() && day.daysTo(today) > keepDays)
            QFile::remove(dir.filePath(file));
    }
}

bool SessionLog::openFor(const QDate &day)
{
    if (m_file.isOpen() && (m_day == day || !m_fixedFile.isEmpty()))
        return true;
    m_file.close();
    m_day = day;
    // A file named by the caller is written where it says, not in a folder made up for it.
    if (m_fixedFile.isEmpty() && !QDir().mkpath(m_folder)) {
        m_problem = QStringLiteral("会话日志无法写入：不能建立文件夹 %1")
                        .arg(QDir::toNativeSeparators(m_folder));
        return false;
    }
    const QString path =
        m_fixedFile.isEmpty() ? QDir(m_folder).filePath(fileName(day)) : m_fixedFile;
    QString why;
    if (!openFile(m_file, path, QIODevice::WriteOnly | QIODevice::Append, &why)) {
        m_problem = QStringLiteral("会话日志无法写入：%1：%2").arg(displayName(path), why);
        return false;
    }
    m_path = path;
    const qint64 size = m_file.size();
    m_pieces.append({path, size, size});
    return true;
}

bool SessionLog::append(const QString &line)
{
    const QDateTime now = QDateTime::currentDateTime();
    if (!openFor(now.date()))
        return false;
    QString text = line;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QByteArray bytes =
        (now.time().toString(QStringLiteral("hh:mm:ss.zzz ")) + text + QLatin1Char('\n')).toUtf8();
    if (m_file.write(bytes) != bytes.size() || !m_file.flush()) {
        m_problem = QStringLiteral("会话日志无法写入：%1：%2")
                        .arg(displayName(m_path), m_file.errorString());
        return false;
    }
    m_pieces.last().to = m_file.size();
    m_problem.clear();
    return true;
}

QByteArray SessionLog::session() const
{
    QByteArray all;
    for (const Piece &piece : m_pieces) {
        QFile file;
        if (piece.to <= piece.from || !openFile(file, piece.path, QIODevice::ReadOnly, nullptr) ||
            !file.seek(piece.from))
            continue;
        all += file.read(piece.to - piece.from);
    }
    return all;
}

} // namespace irlearn
