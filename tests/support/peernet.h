// The far side of the two veth networks that netns-run --veth makes: a socket in the peer
// namespace stands for the other hosts on the node's local networks.
#pragma once

#include "traffic.h"

#include <QHostAddress>
#include <QList>
#include <QNetworkDatagram>
#include <QStringList>
#include <QUdpSocket>

#include <memory>

class artnet;

namespace TestSupport {

struct VethNetwork
{
    const char* name; // our end
    QHostAddress local;
    QHostAddress broadcast;
    QHostAddress peer;
};
extern const VethNetwork kVeth0; // clt0 192.168.50.5/24 <-> clp0 192.168.50.1
extern const VethNetwork kVeth1; // clt1 10.60.0.2/16 <-> clp1 10.60.0.1

// The hardware address of one of our interfaces as the kernel has it, read without Qt, in Qt's
// form "00:1A:2B:3C:4D:5E"; empty when there is no such interface.
QString hardwareAddress(const char* interfaceName);

// "sender:port -> destination hex" per datagram, so that a failed comparison shows all of it.
QStringList describe(const QList<QNetworkDatagram>& datagrams);
// The same for a datagram the node sends from port 6454 of its address on the network of to.
QString fromNode(const QHostAddress& to, const QByteArray& data);

// A host on both veth networks, on port 6454; bound to the wildcard address it hears broadcasts.
class PeerSocket
{
public:
    PeerSocket();
    QString error; // why the socket could not be opened; empty when it is open

    // Runs the event loop (so the node goes on working) until count datagrams have come or
    // 3 s have passed, then settleMs longer for any that should not come.
    QList<QNetworkDatagram> receive(int count, int settleMs = 100);

    QUdpSocket socket;
};

// Opens the peer socket and makes a fresh node, whose discovery lines other tests check, out of
// sight. Returns why the peer socket could not be opened; empty on success.
QString openPeerAndNode(std::unique_ptr<PeerSocket>& peer, std::unique_ptr<artnet>& node);

} // namespace TestSupport
