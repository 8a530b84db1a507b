// What every measurement of bench_receive shares: the constants, the clocks and counters it reads,
// the controllers that send, the bare recvmmsg reader the node is held against, and a result.
#pragma once

#include "artnet.h"
#include "timecode.h"

#include <QByteArray>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace BenchReceive {

// The report; the node's own lines go to stderr, so this stays readable.
inline FILE* out = stdout;

constexpr int kDesks = 8;
constexpr quint32 kFirstDesk = 0x7F000002;          // 127.0.0.2
constexpr quint32 kFirstCountedSender = 0x7F000102; // 127.0.1.2
constexpr quint16 kNodePort = 6454;
constexpr quint16 kReferencePort = 6455;
constexpr int kRequestedReceiveBuffer = 4 * 1024 * 1024; // what the node asks for, too

constexpr int kQueuedBurst = 256;
constexpr int kQueuedBursts = 800;
constexpr int kQuietDatagrams = 20000;
constexpr int kStreamedDatagrams = 200000;
constexpr int kPacedRate = 100000;
constexpr int kTimecodeEvery = 16;                // queued loads: one ArtTimeCode in 16
constexpr int kCountedTimecodeEvery = 1000;       // streamed and paced loads: 200 senders in each
constexpr quint32 kFirstKnownSender = 0x7F000201; // 127.0.2.1
constexpr int kKnownSenders = 256;                // as many as the node keeps
constexpr int kKnownSenderBursts = 400;
constexpr int kKnownSenderRuns = 3;
constexpr int kObserverRounds = 8;
constexpr int kArrivalRounds = 16;
constexpr quint16 kStampedPort = 6456;
constexpr quint16 kReadTimePort = 6457;

inline double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

inline double wallSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The namespace's count of UDP datagrams dropped on receive (full buffers, bad checksums).
inline long long udpReceiveErrors()
{
    std::ifstream snmp("/proc/net/snmp");
    std::string names, values, line;
    while (std::getline(snmp, line)) {
        if (line.rfind("Udp:", 0) != 0)
            continue;
        if (names.empty())
            names = line;
        else
            values = line;
    }
    std::istringstream n(names), v(values);
    std::string name, value;
    long long errors = 0;
    while (n >> name && v >> value) {
        if (name == "InErrors")
            errors = std::stoll(value);
    }
    return errors;
}

// Bytes waiting in the receive queue of the socket bound to port, as the kernel charges them
// against the receive buffer; -1 if there is no such socket.
inline long long receiveQueueBytes(quint16 port)
{
    std::ifstream udp("/proc/net/udp");
    std::string line;
    char local[16];
    std::snprintf(local, sizeof local, ":%04X", unsigned(port));
    while (std::getline(udp, line)) {
        std::istringstream fields(line);
        std::string slot, localAddress, remote, state, queues;
        if (!(fields >> slot >> localAddress >> remote >> state >> queues))
            continue;
        if (localAddress.size() < 5 || localAddress.compare(localAddress.size() - 5, 5, local) != 0)
            continue;
        const size_t colon = queues.find(':');
        if (colon != std::string::npos)
            return std::stoll(queues.substr(colon + 1), nullptr, 16);
    }
    return -1;
}

// The descriptor of this process's UDP socket bound to port, found as any process would find
// it: among its own open descriptors. -1 if there is none.
inline int boundSocket(quint16 port)
{
    DIR* fds = opendir("/proc/self/fd");
    if (!fds)
        return -1;
    int found = -1;
    while (const dirent* entry = readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        sockaddr_in address{};
        socklen_t size = sizeof address;
        int type = 0;
        socklen_t typeSize = sizeof type;
        if (fd > 0 && fd != dirfd(fds) &&
            getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeSize) == 0 && type == SOCK_DGRAM &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == port) {
            found = fd;
            break;
        }
    }
    closedir(fds);
    return found;
}

inline int pendingBytes(int fd)
{
    int bytes = 0;
    ioctl(fd, FIONREAD, &bytes);
    return bytes;
}

sockaddr_in ipv4(quint32 address, quint16 port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    result.sin_addr.s_addr = htonl(address);
    return result;
}

