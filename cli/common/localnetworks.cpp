#include "common/localnetworks.h"
#include "common/console.h"

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

QList<QHostAddress> sendingDestinations(const QString& command, const QList<QHostAddress>& given)
{
    if (!given.isEmpty())
        return given;
    const QList<QHostAddress> broadcast = localBroadcastAddresses();
    if (broadcast.isEmpty())
        Console::error(CliText::tr("%1: no local IPv4 network to broadcast to; give --to ADDRESS "
                                   "(--to 127.0.0.1 for this machine)")
                           .arg(command));
    return broadcast;
}
