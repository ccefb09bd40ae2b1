#pragma once

#include "engine/operation.h"

#include <QString>

// How each outcome is named for scripts, told to people and ended with on the command line: one
// table, so that the three can never disagree.
namespace irlearn::outcomes {

struct Entry
{
    Outcome outcome;
    const char *word;    // the JSON "result" word
    const char *message; // one line for the operator when nothing more precise is known (UTF-8)
    int exitCode;        // irlearn-cli's exit status
};

// Exit statuses, as irlearn-cli documents them.
inline constexpr int exitDone = 0;
inline constexpr int exitFailed = 1;
inline constexpr int exitUsage = 2;
inline constexpr int exitPortOpen = 3;
inline constexpr int exitLost = 4;

const Entry &of(Outcome outcome);
QString word(Outcome outcome);
QString message(Outcome outcome);
int exitCode(Outcome outcome);

} // namespace irlearn::outcomes
