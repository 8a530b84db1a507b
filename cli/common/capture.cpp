#include "common/capture.h"

#include "artnet.h"
#include "packets.h"

#include <QHostAddress>
#include <QSocketNotifier>

#include <pcap/pcap.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <string_view>

namespace Capture {

namespace {

constexpr int kEthernetHeader = 14;
constexpr int kVlanTag = 4;
constexpr int kCookedHeader = 16;
constexpr int kCooked2Header = 20;
// The packet type, the Linux kernel's PACKET_ value, in the cooked headers.
constexpr int kCookedPacketType = 0; // two bytes
constexpr int kCooked2PacketType = 10;
constexpr int kPacketOutgoing = 4;
constexpr int kPacketOtherHost = 3; // host 0, broadcast 1, multicast 2: all arrive
constexpr quint16 kEtherTypeIpv4 = 0x0800;
constexpr quint16 kEtherTypeVlan = 0x8100;
constexpr int kIpv4MinHeader = 20;
constexpr int kUdpHeader = 8;
constexpr quint8 kProtocolUdp = 17;
// Link types by their registered numbers, which every libpcap gives the same.
constexpr int kLinkRaw = 101;
constexpr int kLinkIpv4 = 228;
// Larger than any Art-Net packet with every header before it. The kernel's buffer holds frames of
// this size: the largest possible (loopback's 64 KiB) left room for only 64 of them.
constexpr int kSnapLength = 2048;
constexpr int kBufferBytes = 4 * 1024 * 1024;
constexpr int kRoundsPerWakeup = 16;

quint16 be16(const unsigned char* p)
{
    return quint16((p[0] << 8) | p[1]);
}

quint32 be32(const unsigned char* p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

qint64 clockNs(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

Way wayOf(int packetType)
{
    if (packetType == kPacketOutgoing)
        return Way::Leaving;
    return packetType >= 0 && packetType <= kPacketOtherHost ? Way::Arriving : Way::Unknown;
}

} // namespace

bool artNetDatagram(int linkType, const unsigned char* frame, int length, Datagram* out)
{
    if (!frame || !out || length <= 0)
        return false;
    int ip = 0;
    quint16 etherType = kEtherTypeIpv4;
    Way way = Way::Unknown;
    switch (linkType) {
    case DLT_EN10MB:
        if (length < kEthernetHeader)
            return false;
        etherType = be16(frame + 12);
        ip = kEthernetHeader;
        if (etherType == kEtherTypeVlan) {
            if (length < kEthernetHeader + kVlanTag)
                return false;
            etherType = be16(frame + 16);
            ip += kVlanTag;
        }
        break;
    case DLT_LINUX_SLL:
        if (length < kCookedHeader)
            return false;
        etherType = be16(frame + 14);
        way = wayOf(be16(frame + kCookedPacketType));
        ip = kCookedHeader;
        break;
    case DLT_LINUX_SLL2:
        if (length < kCooked2Header)
            return false;
        etherType = be16(frame);
        way = wayOf(frame[kCooked2PacketType]);
        ip = kCooked2Header;
        break;
    case DLT_RAW:
    case kLinkRaw:
    case kLinkIpv4:
        break;
    default:
        return false;
    }
    if (etherType != kEtherTypeIpv4 || length - ip < kIpv4MinHeader)
        return false;
    const unsigned char* header = frame + ip;
    const int headerLength = (header[0] & 0x0F) * 4;
    if ((header[0] >> 4) != 4 || headerLength < kIpv4MinHeader || header[9] != kProtocolUdp)
        return false;
    // Only whole datagrams: a fragment's offset or "more fragments" flag.
    if ((be16(header + 6) & 0x3FFF) != 0)
        return false;
    const int totalLength = qMin<int>(be16(header + 2), length - ip);
    if (totalLength < headerLength + kUdpHeader)
        return false;
    const unsigned char* udp = header + headerLength;
    if (be16(udp + 2) != ArtNetPacket::kPort)
        return false;
    const int udpLength = be16(udp + 4);
    if (udpLength < kUdpHeader)
        return false;
    out->data = reinterpret_cast<const char*>(udp + kUdpHeader);
    out->size = qMin(udpLength, totalLength - headerLength) - kUdpHeader;
    out->sourceIp = be32(header + 12);
    out->sourcePort = be16(udp);
    out->way = way;
    return true;
}

bool Repeats::seen(const char* data, int size, quint32 ip, quint16 port, Way way, qint64 arrivalNs)
{
    if (way == Way::Unknown)
        return false;
    const size_t hash = std::hash<std::string_view>{}(std::string_view(data, size_t(size)));
    for (Sighting& s : recent) {
        if (s.way != Way::Unknown && s.way != way && !s.paired && s.size == size &&
            s.hash == hash && s.ip == ip && s.port == port &&
            qAbs(arrivalNs - s.atNs) < kWindowNs) {
            s.paired = true;
            return true;
        }
    }
    recent[next] = Sighting{hash, size, ip, port, way, false, arrivalNs};
    next = (next + 1) % recent.size();
    return false;
}

qint64 steadyArrivalNs(qint64 stampRealNs, qint64 nowRealNs, qint64 nowSteadyNs)
{
    return nowSteadyNs - qMax<qint64>(0, nowRealNs - stampRealNs);
}

Listener::Listener(const QString& interface) : device(interface.toLocal8Bit()) {}

Listener::~Listener()
{
    close();
}

quint64 Listener::kernelDrops() const
{
    pcap_stat stats{};
    if (!handle || pcap_stats(handle, &stats) != 0)
        return 0;
    return quint64(stats.ps_drop) + quint64(stats.ps_ifdrop);
}

Listener::Opened Listener::start(QString* error)
{
    if (handle)
        return Opened::Capturing;
    char message[PCAP_ERRBUF_SIZE] = {};
    handle = pcap_create(device.constData(), message);
    const auto fail = [&](Opened how, const QString& why) {
        if (error)
            *error = why;
        if (handle)
            pcap_close(handle);
        handle = nullptr;
        return how;
    };
    if (!handle)
        return fail(Opened::Failed, QString::fromLocal8Bit(message));
    pcap_set_snaplen(handle, kSnapLength);
    // Each datagram as it comes, not a block of them once the kernel's buffer fills.
    pcap_set_immediate_mode(handle, 1);
    pcap_set_buffer_size(handle, kBufferBytes);
    pcap_set_tstamp_precision(handle, PCAP_TSTAMP_PRECISION_NANO);
    const int activated = pcap_activate(handle);
    if (activated == PCAP_ERROR_PERM_DENIED)
        return fail(Opened::NoPermission, QString::fromLocal8Bit(pcap_geterr(handle)));
    if (activated < 0)
        return fail(Opened::Failed, QString::fromLocal8Bit(pcap_geterr(handle)));
    bpf_program filter{};
    if (pcap_compile(handle, &filter, kFilter, 1, PCAP_NETMASK_UNKNOWN) != 0)
        return fail(Opened::Failed, QString::fromLocal8Bit(pcap_geterr(handle)));
    const int set = pcap_setfilter(handle, &filter);
    pcap_freecode(&filter);
    if (set != 0 || pcap_setnonblock(handle, 1, message) != 0)
        return fail(Opened::Failed, QString::fromLocal8Bit(pcap_geterr(handle)));
    if (pcap_get_selectable_fd(handle) < 0)
        return fail(Opened::Failed, QStringLiteral("the capture cannot be waited on"));
    linkType = pcap_datalink(handle);
    return Opened::Capturing;
}

bool Listener::open(bool, std::function<void()> ready)
{
    if (notifier)
        return true;
    if (start(nullptr) != Opened::Capturing)
        return false;
    notifier = new QSocketNotifier(qintptr(pcap_get_selectable_fd(handle)), QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [ready = std::move(ready)] { ready(); });
    return true;
}

void Listener::close()
{
    // From inside a drain too: the frames still in the round go nowhere.
    receiverDone = true;
    if (handle && receiving)
        pcap_breakloop(handle);
    if (notifier) {
        notifier->setEnabled(false);
        // Inside its own call, a notifier must outlive the call.
        if (receiving)
            notifier->deleteLater();
        else
            delete notifier;
        notifier = nullptr;
    }
    if (handle && !receiving) {
        pcap_close(handle);
        handle = nullptr;
    }
    if (sendSocket >= 0) {
        ::close(sendSocket);
        sendSocket = -1;
    }
}

void Listener::drain(const Receive& receive)
{
    // Until the capture holds nothing more, but a bounded number of rounds: under a flood the
    // event loop must still get to its timers (the redraw, the stop), and the notifier, level
    // triggered, calls again for what is left.
    receiving = &receive;
    receiverDone = false;
    for (int round = 0; round < kRoundsPerWakeup && handle && !receiverDone; ++round) {
        // Both clocks before each round: every datagram it hands over came before them.
        nowRealNs = clockNs(CLOCK_REALTIME);
        nowSteadyNs = artNetNowNs();
        if (pcap_dispatch(handle, -1, &Listener::onFrame, reinterpret_cast<unsigned char*>(this)) <=
            0)
            break;
    }
    receiving = nullptr;
    // Closed by the node while the round was in progress.
    if (handle && !notifier && receiverDone) {
        pcap_close(handle);
        handle = nullptr;
    }
}

qint64 Listener::send(const char* data, int size, const QHostAddress& to, quint16 port)
{
    if (sendSocket < 0) {
        sendSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        if (sendSocket >= 0 &&
            ::setsockopt(sendSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
            ::close(sendSocket);
            sendSocket = -1;
        }
        if (sendSocket < 0)
            return -1;
    }
    return artNetSendTo(sendSocket, data, size, to, port);
}

void Listener::onFrame(unsigned char* user, const pcap_pkthdr* header, const unsigned char* frame)
{
    // Cut short by the snap length: too large to be Art-Net, and never handed on in part.
    if (header->caplen < header->len)
        return;
    // Nanosecond precision was asked for: tv_usec holds nanoseconds.
    const qint64 stamp = qint64(header->ts.tv_sec) * 1'000'000'000 + qint64(header->ts.tv_usec);
    reinterpret_cast<Listener*>(user)->take(frame, int(header->caplen), stamp);
}

void Listener::take(const unsigned char* frame, int length, qint64 stampRealNs)
{
    Datagram datagram;
    if (receiverDone || !receiving || !artNetDatagram(linkType, frame, length, &datagram))
        return;
    const qint64 arrival = steadyArrivalNs(stampRealNs, nowRealNs, nowSteadyNs);
    if (repeats.seen(datagram.data, datagram.size, datagram.sourceIp, datagram.sourcePort,
                     datagram.way, arrival))
        return;
    from.setAddress(datagram.sourceIp);
    if (!(*receiving)(datagram.data, datagram.size, from, arrival)) {
        receiverDone = true;
        pcap_breakloop(handle);
    }
}

} // namespace Capture
