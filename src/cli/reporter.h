#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace irlearn::cli {

// Everything the command line tells: lines and live progress for people on standard error, the
// one JSON result for scripts on standard output. Live lines are redrawn in place only on a
// terminal; anywhere else each change is a plain line of its own, with no escape codes.
class Reporter
{
public:
    explicit Reporter(bool json);
    Reporter(const Reporter &) = delete;
    Reporter &operator=(const Reporter &) = delete;

    bool json() const { return m_json; }
    bool onTerminal() const { return m_terminal; }

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

private:
    void write(const QString &text);

    bool m_json = false;
    bool m_terminal = false;
    QString m_status; // the live line as last drawn
    bool m_statusOpen = false;
    QStringList m_board; // the live lines as last drawn
    bool m_boardOpen = false;
};

} // namespace irlearn::cli
