#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace irlearn::cli {

enum class Command {
    Ports,
    Read,
    Download,
    Verify,
    SetNumber,
    Learn,
    Send,
    Diff,
    Info,
    Clone,
    Label,
    Library,
    Identify,
    Teach,
    Station,
};

// The exit codes every command keeps to (listed in --help and the README).
enum ExitCode {
    exitDone = 0,
    exitFailed = 1,   // the device refused, or what was read back differs
    exitUsage = 2,    // the command line or a code file is wrong, or the result cannot be written
    exitPortOpen = 3, // the port could not be opened
    exitLost = 4,     // the device stopped answering, or the port vanished mid-way
    // Stopped by a signal at a safe point: 128 + the signal's number, as a shell reports it.
    exitInterrupted = 130, // SIGINT (Ctrl-C)
    exitTerminated = 143,  // SIGTERM
};

class Reporter;
struct Request;

// Runs a command to its end and returns its exit code.
using Runner = int (*)(const Request &request, Reporter &out);

// What the operator asked for, checked as far as it can be without the device.
struct Request
{
    Command command = Command::Ports;
    QString name;        // the command's word, as typed
    QStringList ports;   // --port, as given: one for a device command, one or more for clone
    QString device;      // --device: the device number, four decimal digits
    QString file;        // the code file: read -o, download, verify, info, clone, diff's first
    QString secondFile;  // diff's second file
    QString newNumber;   // set-number
    int key = -1;        // learn --key, send: 0 to 9
    int number = 0;      // learn: numbered command 1 to 108
    bool verify = true;  // download without --no-verify
    QStringList numbers; // clone: the new number for each port, in port order; empty: keep
    int retries = 0;     // clone --retry
    // clone, station: the number each port's device answers to now (--port P=NNNN), in port
    // order; empty where --device applies. ports holds the ports without it.
    QStringList portDevices;
    QStringList watch;       // station --watch: paths or globs of ports to wait for
    bool systemPorts = true; // station: the system's USB serial ports too (--no-system-ports)
    QString log;             // station --log: the JSON-lines file each result is appended to
    QString numberFrom;      // station --number-from: the first new number; empty: keep
    bool json = false;
    bool verbose = false;
    QString settingsPath;   // --settings; empty: the window's settings file
    bool logFrames = false; // --log-file
    QString logFile;        // its file; empty: the session log folder
    // --label NAME=VALUE, --brand, --model, --remote, --notes in the order given: read -o,
    // label, library add.
    QList<QPair<QString, QString>> labelFields;
    bool ignoreLabels = false; // --ignore-labels: a file changed since it was labelled is used
    QString library;           // --library; empty: the settings file's, else the default folder
    QString action;            // library: list, add or show
    QString search;            // library list --search
    QString entry;             // library show: the entry's id
    // teach: the keys (0 to 9) and the range of numbered commands (0: none); retries goes in
    // `retries`, -o in `file`.
    QList<int> keys;
    int firstCommand = 0;
    int lastCommand = 0;
    bool test = false; // teach --test
    Runner run = nullptr;
};

struct Parsed
{
    enum Status { Run, Help, Error };
    Status status = Error;
    Request request;
    QString text; // the help or version text (Help) or what is wrong (Error)
};

// Reads the arguments after the program name: the command's word first, then that command's
// options and arguments. Every check that needs neither a file nor a port happens here: device
// numbers, key names, command numbers, option values.
Parsed parseCommandLine(const QStringList &arguments);

// A key given by its name or its index (0 to 9); -1 for anything else.
int keyIndex(const QString &text);

} // namespace irlearn::cli
