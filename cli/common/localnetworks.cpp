#include "common/localnetworks.h"
#include "common/console.h"
#include "common/exitstatus.h"

#include "interfaces.h"
#include "portholders.h"

QList<QHostAddress> sendingDestinations(const QString& command, const QList<QHostAddress>& given,
                                        int* status)
{
    const QList<QHostAddress> broadcast = ArtNetPort::localBroadcastAddresses();
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
