#pragma once

#include <QString>
#include <QStringList>

// The commands a learning device stores: numbered 1 to 108, of which the first ten are the
// air-conditioner keys. Code tables, their labels and the protocol all speak of them.
namespace irlearn::commands {

constexpr int maxCommand = 108;
constexpr int keyCount = 10;
// The ten air-conditioner keys, by index, under the names the window's keys carry.
const QStringList &keyNames();

// The command number in an operator's text: whole decimal text from 1 to 108, leading zeros
// allowed ("007" is 7); 0 for anything else (a fraction would become a neighbouring code).
int commandNumber(const QString &text);

} // namespace irlearn::commands
