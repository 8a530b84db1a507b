#include "common/localnetworks.h"
#include "common/console.h"
#include "common/exitstatus.h"

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

QList<QHostAddress> sendingDestinations(const QString& command, const QList<QHostAddress>& given,
                                        int* status)
{
    const QList<QHostAddress> broadcast = localBroadcastAddresses();
    if (given.isEmpty()) {
        QStringList listed;
        for (const QHostAddress& address : broadcast)
            listed.append(address.toString());
        Console::error(
            CliText::tr("%1: give --to ADDRESS (--to 127.0.0.1 for this machine), or --to "
                        "broadcast for every local network's broadcast address (%2)")
                .arg(command, listed.isEmpty() ? CliText::tr("there is none")
                                               : listed.join(QStringLiteral(", "))));
        *status = ExitStatus::kUsage;
        return {};
    }
    QList<QHostAddress> destinations;
    for (const QHostAddress& address : given) {
        const QList<QHostAddress> add = address.isNull() ? broadcast : QList<QHostAddress>{address};
        for (const QHostAddress& a : add) {
            if (!destinations.contains(a))
                destinations.append(a);
        }
    }
    if (destinations.isEmpty()) {
        Console::error(CliText::tr("%1: no local IPv4 network to broadcast to; give --to ADDRESS "
                                   "(--to 127.0.0.1 for this machine)")
                           .arg(command));
        *status = ExitStatus::kFailure;
    }
    return destinations;
}
