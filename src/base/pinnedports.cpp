#include "base/pinnedports.h"

#include "base/settings.h"

namespace irlearn {

QMap<int, QString> pinnedPorts(const Settings &settings)
{
    QMap<int, QString> pinned;
    for (int n = 1; n <= 32; ++n) {
        const QString path =
            settings.readValue(Settings::portsSection, QStringLiteral("COM%1").arg(n), QString());
        if (!path.isEmpty())
            pinned.insert(n, path);
    }
    return pinned;
}

} // namespace irlearn
