#include "portholders.h"

#include "interfaces.h"
#include "packets.h"

#include <QFile>
#include <QUdpSocket>
#include <QtEndian>

namespace ArtNetPort {

Held holders(const QByteArray& udp, const QByteArray& udp6, quint16 port,
             const QList<QHostAddress>& broadcastAddresses)
{
    Held held = Held::Free;
    const auto scan = [&](const QByteArray& table, bool ipv6) {
        const QList<QByteArray> lines = table.split('\n');
        // The first line names the columns.
        for (qsizetype i = 1; i < lines.size(); ++i) {
            // "sl local_address rem_address st ...", the local address as ADDRESS:PORT.
            const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
            if (fields.size() < 2)
                continue;
            const QByteArray& local = fields.at(1);
            const qsizetype colon = local.lastIndexOf(':');
            bool ok = false;
            if (colon < 0 || local.mid(colon + 1).toUInt(&ok, 16) != port || !ok)
                continue;
            if (ipv6) {
                held = Held::Taken;
                continue;
            }
            // The address as the kernel keeps it, in network order, written as a number of
            // this machine's.
            const quint32 address = qFromBigEndian(local.left(colon).toUInt(&ok, 16));
            const QHostAddress bound(address);
            if (ok && (broadcastAddresses.contains(bound) || bound == QHostAddress::Broadcast)) {
                if (held == Held::Free)
                    held = Held::BroadcastOnly;
            } else {
                held = Held::Taken;
            }
        }
    };
    scan(udp, false);
    scan(udp6, true);
    return held;
}

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

Held heldNow(const QList<QHostAddress>& broadcastAddresses)
{
    QFile udp(QStringLiteral("/proc/net/udp"));
    if (!udp.open(QIODevice::ReadOnly)) {
        // A bind that shares with nobody fails beside any socket on the port, whatever its
        // address: where the kernel lists no sockets, that is all there is to ask.
        QUdpSocket probe;
        return probe.bind(QHostAddress::AnyIPv4, ArtNetPacket::kPort,
                          QAbstractSocket::DontShareAddress)
                   ? Held::Free
                   : Held::Taken;
    }
    QFile udp6(QStringLiteral("/proc/net/udp6"));
    const QByteArray ipv6 = udp6.open(QIODevice::ReadOnly) ? udp6.readAll() : QByteArray();
    return holders(udp.readAll(), ipv6, ArtNetPacket::kPort, broadcastAddresses);
}

} // namespace ArtNetPort
