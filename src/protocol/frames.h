#pragma once

#include "base/commandnames.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The device's frames as hex text. No frame has a start byte, length, checksum or terminator: a
// frame is exactly these bytes. `dev` is the device number box's text, trimmed.
namespace irlearn::frames {

// Reply tags: what the awaited reply means.
inline const QString tagLearn = QStringLiteral("xxzl");     // learning result
inline const QString tagCommand = QStringLiteral("getcmd"); // plain acknowledgement
inline const QString tagRecord = QStringLiteral("getcode"); // a record of the code table
inline const QString tagStore = QStringLiteral("setcode");  // download acknowledgement

inline const QString learnOnEcho = QStringLiteral("F0");
inline const QString learnOffEcho = QStringLiteral("F2");
inline const QString learnt = QStringLiteral("00");

// The second and third frames of both transfer openings, and the next-record request.
inline const QString openSelect = QStringLiteral("40");
inline const QString openStart = QStringLiteral("50");
inline const QString nextRecord = QStringLiteral("00");

QString learningModeOn(const QString &dev);  // dev F0
QString learningModeOff(const QString &dev); // dev F2

// Code of the air-conditioner key with Index i (0 to 9): i + 64, two hex digits.
QString keyCode(int index);
// Code of numbered command n (1 to 108): n + 63, two hex digits.
QString commandCode(int number);
QString keyFrame(const QString &dev, int index);      // dev code
QString commandFrame(const QString &dev, int number); // dev code

QString setDeviceNumber(const QString &dev); // FD dev

// The device number fitted to exactly four characters, as the transfer openings send it.
QString fitted(const QString &dev);
QString readSelect(const QString &dev);     // dev4 ED
QString downloadSelect(const QString &dev); // dev4 DD

// A device number the learning frames can carry: exactly four decimal digits.
bool isDeviceNumber(const QString &dev);

// The device's commands, as the protocol numbers them (base/commandnames.h).
using commands::commandNumber;
using commands::keyCount;
using commands::keyNames;
using commands::maxCommand;

// Digit pairs to bytes: a pair is read as hex up to its first non-hex character (a pair that
// starts with one gives 0); an odd trailing digit becomes a byte of its own.
QByteArray toBytes(const QString &text);
// Bytes to upper-case digit pairs.
QString toText(const QByteArray &bytes);

} // namespace irlearn::frames
