#include "serial/portidentity.h"

#include "base/regularfile.h"

namespace irlearn {

PortIdentity identityOf(const PortDetails &port)
{
    return {port.usbId, port.serialNumber};
}

QString relocatePort(const PortIdentity &identity, const QString &byName,
                     const QList<PortDetails> &ports)
{
    if (identity.isEmpty())
        return byName;
    QStringList carrying;
    for (const PortDetails &port : ports)
        if (identityOf(port) == identity)
            carrying << port.path;
    if (carrying.size() == 1)
        return carrying.first();
    if (carrying.size() > 1 || byName.isEmpty())
        return QString();
    const QString named = canonicalPath(byName);
    for (const PortDetails &port : ports)
        if (port.path == named && !identityOf(port).isEmpty())
            return QString();
    return byName;
}

} // namespace irlearn
