// Discovery of the local IPv4 networks: which addresses the node answers from and broadcasts to.
#include "interfaces.h"
#include "artnet.h"
#include "diagnostics.h"

#include <QNetworkInterface>

namespace InterfaceDiscovery {

namespace {

constexpr quint32 kLoopback = 0x7F000001;  // 127.0.0.1
constexpr quint32 kBroadcast = 0xFFFFFFFF; // 255.255.255.255
constexpr quint32 kAny = 0;                // 0.0.0.0
const QString kNoMac = QStringLiteral("00:00:00:00:00:00");

QNetworkAddressEntry loopbackFallback(const QHostAddress& ip)
{
    QNetworkAddressEntry entry;
    entry.setIp(ip);
    entry.setNetmask(QHostAddress(QStringLiteral("255.0.0.0")));
    entry.setBroadcast(QHostAddress(QStringLiteral("127.255.255.255")));
    return entry;
}

} // namespace

Result discover(const QList<Adapter>& adapters)
{
    Result result;
    auto line = [&result](const QString& text) { result.writes.append(Write{text, true}); };

    QNetworkAddressEntry loopback;
    loopback.setIp(QHostAddress(kAny));

    for (const Adapter& adapter : adapters) {
        for (const QNetworkAddressEntry& entry : adapter.addresses) {
            const QHostAddress ip = entry.ip();
            const QString ipText = ip.toString();

            if (ip.protocol() == QAbstractSocket::IPv6Protocol) {
                line(QStringLiteral("found IpV6 - ") + ipText + QStringLiteral(" dont' use it"));
                continue;
            }
            if (ip.protocol() != QAbstractSocket::IPv4Protocol) {
                line(QStringLiteral("found unknown Ip - ") + ipText +
                     QStringLiteral(" dont' use it"));
                continue;
            }
            if (ip.isNull()) {
                line(QStringLiteral("addr.isNull() found, is invalid, do not use it"));
                continue;
            }
            // Qt 6 no longer treats 0.0.0.0 as equal to QHostAddress::Any, so the special
            // IPv4 addresses are compared as numbers.
            const quint32 ipValue = ip.toIPv4Address();
            if (ipValue == kLoopback || ipValue == kBroadcast || ipValue == kAny) {
                if (ipValue == kLoopback) {
                    loopback = entry;
                    line(QStringLiteral("found IpV4 - ") + ipText +
                         QStringLiteral(" memory for later"));
                } else {
                    line(QStringLiteral("found IpV4 - ") + ipText +
                         QStringLiteral(" do not use it"));
                }
                continue;
            }

            const QString found =
                QStringLiteral("found IpV4 - %1  Mask: %2 Broad: %3")
                    .arg(ipText, entry.netmask().toString(), entry.broadcast().toString());
            if (entry.netmask().toIPv4Address() == 0) {
                line(found + QStringLiteral("don't add because invalid netmask"));
                continue;
            }
            // Point-to-point links have no broadcast address to send ArtPoll and ArtDmx to.
            if (entry.broadcast().toIPv4Address() == 0) {
                line(found + QStringLiteral("don't add because invalid broadcast"));
                continue;
            }
            if (ipValue == 0) {
                line(found + QStringLiteral("don't add because invalid ip"));
                continue;
            }
            const QString mac =
                adapter.hardwareAddress.isEmpty() ? kNoMac : adapter.hardwareAddress;
            line(found + QStringLiteral("add to send/receive list with") + mac);
            result.entries.append(InterfaceEntry{entry, mac});
        }
    }

    // Without any usable network the node still works on loopback, so that programs on the
    // same machine can reach it.
    if (result.entries.isEmpty()) {
        if (loopback.ip().toIPv4Address() == kLoopback) {
            result.entries.append(InterfaceEntry{loopbackFallback(loopback.ip()), kNoMac});
            result.writes.append(
                Write{QStringLiteral("found IpV4 - ") + loopback.ip().toString() +
                          QStringLiteral(" broadcast ") + loopback.broadcast().toString() +
                          QStringLiteral(" netmask ") + loopback.netmask().toString() +
                          QStringLiteral(" do not use it\n"),
                      false});
        } else {
            result.entries.append(
                InterfaceEntry{loopbackFallback(QHostAddress(QHostAddress::LocalHost)), kNoMac});
        }
    }
    return result;
}

QList<Adapter> systemAdapters()
{
    QList<Adapter> adapters;
    // Flags (up, running, loopback) are deliberately not consulted: an adapter that is down
    // with a configured address comes up with that same network.
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : all)
        adapters.append(Adapter{interface.hardwareAddress(), interface.addressEntries()});
    return adapters;
}

} // namespace InterfaceDiscovery

bool artnet::discoverInterfaces()
{
    if (interfacesKnown)
        return true;
    if (!interfaces)
        interfaces = new QList<InterfaceEntry>;

    const InterfaceDiscovery::Result result =
        InterfaceDiscovery::discover(InterfaceDiscovery::systemAdapters());
    for (const InterfaceDiscovery::Write& write : result.writes) {
        if (write.isLine)
            ArtNetOutput::line(write.text);
        else
            ArtNetOutput::text(write.text, false);
    }
    interfaces->append(result.entries);

    interfacesKnown = true;
    return true;
}
