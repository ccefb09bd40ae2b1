#pragma once

#include "serial/portinfo.h"

#include <QList>
#include <QString>

namespace irlearn {

// Which USB adapter a port is, whatever /dev name the system gives it this time: an adapter
// unplugged and plugged in again may come back as ttyUSB1 instead of ttyUSB0. Only an adapter
// with a serial number can be told from others of its kind; without one the identity is empty.
struct PortIdentity
{
    QString usbId; // "vvvv:pppp"
    QString serialNumber;
    bool isEmpty() const { return usbId.isEmpty() || serialNumber.isEmpty(); }
    bool operator==(const PortIdentity &other) const
    {
        return usbId == other.usbId && serialNumber == other.serialNumber;
    }
};

PortIdentity identityOf(const PortDetails &port);

// Where to reopen a port that went away: the one port among `ports` (the system's listing) that
// carries identity, else `byName` (what the operator's name for the port leads to now) unless
// the system lists another adapter there. Empty when nothing is to be opened: two ports carry
// the identity (adapters with a copied serial number cannot be told apart), or the name now
// leads to someone else's adapter.
QString relocatePort(const PortIdentity &identity, const QString &byName,
                     const QList<PortDetails> &ports);

} // namespace irlearn
