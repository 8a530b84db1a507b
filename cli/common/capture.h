// Listening by packet capture: every Art-Net datagram that reaches this machine, seen without
// taking it from the program that holds UDP port 6454, and handed to a node as if its own
// socket had read it.
#pragma once

#include "artnet.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <array>

class QSocketNotifier;
struct pcap;
struct pcap_pkthdr;

namespace Capture {

// Which way a captured frame went, where its link layer says: the Linux cooked headers of device
// "any" carry the packet type, Ethernet and raw IP frames nothing.
enum class Way {
    Unknown,
    Arriving, // to this machine: to its address, broadcast, multicast, or another host's seen
    Leaving,  // sent by this machine
};

// An Art-Net datagram found in a captured frame.
struct Datagram
{
    const char* data = nullptr; // into the frame
    int size = 0;
    quint32 sourceIp = 0;
    quint16 sourcePort = 0;
    Way way = Way::Unknown;
};

// The UDP payload to port 6454 in one captured frame of the given link type (a libpcap DLT_
// value): Ethernet (VLAN tagged or not), Linux cooked v1 and v2, raw IPv4. False for anything
// else, a fragment, or a frame cut short before the UDP header.
bool artNetDatagram(int linkType, const unsigned char* frame, int length, Datagram* out);

// One datagram captured twice counts once. Device "any" sees a datagram that leaves this machine
// and arrives at it again (a broadcast from one end of a veth pair whose other end is this
// machine's too) once each way: a copy the other way of one seen before, the same bytes from the
// same address and port within kWindowNs, is that datagram again, and each copy pairs with one
// other only. Copies the same way are never one: a sender that sends every frame twice sends them
// that way, however close together. A datagram that only leaves (to another host, or a broadcast,
// whose way back to this machine's own sockets the capture never shows) counts once, leaving.
class Repeats
{
public:
    static constexpr qint64 kWindowNs = 1'000'000;
    // True when this copy is the other way of one seen less than kWindowNs apart and not yet
    // paired; remembers it otherwise. A copy whose way is unknown is never a repeat.
    bool seen(const char* data, int size, quint32 ip, quint16 port, Way way, qint64 arrivalNs);

private:
    struct Sighting
    {
        size_t hash = 0;
        int size = -1;
        quint32 ip = 0;
        quint16 port = 0;
        Way way = Way::Unknown;
        bool paired = false;
        qint64 atNs = 0;
    };
    std::array<Sighting, 32> recent{};
    size_t next = 0;
};

// A capture's time stamp (wall clock) on the steady clock the node uses, from the two clocks
// read together: the time that passed since the stamp, taken from now on the steady clock. A
// stamp from the future (the wall clock was set back) counts as now.
qint64 steadyArrivalNs(qint64 stampRealNs, qint64 nowRealNs, qint64 nowSteadyNs);

// What the capture takes, in the kernel: datagrams to port 6454 except the DMX data (ArtDmx and
// ArtNzs, by their OpCode), which no command reads and which is nearly all of a show network's
// Art-Net. Left in, a flood of it overran the capture's buffer and took timecode with it.
inline constexpr char kFilter[] =
    "udp dst port 6454 and not (udp[16:2] = 0x0050 or udp[16:2] = 0x0051)";

// Captures what kFilter admits on one interface ("any": all of them) and is the node's transport:
// every Art-Net datagram among it reaches the node as its own socket's would, on the node's
// thread, through its event loop. What the node sends leaves from a UDP port of the capture's
// own, so that port 6454 stays with whoever holds it; answers to a poll come to port 6454 and are
// captured with the rest.
class Listener : public ArtNetTransport
{
public:
    enum class Opened { Capturing, NoPermission, Failed };

    explicit Listener(const QString& interface);
    ~Listener() override;
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Starts the capture, the system's words in *error when it cannot. The node's open starts it
    // too, if it was not started.
    Opened start(QString* error);

    bool open(bool share, std::function<void()> ready) override;
    void close() override;
    void drain(const Receive& receive) override;
    qint64 send(const char* data, int size, const QHostAddress& to, quint16 port) override;
    // Datagrams the kernel dropped because the capture's buffer was full.
    quint64 kernelDrops() const override;

private:
    void take(const unsigned char* frame, int length, qint64 stampRealNs);
    static void onFrame(unsigned char* user, const pcap_pkthdr* header, const unsigned char* frame);

    const QByteArray device;
    pcap* handle = nullptr;
    QSocketNotifier* notifier = nullptr;
    int linkType = -1;
    int sendSocket = -1;
    Repeats repeats;
    // During a drain: where the datagrams go, and whether the node wants more of them.
    const Receive* receiving = nullptr;
    bool receiverDone = false;
    QHostAddress from; // reused: an address per datagram would allocate
    // Both clocks, read before each round of reading.
    qint64 nowRealNs = 0;
    qint64 nowSteadyNs = 0;
};

} // namespace Capture
