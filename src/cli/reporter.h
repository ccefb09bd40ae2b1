#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace irlearn {
class SessionLog;
}

namespace irlearn::cli {

// Everything the command line tells: results on standard output, lines and live progress for
// people on standard error; with --json, standard output holds the one JSON result alone and the
// results go to standard error with the rest. Live lines are redrawn in place only on a terminal;
// anywhere else each change is a plain line of its own, with no escape codes.
class Reporter
{
public:
    explicit Reporter(bool json);
    ~Reporter();
    Reporter(const Reporter &) = delete;
    Reporter &operator=(const Reporter &) = delete;

    // A result for people and scripts alike: standard output (standard error with --json).
    void print(const QString &text);
    // A line that stays.
    void say(const QString &text);
    // The one live line of a single device.
    void status(const QString &text);
    // One live line per port (clone); lines[i] belongs to the same port every time.
    void board(const QStringList &lines);
    // The live lines stay as they are; what follows starts below them.
    void settle();
    // The result for scripts: one JSON document on standard output, when --json was given.
    void result(const QJsonObject &object);
    // A run that ends before anything is sent: says why, and gives `result` with the exit code,
    // the outcome's word and why. Returns the exit code.
    int refuse(QJsonObject result, int code, const QString &why, const QString &word);
    // --log-file: the frame lines also go, time-stamped, to this log (the window's session log
    // folder or a file of the operator's).
    void setFrameLog(std::unique_ptr<SessionLog> log);
    // One frame line or device answer: to the log when there is one, to standard error with -v.
    void frame(const QString &line, bool verbose);
    // Something meant for standard output could not be written there (a full disk, a closed pipe).
    bool outputFailed() const { return m_outputFailed; }

private:
    void write(const QString &text);
    void writeOut(const QByteArray &bytes);

    bool m_json = false;
    bool m_terminal = false;
    QString m_status; // the live line as last drawn
    bool m_statusOpen = false;
    QStringList m_board; // the live lines as last drawn
    bool m_boardOpen = false;
    bool m_outputFailed = false;
    std::unique_ptr<SessionLog> m_frameLog;
    bool m_frameLogFailed = false;
};

} // namespace irlearn::cli
