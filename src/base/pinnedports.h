#pragma once

#include <QMap>
#include <QString>

namespace irlearn {

class Settings;

// The port numbers the settings pin to device paths (section "Ports", keys COM1 ... COM32).
QMap<int, QString> pinnedPorts(const Settings &settings);

} // namespace irlearn
