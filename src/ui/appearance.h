#pragma once

#include <QFont>
#include <QIcon>

namespace irlearn {

// 宋体 10.5 pt where it is installed (Windows), otherwise a Song-style CJK font, otherwise any
// CJK font the system has.
QFont appFont();
// The log pane's: the same face, drawn without smoothing.
QFont logFont();

// Qt's own texts (message box buttons, the file dialogs) in Chinese, from the system's Qt
// translations; false where they are not installed, and the texts stay English.
bool installQtTranslations();

// The program's icon, drawn at 16 to 128 pixels.
QIcon appIcon();

} // namespace irlearn