// The datagrams are written by the node's own packet writers: the benchmark measures reading.
inline QByteArray artDmx(int sequence)
{
    static quint8 dmxTemplate[ArtNetPacket::kDmxImageSize];
    ArtNetPacket::writeDmxTemplate(dmxTemplate);
    quint8 levels[ArtNetPacket::kDmxMaxSlots];
    std::memset(levels, sequence & 0x7F, sizeof levels);
    QByteArray packet(ArtNetPacket::kDmxImageSize, Qt::Uninitialized);
    quint8* bytes = reinterpret_cast<quint8*>(packet.data());
    ArtNetPacket::writeDmx(bytes, dmxTemplate, quint8(sequence % 4), 0, levels, sizeof levels);
    bytes[ArtNetPacket::kDmxSequenceOffset] = quint8(sequence & 0xFF);
    return packet;
}

inline QByteArray artTimeCode(const TimecodeRecord& record)
{
    QByteArray packet(ArtNetPacket::kTimeCodeSize, Qt::Uninitialized);
    ArtNetPacket::writeTimeCode(reinterpret_cast<quint8*>(packet.data()), record);
    return packet;
}

// The four time bytes carry a number, so the last one stored can be checked exactly.
inline QByteArray artTimeCode(quint32 number, quint8 type)
{
    return artTimeCode(TimecodeRecord{quint8(number), quint8(number >> 8), quint8(number >> 16),
                                      quint8(number >> 24), type});
}

inline quint32 timecodeNumber(const TimecodeRecord& record)
{
    return quint32(record.frames) | quint32(record.seconds) << 8 | quint32(record.minutes) << 16 |
           quint32(record.hours) << 24;
}

// The reference reader's whole work per datagram, kept as small as a reader can make it.
inline bool isTimecode(const char* data, int size)
{
    return size >= 14 && std::memcmp(data, "Art-Net\0", 8) == 0 && quint8(data[8]) == 0x00 &&
           quint8(data[9]) == 0x97;
}

// The controllers. A queued load interleaves ArtTimeCode from the desks themselves; a counted
// load sends each ArtTimeCode from an address used once.
class Senders
{
public:
    Senders()
    {
        for (int i = 0; i < kDesks; ++i) {
            const int fd = socket(AF_INET, SOCK_DGRAM, 0);
            const sockaddr_in address = ipv4(kFirstDesk + quint32(i), 0);
            if (fd < 0 ||
                bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
                std::perror("binding a sender");
                std::exit(1);
            }
            desks.push_back(fd);
        }
        for (int i = 0; i < 64; ++i)
            dmx.push_back(artDmx(i));
    }
    ~Senders()
    {
        for (int fd : desks)
            close(fd);
    }
    Senders(const Senders&) = delete;
    Senders& operator=(const Senders&) = delete;

    // Datagram number i of a queued load.
    void sendQueued(quint16 port, int i)
    {
        const sockaddr_in to = ipv4(0x7F000001, port);
        const int desk = i % kDesks;
        if (i % kTimecodeEvery == kTimecodeEvery - 1) {
            const QByteArray packet = artTimeCode(++lastNumber[desk], quint8(desk));
            sendFrom(desks[size_t(desk)], packet, to);
            ++timecodesSent;
        } else {
            sendFrom(desks[size_t(desk)], dmx[size_t(i % 64)], to);
        }
    }

    // Datagram number i of a timecode-only load: each desk counts its own frames at 25 fps.
    void sendTimecode(quint16 port, int i)
    {
        const sockaddr_in to = ipv4(0x7F000001, port);
        const size_t desk = size_t(i % kDesks);
        TimecodeRecord& t = deskTimecode[desk];
        t.type = 1;
        t = Timecode::next(t);
        sendFrom(desks[desk], artTimeCode(t), to);
    }

    // Datagram number i of a counted load.
    void sendCounted(quint16 port, int i)
    {
        const sockaddr_in to = ipv4(0x7F000001, port);
        if (i % kCountedTimecodeEvery == kCountedTimecodeEvery - 1) {
            const quint32 k = quint32(i / kCountedTimecodeEvery);
            const int fd = socket(AF_INET, SOCK_DGRAM, 0);
            const sockaddr_in from = ipv4(countedSender(k), 0);
            bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from);
            sendFrom(fd, artTimeCode(k, 1), to);
            close(fd);
            ++timecodesSent;
        } else {
            sendFrom(desks[size_t(i % kDesks)], dmx[size_t(i % 64)], to);
        }
    }

    // 127.0.1.2 onward, skipping .0, .1 and .255 of every /24.
    static quint32 countedSender(quint32 k)
    {
        return kFirstCountedSender + (k / 253) * 256 + (k % 253);
    }

    quint32 lastNumber[kDesks] = {};
    TimecodeRecord deskTimecode[kDesks] = {};
    std::atomic<long long> timecodesSent{0};
    std::atomic<long long> sendFailures{0};

