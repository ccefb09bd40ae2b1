#pragma once

#include "codefile/codefile.h"
#include "codefile/codetable.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace irlearn {

// How far a key or a numbered command of a table is known to work.
enum class KeyStatus { Unknown, Learned, Tested, Failed };

// What a code file is for, kept beside it in NAME.bin.json: the code file itself stays byte for
// byte as the device gave it. records and sha256 tie the labels to the file's contents, so a file
// edited or damaged since it was labelled is noticed before it is sent to a device.
struct TableLabels
{
    QString brand;
    QString model;
    QString remote; // the model of the remote control that taught the table
    QString notes;
    QString device; // the device number the table was read from, "0001"
    QDateTime saved;
    QMap<QString, KeyStatus> keys; // air-conditioner key name ("开机") -> status
    QMap<int, KeyStatus> commands; // numbered command (1 to 108) -> status
    QStringList records;           // 16 × SHA-256 (lower-case hex) of each record's 257 bytes
    QString sha256;                // SHA-256 (lower-case hex) of the code file's bytes
    QJsonObject unknown;           // fields of a newer or foreign writer, written back as they were

    // Keys among the ten air-conditioner keys learnt (learned or tested) and tested.
    int keysLearnt() const;
    int keysTested() const;
};

namespace labels {

inline const QString format = QStringLiteral("irlearn-table");
constexpr int version = 1;

// NAME.bin -> NAME.bin.json
QString pathFor(const QString &codePath);

// "learned", "tested", "failed", "unknown"; nullopt for any other name.
QString statusName(KeyStatus status);
std::optional<KeyStatus> statusNamed(const QString &name);

// Sets one of the free-text labels by the name used in the file ("brand", "model", "remote",
// "notes", "device"); false for any other name. The command line's --label NAME=VALUE.
bool setField(TableLabels &labels, const QString &name, const QString &value);

// SHA-256 (lower-case hex) of each record's bytes, records given as hexadecimal text.
QStringList recordHashes(const QStringList &records);
// SHA-256 (lower-case hex) of a file's bytes: what sha256sum prints.
QString fileHash(const QByteArray &bytes);

// The labels as UTF-8 JSON: the known fields in a fixed order, then the unknown ones.
QByteArray toJson(const TableLabels &labels);

// A label file read from its bytes: ok, or why it is damaged or no label file of ours (Chinese,
// for the operator).
struct Parsed
{
    bool ok = false;
    TableLabels labels;
    QString reason;
};
Parsed parse(const QByteArray &json);

// Label files larger than this are no label files of ours.
constexpr qint64 maxFileSize = 256 * 1024;

// The labels of a code file checked against the file's contents.
struct Check
{
    enum State {
        None,     // no label file: the code file is used as it always was
        Valid,    // labels and contents agree
        Damaged,  // unreadable, no JSON, or no label file of ours: reported and ignored
        Mismatch, // the code file changed since it was labelled
    };
    State state = None;
    TableLabels labels;        // Valid and Mismatch
    QString reason;            // Damaged: why, in Chinese
    QList<int> changedRecords; // Mismatch: records (1 to 16) whose hash differs
    bool fileMatches = false;  // the code file's whole SHA-256 equals the labelled one
};

// Checks the label file beside codePath against the code file's bytes and records (16 or more
// lines of hex, as codefile::parse() gives them).
Check check(const QString &codePath, const QByteArray &codeBytes, const QStringList &records);

// A code file loaded for a download or a clone, with its labels checked.
struct Labelled
{
    codefile::Loaded file;
    QByteArray bytes; // the code file as read, when file.ok
    Check labels;     // None unless file.ok
};
Labelled load(const QString &codePath, const QString &refusal = codefile::invalidFile);

// Writes the labels beside the code file at codePath, stamped with the file's records and
// SHA-256 as the file is now, atomically. Unknown fields of an existing label file are kept
// unless labels carries its own. Refused when codePath is no regular file holding a code table.
bool write(const QString &codePath, const TableLabels &labels, QString *error);

// A save: the code file first; the label file only once the code file has been written.
struct Saved
{
    bool tableWritten = false;
    bool labelsWritten = false;
    QString error; // why the one that failed failed
};
Saved save(const QString &codePath, const CodeTable &table, const TableLabels &labels);

// Now, with the local offset, to the second: "2026-12-07T14:03:07+08:00".
QDateTime now();

// The free-text labels that are set, each as "名称：值" (brand, model, remote, notes, device).
QStringList namedFields(const TableLabels &labels);

// One line for a log: the free-text labels that are set and the save time; empty when none.
QString summary(const TableLabels &labels);

} // namespace labels
} // namespace irlearn
