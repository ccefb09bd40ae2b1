#pragma once

namespace irlearn {

// The device's line: 9600 baud, and each byte a start bit, eight data bits and a stop bit.
constexpr int lineBaud = 9600;
constexpr double lineByteMs = 10.0 * 1000.0 / lineBaud;

} // namespace irlearn
