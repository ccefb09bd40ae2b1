#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

class QCommandLineParser;

namespace irlearn::devsim {

enum class EchoMode { Normal, Silent, Wrong };

// Everything the command line can change about the simulated device.
struct Options
{
    QString linkPath = QStringLiteral("/tmp/irlearn-devsim/COM1");
    QString logPath; // empty: standard error
    QString dumpPath;
    QString tablePath;
    QString pinSettingsPath;
    QString pinAs;

    QByteArray deviceNumber = QByteArray::fromHex(QByteArrayLiteral("0001"));
    EchoMode echo = EchoMode::Normal;
    std::optional<QByteArray> learnReply = QByteArray(1, '\0'); // nullopt: never answered
    int frameGapMs = 20;
    int learnDelayMs =
        300; // 15 frame gaps unless given: a test that shrinks the gap shrinks it too
    std::optional<QByteArray> keyReply = QByteArray(1, '\0');
    int replyDelayMs = 0;
    bool paced = false;

    int recordLen = 257;
    quint32 seed = 1;
    bool repeatAfterEnd = false;

    // Learning as a device with a remote in front of it, per numbered command (keys are 1 to 10):
    // refused (answered 01) or ignored for the first N learnings of the command (-1: every one),
    // or answered after its own delay instead of learnDelayMs.
    QMap<int, int> refuseLearn;
    QMap<int, int> ignoreLearn;
    QMap<int, int> learnDelayFor;

    QMap<int, int> refuseRecord; // download slot (0-based) -> how many times to refuse it
    int restartAt = -1;          // download slot answered DD once; -1: never
    QMap<int, int> shortRecord;  // read record (1-based) -> bytes actually sent
    int stopAfter = -1;          // records sent per read before falling silent; -1: no limit

    // Faults of a device or an adapter gone bad.
    bool garbage = false;    // every answer replaced by a few meaningless bytes
    bool flood = false;      // endless bytes from the first frame on
    bool refuseAll = false;  // F5 to every download record
    bool restartAll = false; // DD to every download record
    int vanishAfter = -1;    // transfer record (0-based) after which the device is unplugged
    int wrongRecord = -1;    // download slot stored with one byte changed, answered as if intact
};

// Declares every option on parser (including --help).
void declareOptions(QCommandLineParser &parser);

// Reads the processed parser into an Options; nullopt with *error set when a value is malformed.
std::optional<Options> readOptions(const QCommandLineParser &parser, QString *error);

// Bytes written as hexadecimal digit pairs ("00F5"), case ignored; nullopt unless the text is a
// non-empty, even-length run of hex digits.
std::optional<QByteArray> parseHexBytes(const QString &text);

} // namespace irlearn::devsim
