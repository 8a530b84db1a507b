// Who holds UDP port 6454 on this machine: of the programs sharing it, only the one that bound
// it last on every address (or on this machine's own address) receives the unicast sent here,
// while a socket bound to a network's broadcast address receives no unicast at all. The window
// and the commands ask this before they bind, to say what they cannot see and to take nothing
// from another program.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>

namespace ArtNetPort {

enum class Held {
    Free,
    // Only sockets bound to broadcast addresses (a generator's answers to ArtPoll, a command
    // beside a window): none of them receives the unicast sent to this machine.
    BroadcastOnly,
    // A socket that receives unicast: bound to every address, or to one of this machine's own.
    Taken,
};

// What holds the port, from /proc/net/udp and /proc/net/udp6 as the kernel writes them (a header
// line, then one socket per line with its local address and port in hexadecimal). Any IPv6
// socket on the port counts as taking unicast: a dual-stack one takes IPv4's too.
Held holders(const QByteArray& udp, const QByteArray& udp6, quint16 port,
             const QList<QHostAddress>& broadcastAddresses);

// The broadcast addresses of the local IPv4 networks the node would send to, without the
// loopback network it falls back on when there is no other.
QList<QHostAddress> localBroadcastAddresses();

// Who holds the port now, as the kernel lists its sockets; where it lists none, a probe bind,
// which cannot tell a broadcast address from another. Ask before this process binds the port.
Held heldNow(const QList<QHostAddress>& broadcastAddresses);

} // namespace ArtNetPort
