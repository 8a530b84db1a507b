// The node's own socket on UDP port 6454, as the transport the node uses unless it is given
// another: on systems with recvmmsg a descriptor the node opens, stamps and drains itself,
// elsewhere (or when built with CHRONOLUME_PORTABLE_SOCKET) a QUdpSocket.
#pragma once

#include "artnet.h"
#include "drain.h"

#include <QObject>
#include <QTimer>

#include <memory>

class QSocketNotifier;
class QUdpSocket;

namespace ArtNetReceive {

#if defined(Q_OS_LINUX) && !defined(CHRONOLUME_PORTABLE_SOCKET)
#define CHRONOLUME_OWN_DESCRIPTOR 1

// One descriptor, watched by one QSocketNotifier, read with recvmmsg until it is empty and
// written with sendto, so replies leave from the port the requests came to.
class DescriptorSocket : public ArtNetTransport
{
public:
    // port: 6454 for the node; another for a benchmark that reads beside a node. stamps: the
    // kernel's receive time stamps, or the time of the read for a comparison. address: the IPv4
    // address bound, every one (INADDR_ANY, 0) unless given.
    explicit DescriptorSocket(quint16 port = ArtNetPacket::kPort, bool stamps = true,
                              quint32 address = 0);
    ~DescriptorSocket() override;

    bool open(bool share, std::function<void()> ready) override;
    void close() override;
    void drain(const Receive& receive) override;
    qint64 send(const char* data, int size, const QHostAddress& to, quint16 port) override;
    quint64 kernelDrops() const override;
    // While datagrams keep coming, the notifier rests and a timer calls ready once per interval;
    // a read that finds nothing hands the socket back to the notifier.
    void setReadInterval(int milliseconds) override;

    int descriptor() const { return fd; }
    // Whether the kernel stamps this socket's datagrams.
    bool stamped() const { return stamping; }

private:
    int bound(bool share);
    // The notifier's wakeup: ready now, or after the rest of the read interval.
    void woken();
    // The paced read, once the interval has passed.
    void paced();
    void callReady();

    const quint16 port;
    const bool wantStamps;
    const quint32 address;
    bool stamping = false;
    int fd = -1;
    quint64 opens = 0;
    // Drops of the sockets closed before this one: the count goes on across a reopen.
    quint64 earlierDrops = 0;
    // Parent of the notifiers: one closed during its own wakeup goes once that has returned,
    // or with this at the latest.
    QObject notifiers;
    QSocketNotifier* notifier = nullptr;
    std::function<void()> ready;
    BatchReader batch;
    qint64 readIntervalNs = 0;
    qint64 lastReadNs = -1;
    quint64 handedOn = 0; // datagrams drained since the socket was made, to tell an empty read
    QTimer pace;
};
#endif

// A QUdpSocket, read until a read fails; the arrival is the time of the read and no drops are
// known.
class PortableSocket : public ArtNetTransport
{
public:
    // Bound to port of address, every IPv4 address unless given.
    explicit PortableSocket(quint16 port = ArtNetPacket::kPort,
                            const QHostAddress& address = QHostAddress(QHostAddress::AnyIPv4));
    ~PortableSocket() override;

    bool open(bool share, std::function<void()> ready) override;
    void close() override;
    void drain(const Receive& receive) override;
    qint64 send(const char* data, int size, const QHostAddress& to, quint16 port) override;

    int descriptor() const;

private:
    const quint16 port;
    const QHostAddress address;
    QUdpSocket* socket = nullptr;
    // A socket closed during its own readyRead goes once that returns to the event loop.
    bool draining = false;
    quint64 opens = 0;
    QByteArray buffer;
};

// The transport a node makes for itself.
std::unique_ptr<ArtNetTransport> makeNodeSocket();

} // namespace ArtNetReceive
