#pragma once

#include <QObject>

namespace irlearn::cli {

// Ctrl-C and kill, turned into an event of the program's loop: the first SIGINT or SIGTERM
// (Ctrl-C, Ctrl-Break or the console closing on Windows) is reported through interrupted(), so
// the run can stop at a safe point and say what it did; a second one ends the program at once.
// One watch at a time; the default handling comes back when it is destroyed.
class SignalWatch : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatch(QObject *parent = nullptr);
    ~SignalWatch() override;

    // The exit code for a run stopped by the signal: 128 + its number, as a shell shows it.
    static int exitCode(int signal);

signals:
    void interrupted(int signal);
};

} // namespace irlearn::cli
