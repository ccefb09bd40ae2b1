#include "serial/pinnedports.h"

#include "base/settings.h"
#include "serial/portnames.h"

namespace irlearn {

QMap<int, QString> pinnedPorts(const Settings &settings)
{
    QMap<int, QString> pinned;
    for (int n = 1; n <= PortNames::maxPort; ++n) {
        const QString path = settings.readValue(Settings::portsSection, comName(n), QString());
        if (!path.isEmpty())
            pinned.insert(n, path);
    }
    return pinned;
}

} // namespace irlearn
