#pragma once

#include <QString>
#include <array>

namespace irlearn {

// The record table: slot i holds record i + 1 of the device's code table as upper-case hex text.
// Seventeen slots, not sixteen: a code file's 17th line lands in slot 16, which is never sent or
// saved.
using CodeTable = std::array<QString, 17>;

constexpr int tableRecords = 16;

// Every record sent to the device is this many bytes, two hexadecimal digits each in a file.
constexpr int recordBytes = 257;
constexpr int recordDigits = 2 * recordBytes;

} // namespace irlearn
