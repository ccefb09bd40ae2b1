#pragma once

#include <QString>
#include <QStringList>

namespace irlearn {

// The window's command line:
//   irlearn [--port COMn] [--device NNNN] | --help | --version
// A command line that cannot be followed as a whole (an unknown option, a missing value, a port
// other than COM1 ... COM32, a device number other than four decimal digits, a stray argument) is
// refused: the reason goes to the standard error and the program ends with status 2 before any
// window opens, so a launcher with a typo never opens quietly on other values than it names.
struct StartOptions
{
    enum class Action { Run, Help, Version, Refuse };

    Action action = Action::Run;
    QString port;   // "COM3" (upper case), empty when not given
    QString device; // four digits, empty when not given
    QString error;  // why the command line was refused (Refuse)

    static constexpr int refusedStatus = 2;

    // arguments as QCoreApplication::arguments() gives them: the program first, Qt's own options
    // already taken out.
    static StartOptions parse(const QStringList &arguments);

    static QString version();  // the project's version, as CMake's project() sets it
    static QString helpText(); // Chinese

    // For anything but Run: prints the help, the version or the refusal and returns the
    // program's exit status.
    int report() const;
};

} // namespace irlearn
