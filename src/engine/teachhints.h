#pragma once

#include <QString>

// What the operator is told while teaching a device an air conditioner's remote control: which
// button of the remote to press, and how to set the remote first. An air conditioner's remote
// sends its whole state with every press, so the press that is learnt must be the one after which
// the remote shows the state the key stands for.
namespace irlearn::teachhints {

// Said once, before the first key.
extern const QString general;

// The remote control's button to press for key 0 to 9 ("温度「－」键" for 20℃).
QString button(int key);
// One line on how to set the remote before pressing it.
QString keyHint(int key);
// For a numbered command, which has no fixed meaning.
QString commandHint();

// The prompt naming what to press: for key 0 to 9, or for numbered command 1 to 108.
QString keyPrompt(int key);
QString commandPrompt(int number);

} // namespace irlearn::teachhints
