// The far side of the test's veth networks: sockets in the peer namespace that netns-run --veth
// makes, where they stand for other hosts on the node's local networks, and the addresses of
// both sides.
#pragma once

#include "traffic.h"

#include <QHostAddress>
#include <QList>
#include <QNetworkDatagram>
#include <QString>
#include <QUdpSocket>

namespace TestSupport {

// The two networks of netns-run --veth: our end (clt0, clt1) and the peer's end (clp0, clp1).
struct VethNetwork
{
    const char* name; // our interface
    QHostAddress local;
    QHostAddress netmask;
    QHostAddress broadcast;
    QHostAddress peer;
};
extern const VethNetwork kVeth0; // clt0 192.168.50.5/24 <-> clp0 192.168.50.1
extern const VethNetwork kVeth1; // clt1 10.60.0.2/16 <-> clp1 10.60.0.1

// The hardware address of one of our interfaces as the kernel reports it, in Qt's form
// ("00:1A:2B:3C:4D:5E"), read without Qt; empty when the interface does not exist.
QString hardwareAddress(const char* interfaceName);

// Opens a UDP socket inside the peer namespace (the path in CHRONOLUME_PEER_NETNS), bound to
// address:port with SO_REUSEADDR and SO_BROADCAST and reporting each datagram's destination
// address. Returns the descriptor, or -1 with the reason in *error.
int openPeerSocket(const QHostAddress& address, quint16 port, QString* error);

// A host on the far side of the veth networks. Bound to the wildcard address it also hears
// broadcasts; destinationAddress() tells them from datagrams sent to the peer itself.
class PeerSocket
{
public:
    explicit PeerSocket(const QHostAddress& address = QHostAddress(QHostAddress::AnyIPv4),
                        quint16 port = kArtNetPort);
    bool isOpen() const { return open; }
    QString error() const { return problem; }

    // Runs the event loop (so the node under test goes on working) until count datagrams have
    // arrived in all or timeoutMs has passed; returns every datagram received, in order.
    QList<QNetworkDatagram> receive(int count, int timeoutMs = 3000);
    // Everything that arrives within ms milliseconds, running the event loop meanwhile.
    QList<QNetworkDatagram> receiveFor(int ms);

    QUdpSocket socket;

private:
    void take(QList<QNetworkDatagram>* into);
    bool open = false;
    QString problem;
};

} // namespace TestSupport
