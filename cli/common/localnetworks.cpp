#include "common/localnetworks.h"

#include "interfaces.h"

QList<QHostAddress> localBroadcastAddresses()
{
    const InterfaceDiscovery::Result found =
        InterfaceDiscovery::discover(InterfaceDiscovery::systemAdapters());
    QList<QHostAddress> addresses;
    for (const InterfaceEntry& entry : found.entries) {
        // Discovery never lists a loopback address as a network of its own; one in the list is
        // the stand-in for "no network at all".
        if (entry.address.ip().isLoopback())
            continue;
        const QHostAddress broadcast = entry.address.broadcast();
        if (!addresses.contains(broadcast))
            addresses.append(broadcast);
    }
    return addresses;
}