private:
    void sendFrom(int fd, const QByteArray& packet, const sockaddr_in& to)
    {
        // A full receive buffer drops silently on loopback; a failing send is the sender's own
        // trouble and is counted apart.
        if (sendto(fd, packet.constData(), size_t(packet.size()), 0,
                   reinterpret_cast<const sockaddr*>(&to), sizeof to) != packet.size())
            sendFailures.fetch_add(1);
    }

    std::vector<int> desks;
    std::vector<QByteArray> dmx;
};

// The reference: poll() and recvmmsg, 64 datagrams per call, each looked at once. Stamped, it
// also asks for the kernel's receive stamps and drop counts, as the node does, and reads each
// stamp as the node reads it, so that it costs what it costs there.
class ReferenceReader
{
public:
    explicit ReferenceReader(quint16 port = kReferencePort, bool stamped = false) : stamped(stamped)
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        const sockaddr_in address = ipv4(INADDR_ANY, port);
        if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            std::perror("binding a bare reader");
            std::exit(1);
        }
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kRequestedReceiveBuffer,
                   sizeof kRequestedReceiveBuffer);
        const int on = 1;
        if (stamped) {
            setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
            setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
        }
        buffers.resize(size_t(kBatch) * kSlot);
        for (int i = 0; i < kBatch; ++i) {
            vectors[i] = {buffers.data() + size_t(i) * kSlot, kSlot};
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_name = &from[i];
        }
    }
    ~ReferenceReader() { close(fd); }
    ReferenceReader(const ReferenceReader&) = delete;
    ReferenceReader& operator=(const ReferenceReader&) = delete;

    // One wakeup: waits up to timeoutMs, then reads until a call comes back short.
    void wakeup(int timeoutMs)
    {
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, timeoutMs) > 0)
            drain();
    }

    // Reads until a call comes back short.
    void drain()
    {
        for (;;) {
            for (int i = 0; i < kBatch; ++i) {
                messages[i].msg_hdr.msg_namelen = sizeof from[i];
                messages[i].msg_hdr.msg_control = stamped ? controls[i] : nullptr;
                messages[i].msg_hdr.msg_controllen = stamped ? sizeof controls[i] : 0;
            }
            const int n = recvmmsg(fd, messages, kBatch, MSG_DONTWAIT, nullptr);
            if (n <= 0)
                return;
            for (int i = 0; i < n; ++i) {
                ++received;
                if (stamped)
                    for (cmsghdr* c = CMSG_FIRSTHDR(&messages[i].msg_hdr); c;
                         c = CMSG_NXTHDR(&messages[i].msg_hdr, c))
                        stamps += c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS;
                if (isTimecode(static_cast<const char*>(vectors[i].iov_base),
                               int(messages[i].msg_len))) {
                    ++timecodes;
                    timecodeSenders.insert(from[i].sin_addr.s_addr);
                }
            }
            if (n < kBatch)
                return;
        }
    }

    int fd = -1;
    long long received = 0;
    long long timecodes = 0;
    long long stamps = 0;
    std::set<quint32> timecodeSenders;

private:
    static constexpr int kBatch = 64;
    static constexpr size_t kSlot = 2048;
    const bool stamped;
    std::vector<char> buffers;
    mmsghdr messages[kBatch]{};
    iovec vectors[kBatch]{};
    sockaddr_in from[kBatch]{};
    alignas(cmsghdr) char controls[kBatch][64]{};
};

inline int receiveBufferOf(int fd)
{
    int value = 0;
    socklen_t size = sizeof value;
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &value, &size);
    return value;
}

struct Result
{
    long long datagrams = 0;
    double cpu = 0;  // seconds of the reading thread
    double wall = 0; // seconds
    long long dropped = 0;
    long long timecodesLost = 0;
    long long peakQueue = 0; // bytes, streamed loads only
    double rate() const { return cpu > 0 ? double(datagrams) / cpu : 0; }
};

} // namespace BenchReceive
