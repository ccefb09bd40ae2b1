#pragma once

#include <QDate>
#include <QFile>
#include <QList>
#include <QString>

namespace irlearn {

// The whole session on disk: every log line, time-stamped ("hh:mm:ss.zzz "), appended to one
// file a day (irlearn-YYYY-MM-DD.log) in the session log folder as it comes, so a log pane that
// keeps only its last lines loses nothing. Files older than keepDays are removed when a session
// log is made. Each line is flushed on its own and nothing waits for the disk beyond that write;
// a folder that cannot be written costs the file, never the program (problem() says why once).
class SessionLog
{
public:
    static constexpr int keepDays = 30;

    // Where the lines go: a day's file in a folder, or one file the caller names (the command
    // line's --log-file FILE), where no day starts a new file and nothing is removed.
    enum class Target { Folder, File };

    explicit SessionLog(const QString &folder = standardFolder(), Target target = Target::Folder);

    // $XDG_STATE_HOME/irlearn (by default ~/.local/state/irlearn); on Windows the user's local
    // application data, irlearn\log.
    static QString standardFolder();
    static QString fileName(const QDate &day);

    QString folder() const { return m_folder; }
    // The file today's lines go to.
    QString currentPath() const;

    // Adds one line (breaks inside it become new lines of the same entry). False when it could
    // not be written.
    bool append(const QString &line);
    // The lines this session wrote, read back from the files, in order (LF line ends).
    QByteArray session() const;
    // Why the lines are not written, or empty.
    QString problem() const { return m_problem; }

private:
    bool openFor(const QDate &day);
    void removeOld(const QDate &today);

    struct Piece
    {
        QString path;
        qint64 from = 0; // the file's size when this session started writing to it
        qint64 to = 0;   // and after its last line
    };

    QString m_folder;
    QString m_fixedFile; // Target::File: the file named
    QFile m_file;
    QString m_path; // the file m_file has open
    QDate m_day;
    QList<Piece> m_pieces;
    QString m_problem;
};

} // namespace irlearn
