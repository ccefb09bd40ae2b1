#pragma once

#include <QString>

// Number and text helpers shared by every layer. Every byte the program exchanges with the device
// is held as two upper-case hexadecimal digits; these build them.
namespace irlearn {

// Remainder of x (rounded, halves up) divided by m (rounded), truncated division: the result has
// the sign of the rounded x. A divisor that rounds to 0 is the caller's fault (asserted).
int roundedRemainder(double x, int m);

// Upper-case hexadecimal digits of x without leading zeros; empty for 0 and for negative x.
// Only the lowest digit sees the rounding of a fraction (15.5 gives "0").
QString hexDigits(double x);

// s without leading and trailing spaces (spaces only), then left-filled with '0' to n characters,
// or cut to its rightmost n characters. n must not be negative.
QString zeroPadded(const QString &s, int n);

// The number that the leading characters of a text spell: leading blanks skipped, an optional
// sign, digits, an optional fraction. 0 when they spell none ("abcd", "", "-").
double textValue(const QString &text);

} // namespace irlearn
