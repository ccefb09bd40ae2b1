#pragma once

#include <QMap>
#include <QString>

namespace irlearn {

class Settings;

// The port numbers the settings pin to device paths (section "Ports", keys COM1 ... up to
// PortNames::maxPort).
QMap<int, QString> pinnedPorts(const Settings &settings);

} // namespace irlearn
