// How close the node's receive path comes to a bare recvmmsg reader, on the same traffic.
//
// Eight controllers on 127.0.0.2 to 127.0.0.9 send what a busy show network carries: mostly
// 530-byte ArtDmx, with some ArtTimeCode in between. The same datagrams go once to a real
// node (its own socket, woken by the socket's notifier, driven by the application's event loop) and
// once to a minimal reader of this program's own that waits in poll() and reads 64 datagrams per
// recvmmsg call. Four loads:
//   queued        bursts of 256 datagrams queued while the reader is busy elsewhere, then
//                 drained: the cost of the drain when many datagrams wait per wakeup;
//   one per wakeup  a single datagram per wakeup, as on a quiet network;
//   streamed      a sender thread sends as fast as it can while the reader runs;
//   paced         a sender thread sends 100,000 datagrams a second to the node.
// Rates are datagrams per second of the reading thread's CPU time, so they say how much one
// core can drain. In the streamed and paced loads every ArtTimeCode comes from an address of
// its own (127.0.1.2 onward), so the node's list of senders counts exactly the ArtTimeCode it
// handled; there are fewer of them than the node keeps senders. The datagrams the kernel dropped
// are read from the namespace's UDP counters.
//
// Apart from the comparison, the node's cost per ArtTimeCode is measured with 256 known senders
// (127.0.2.1 onward, as many as the node keeps) and with one, in bursts as in the queued load:
// finding a known sender must not depend on how many there are.
//
// The program binds port 6454 and sends to 127.0.0.1 only. Unless loopback is its only network
// it runs itself again under `unshare -n` (which needs root), with lo brought up, and it refuses
// to run anywhere else. The last line is "ratio: 0.NN", the node's rate over the reference
// reader's for queued bursts.
//
// A section of its own measures the node as `chronolume-cli monitor` runs it, with the health
// figures observing every ArtTimeCode, against the node alone: bursts of ArtTimeCode only, the
// observer's worst case, the two alternating so that both see the same machine. Another
// measures what the kernel's receive time stamps cost: the node's read and handling with
// them, against the same with the time of the read, alternating likewise, queued and one per
// wakeup.
#include "artnet.h"
#include "drain.h"
#include "isolation.h"
#include "monitor/timecodehealth.h"
#include "probes.h"
#include "timecode.h"

#include <QCoreApplication>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

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

namespace {

// The report; the node's own lines go to stderr, so this stays readable.
FILE* out = stdout;

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

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double wallSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The namespace's count of UDP datagrams dropped on receive (full buffers, bad checksums).
long long udpReceiveErrors()
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
long long receiveQueueBytes(quint16 port)
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
int boundSocket(quint16 port)
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

int pendingBytes(int fd)
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
QByteArray artDmx(int sequence)
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

QByteArray artTimeCode(const TimecodeRecord& record)
{
    QByteArray packet(ArtNetPacket::kTimeCodeSize, Qt::Uninitialized);
    ArtNetPacket::writeTimeCode(reinterpret_cast<quint8*>(packet.data()), record);
    return packet;
}

// The four time bytes carry a number, so the last one stored can be checked exactly.
QByteArray artTimeCode(quint32 number, quint8 type)
{
    return artTimeCode(TimecodeRecord{quint8(number), quint8(number >> 8), quint8(number >> 16),
                                      quint8(number >> 24), type});
}

quint32 timecodeNumber(const TimecodeRecord& record)
{
    return quint32(record.frames) | quint32(record.seconds) << 8 | quint32(record.minutes) << 16 |
           quint32(record.hours) << 24;
}

// The reference reader's whole work per datagram, kept as small as a reader can make it.
bool isTimecode(const char* data, int size)
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

// The reference: poll() and recvmmsg, 64 datagrams per call, each looked at once.
class ReferenceReader
{
public:
    ReferenceReader()
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        const sockaddr_in address = ipv4(INADDR_ANY, kReferencePort);
        if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            std::perror("binding the reference reader");
            std::exit(1);
        }
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kRequestedReceiveBuffer,
                   sizeof kRequestedReceiveBuffer);
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
        if (poll(&waiting, 1, timeoutMs) <= 0)
            return;
        for (;;) {
            for (int i = 0; i < kBatch; ++i)
                messages[i].msg_hdr.msg_namelen = sizeof from[i];
            const int n = recvmmsg(fd, messages, kBatch, MSG_DONTWAIT, nullptr);
            if (n <= 0)
                return;
            for (int i = 0; i < n; ++i) {
                ++received;
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
    std::set<quint32> timecodeSenders;

private:
    static constexpr int kBatch = 64;
    static constexpr size_t kSlot = 2048;
    std::vector<char> buffers;
    mmsghdr messages[kBatch]{};
    iovec vectors[kBatch]{};
    sockaddr_in from[kBatch]{};
};

int receiveBufferOf(int fd)
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

// A node of its own for every load, so the list of senders starts empty.
struct Node
{
    artnet node;
    int fd = -1;
    Node()
    {
        if (!node.openSocket()) {
            std::fprintf(stderr, "cannot bind port %u\n", unsigned(kNodePort));
            std::exit(1);
        }
        fd = boundSocket(kNodePort);
        if (fd < 0) {
            std::fprintf(stderr, "the node's socket is not among this process's descriptors\n");
            std::exit(1);
        }
    }
    void drainWhatIsQueued()
    {
        // A node that stops reading would leave this waiting forever; say so instead.
        for (int wakeups = 0; wakeups < 100000; ++wakeups) {
            QCoreApplication::processEvents();
            if (pendingBytes(fd) == 0)
                return;
        }
        std::fprintf(stderr, "the node left datagrams unread\n");
        std::exit(1);
    }
    // ArtTimeCode from the desks: the last number of every desk must be the one stored.
    long long desksBehind(const Senders& senders)
    {
        long long behind = 0;
        for (int desk = 0; desk < kDesks; ++desk) {
            bool found = false;
            TimecodeRecord record;
            QHostAddress sender;
            for (int index = 0; node.getTimecode(&record, &sender, index); ++index) {
                if (sender == QHostAddress(kFirstDesk + quint32(desk))) {
                    found = true;
                    behind += senders.lastNumber[desk] - timecodeNumber(record);
                }
            }
            if (!found)
                behind += senders.lastNumber[desk];
        }
        return behind;
    }
    // ArtTimeCode from the counted senders: each must be stored once, with its own number.
    long long countedStored()
    {
        long long stored = 0;
        TimecodeRecord record;
        QHostAddress sender;
        for (int index = 0; node.getTimecode(&record, &sender, index); ++index) {
            const quint32 address = sender.toIPv4Address();
            if (address < kFirstCountedSender)
                continue;
            const quint32 k = ((address - kFirstCountedSender) / 256) * 253 +
                              (address - kFirstCountedSender) % 256;
            if (Senders::countedSender(k) == address && timecodeNumber(record) == k)
                ++stored;
        }
        return stored;
    }
};

Result queuedNode(Senders& senders, int burst, int bursts)
{
    Node node;
    Result result;
    const long long errors = udpReceiveErrors();
    std::fill(std::begin(senders.lastNumber), std::end(senders.lastNumber), 0);
    int i = 0;
    for (int b = 0; b < bursts; ++b) {
        for (int k = 0; k < burst; ++k)
            senders.sendQueued(kNodePort, i++);
        const double start = threadCpuSeconds();
        node.drainWhatIsQueued();
        result.cpu += threadCpuSeconds() - start;
    }
    result.datagrams = i;
    result.dropped = udpReceiveErrors() - errors;
    result.timecodesLost = node.desksBehind(senders);
    return result;
}

// What `chronolume-cli monitor` attaches to its node.
class HealthObserver : public ArtNetObserver
{
public:
    void timecodeReceived(const TimecodeRecord& record, const QHostAddress& sender, quint8,
                          qint64 arrivalNs) override
    {
        monitor.arrived(record, sender, arrivalNs);
    }
    long long frames() const
    {
        long long total = 0;
        for (const TimecodeHealth::SenderStats& stats : monitor.senders())
            total += stats.frames;
        return total;
    }

private:
    TimecodeHealth::Monitor monitor;
};

// Bursts of ArtTimeCode only, drained by a node with the given observer (or none); adds to
// result.
void timecodeBursts(Senders& senders, int burst, int bursts, ArtNetObserver* observer,
                    Result& result)
{
    Node node;
    node.node.setObserver(observer);
    const long long errors = udpReceiveErrors();
    for (int b = 0; b < bursts; ++b) {
        for (int k = 0; k < burst; ++k)
            senders.sendTimecode(kNodePort, k);
        const double start = threadCpuSeconds();
        node.drainWhatIsQueued();
        result.cpu += threadCpuSeconds() - start;
    }
    result.datagrams += burst * bursts;
    result.dropped += udpReceiveErrors() - errors;
}

Result queuedReference(Senders& senders, int burst, int bursts)
{
    ReferenceReader reader;
    Result result;
    const long long errors = udpReceiveErrors();
    int i = 0;
    long long timecodes = 0;
    for (int b = 0; b < bursts; ++b) {
        for (int k = 0; k < burst; ++k) {
            timecodes += i % kTimecodeEvery == kTimecodeEvery - 1;
            senders.sendQueued(kReferencePort, i++);
        }
        const double start = threadCpuSeconds();
        do
            reader.wakeup(0);
        while (pendingBytes(reader.fd) > 0);
        result.cpu += threadCpuSeconds() - start;
    }
    result.datagrams = i;
    result.dropped = udpReceiveErrors() - errors;
    result.timecodesLost = timecodes - reader.timecodes;
    return result;
}

// Sends count datagrams from a thread of its own, at rate a second (0: as fast as it can).
std::thread startSender(Senders& senders, quint16 port, int count, int rate,
                        std::atomic<bool>& done, std::atomic<long long>& peakQueue)
{
    return std::thread([&senders, port, count, rate, &done, &peakQueue] {
        // Wake from each pause within microseconds, not the default 50.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        const double start = wallSeconds();
        for (int i = 0; i < count; ++i) {
            if (rate > 0 && i % 10 == 0) {
                const double due = start + double(i) / rate;
                const double now = wallSeconds();
                if (due > now) {
                    const double wait = due - now;
                    timespec pause{time_t(wait), long((wait - double(time_t(wait))) * 1e9)};
                    nanosleep(&pause, nullptr);
                }
            }
            senders.sendCounted(port, i);
            // How much of the receive buffer the stream needs: sampled as it runs.
            if (i % 500 == 499)
                peakQueue = std::max(peakQueue.load(), receiveQueueBytes(port));
        }
        done = true;
    });
}

Result streamedNode(Senders& senders, int count, int rate)
{
    Node node;
    Result result;
    senders.timecodesSent = 0;
    const long long errors = udpReceiveErrors();
    std::atomic<bool> done{false};
    QTimer finish;
    QObject::connect(&finish, &QTimer::timeout, [&] {
        if (done && pendingBytes(node.fd) == 0)
            QCoreApplication::quit();
    });
    finish.start(5);
    const double cpu = threadCpuSeconds();
    const double wall = wallSeconds();
    std::atomic<long long> peakQueue{0};
    std::thread sender = startSender(senders, kNodePort, count, rate, done, peakQueue);
    QCoreApplication::exec();
    result.cpu = threadCpuSeconds() - cpu;
    result.wall = wallSeconds() - wall;
    sender.join();
    result.dropped = udpReceiveErrors() - errors;
    result.datagrams = count - result.dropped;
    result.timecodesLost = senders.timecodesSent - node.countedStored();
    result.peakQueue = peakQueue;
    return result;
}

Result streamedReference(Senders& senders, int count)
{
    ReferenceReader reader;
    Result result;
    senders.timecodesSent = 0;
    const long long errors = udpReceiveErrors();
    std::atomic<bool> done{false};
    const double cpu = threadCpuSeconds();
    const double wall = wallSeconds();
    std::atomic<long long> peakQueue{0};
    std::thread sender = startSender(senders, kReferencePort, count, 0, done, peakQueue);
    while (!done || pendingBytes(reader.fd) > 0)
        reader.wakeup(5);
    result.cpu = threadCpuSeconds() - cpu;
    result.wall = wallSeconds() - wall;
    sender.join();
    result.dropped = udpReceiveErrors() - errors;
    result.datagrams = reader.received;
    result.timecodesLost = senders.timecodesSent - (long long)(reader.timecodeSenders.size());
    result.peakQueue = peakQueue;
    return result;
}

// CPU time of the node per ArtTimeCode, when every one comes from one of senders addresses that
// the node already knows, queued kQueuedBurst at a time.
double knownSenderCost(int senders)
{
    Node node;
    std::vector<int> sockets;
    for (int i = 0; i < senders; ++i) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in address = ipv4(kFirstKnownSender + quint32(i), 0);
        if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            std::perror("binding a timecode sender");
            std::exit(1);
        }
        sockets.push_back(fd);
    }
    const sockaddr_in to = ipv4(0x7F000001, kNodePort);
    quint32 number = 0;
    const auto send = [&](int i) {
        const QByteArray packet = artTimeCode(++number, 1);
        sendto(sockets[size_t(i % senders)], packet.constData(), size_t(packet.size()), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    };
    // Every sender heard once: from here on each is known.
    for (int i = 0; i < senders; ++i) {
        send(i);
        if (i % kQueuedBurst == kQueuedBurst - 1)
            node.drainWhatIsQueued();
    }
    node.drainWhatIsQueued();

    double cpu = 0;
    for (int b = 0; b < kKnownSenderBursts; ++b) {
        for (int k = 0; k < kQueuedBurst; ++k)
            send(k);
        const double start = threadCpuSeconds();
        node.drainWhatIsQueued();
        cpu += threadCpuSeconds() - start;
    }
    for (int fd : sockets)
        close(fd);
    return cpu / (double(kKnownSenderBursts) * kQueuedBurst);
}

void printPair(const char* load, const Result& node, const Result& reference)
{
    std::fprintf(out, "%s, %lld datagrams:\n", load, reference.datagrams);
    const auto line = [](const char* who, const Result& r) {
        std::fprintf(out, "  %-10s %5.2f million/s of CPU, %6.0f ns CPU per datagram", who,
                     r.rate() / 1e6, r.cpu / double(r.datagrams) * 1e9);
        if (r.wall > 0)
            std::fprintf(out, ", %4.2f million/s in real time", double(r.datagrams) / r.wall / 1e6);
        if (r.wall > 0)
            std::fprintf(out, ", queue at most %lld bytes", r.peakQueue);
        std::fprintf(out, ", dropped %lld, ArtTimeCode lost %lld\n", r.dropped, r.timecodesLost);
    };
    line("reference", reference);
    line("node", node);
    std::fprintf(out, "  node / reference: %.2f\n", node.rate() / reference.rate());
}

// The node's receive path with one source of arrival times: the node's reader on a socket of
// its own, handing every datagram to a node's handling as the node's own read does. The node
// never opens a socket of its own here.
class ArrivalPath
{
public:
    ArrivalPath(ArtNetReceive::ArrivalTimes times, quint16 port) : reader(times)
    {
        if (!socket.bind(QHostAddress::AnyIPv4, port)) {
            std::fprintf(stderr, "cannot bind port %u\n", unsigned(port));
            std::exit(1);
        }
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                               QVariant(kRequestedReceiveBuffer));
        reader.prepare(socket);
        if (reader.arrivalTimes() != times) {
            std::fprintf(stderr, "the kernel gives no receive time stamps\n");
            std::exit(1);
        }
        fd = int(socket.socketDescriptor());
        QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
            reader.read(socket,
                        [this](QByteArray& datagram, const QHostAddress& sender, qint64 arrivalNs) {
                            ArtnetProbe::handleDatagram(node, datagram, sender, arrivalNs);
                            return true;
                        });
        });
    }

    // CPU seconds of this thread to read and handle `bursts` bursts of `burst` queued
    // datagrams.
    double cpuFor(Senders& senders, int burst, int bursts)
    {
        double cpu = 0;
        for (int b = 0; b < bursts; ++b) {
            for (int k = 0; k < burst; ++k)
                senders.sendQueued(port(), sent++);
            const double start = threadCpuSeconds();
            for (int wakeups = 0; pendingBytes(fd) > 0; ++wakeups) {
                if (wakeups == 100000) {
                    std::fprintf(stderr, "the reader left datagrams unread\n");
                    std::exit(1);
                }
                QCoreApplication::processEvents();
            }
            cpu += threadCpuSeconds() - start;
        }
        return cpu;
    }

private:
    quint16 port() const { return socket.localPort(); }

    artnet node;
    QUdpSocket socket;
    ArtNetReceive::SocketReader reader;
    int fd = -1;
    int sent = 0;
};

// Kernel stamps against read times, in alternating rounds so that both see the same machine.
void compareArrivalTimes(Senders& senders)
{
    ArrivalPath stamped(ArtNetReceive::ArrivalTimes::Kernel, kStampedPort);
    ArrivalPath readTimes(ArtNetReceive::ArrivalTimes::ReadTime, kReadTimePort);
    stamped.cpuFor(senders, kQueuedBurst, 50); // warm-up, not counted
    readTimes.cpuFor(senders, kQueuedBurst, 50);
    std::fprintf(out, "arrival times, the node's read and handling, ArtDmx and one ArtTimeCode "
                      "in 16:\n");
    const struct
    {
        const char* name;
        int burst;
        int datagrams;
    } loads[] = {{"256 per wakeup", kQueuedBurst, kQueuedBurst * kQueuedBursts},
                 {"one per wakeup", 1, kQuietDatagrams}};
    for (const auto& load : loads) {
        // The lowest of alternating rounds: what another process takes from this core only ever
        // adds.
        const int bursts = load.datagrams / load.burst / kArrivalRounds;
        double stampedCpu = 1e9, readCpu = 1e9;
        for (int round = 0; round < kArrivalRounds; ++round) {
            stampedCpu = std::min(stampedCpu, stamped.cpuFor(senders, load.burst, bursts));
            readCpu = std::min(readCpu, readTimes.cpuFor(senders, load.burst, bursts));
        }
        const double datagrams = double(bursts) * load.burst;
        std::fprintf(out,
                     "  %-15s kernel stamps %6.0f ns, read times %6.0f ns CPU per datagram; "
                     "stamps / read times: %.2f\n",
                     load.name, stampedCpu / datagrams * 1e9, readCpu / datagrams * 1e9,
                     stampedCpu / readCpu);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (!ensureIsolated(argc, argv))
        return 1;
    out = fdopen(dup(STDOUT_FILENO), "w");
    dup2(STDERR_FILENO, STDOUT_FILENO);
    setvbuf(out, nullptr, _IOLBF, 0);
    QCoreApplication application(argc, argv);
    if (!onlyLoopback()) {
        std::fprintf(stderr, "refusing to run outside a private network namespace\n");
        return 1;
    }

    Senders senders;
    {
        Node probe;
        ReferenceReader reader;
        int rmemMax = 0;
        std::ifstream("/proc/sys/net/core/rmem_max") >> rmemMax;
        const int buffer = receiveBufferOf(probe.fd);
        std::fprintf(out,
                     "receive buffers: node %d bytes, reference %d bytes (net.core.rmem_max %d)\n",
                     buffer, receiveBufferOf(reader.fd), rmemMax);
        // The kernel charges about 1280 bytes for a 530-byte ArtDmx on loopback.
        std::fprintf(out,
                     "  the node's holds about %d ArtDmx, %.1f ms of a stream of %d a second\n",
                     buffer / 1280, buffer / 1280.0 / kPacedRate * 1000, kPacedRate);
    }
    std::fprintf(out, "senders: %d desks at 127.0.0.2-127.0.0.%d, ArtDmx of 530 bytes\n", kDesks,
                 kDesks + 1);

    // Pages in the code of both paths, which an idle machine pages out.
    queuedNode(senders, kQueuedBurst, 50);
    queuedReference(senders, kQueuedBurst, 50);
    streamedNode(senders, 20000, 0);
    streamedReference(senders, 20000);

    const Result quietReference = queuedReference(senders, 1, kQuietDatagrams);
    const Result quietNode = queuedNode(senders, 1, kQuietDatagrams);
    printPair("one per wakeup, one ArtTimeCode in 16", quietNode, quietReference);

    const Result streamedRef = streamedReference(senders, kStreamedDatagrams);
    const Result streamed = streamedNode(senders, kStreamedDatagrams, 0);
    const std::string streamedLoad =
        "streamed as fast as one sender thread goes, one ArtTimeCode in " +
        std::to_string(kCountedTimecodeEvery);
    printPair(streamedLoad.c_str(), streamed, streamedRef);

    const Result paced = streamedNode(senders, 2 * kPacedRate, kPacedRate);
    std::fprintf(out, "paced at %d a second to the node, %d datagrams over %.2f s:\n", kPacedRate,
                 2 * kPacedRate, paced.wall);
    std::fprintf(out, "  node CPU %.1f %% of one core, %.0f ns per datagram, dropped %lld\n",
                 paced.cpu / paced.wall * 100, paced.cpu / double(paced.datagrams) * 1e9,
                 paced.dropped);
    std::fprintf(out, "  receive queue at its fullest (sampled): %lld bytes\n", paced.peakQueue);
    std::fprintf(out, "  ArtTimeCode lost at %d a second: %lld of %lld\n", kPacedRate,
                 paced.timecodesLost, senders.timecodesSent.load());

    // The lowest of a few alternating runs: what another process takes from this core only
    // ever adds.
    knownSenderCost(kKnownSenders); // pages in the senders' part of the path
    double oneSender = 1, manySenders = 1;
    for (int run = 0; run < kKnownSenderRuns; ++run) {
        oneSender = std::min(oneSender, knownSenderCost(1));
        manySenders = std::min(manySenders, knownSenderCost(kKnownSenders));
    }
    std::fprintf(out, "ArtTimeCode from known senders, %d per wakeup:\n", kQueuedBurst);
    std::fprintf(out, "  one sender   %6.0f ns CPU per datagram\n", oneSender * 1e9);
    std::fprintf(out, "  %d senders  %6.0f ns CPU per datagram\n", kKnownSenders,
                 manySenders * 1e9);
    std::fprintf(out, "  %d senders / one: %.2f\n", kKnownSenders, manySenders / oneSender);

    {
        HealthObserver health;
        Result alone, observed;
        timecodeBursts(senders, kQueuedBurst, 50, &health, observed); // warm-up, not counted
        observed = Result();
        const long long warmupFrames = health.frames();
        for (int round = 0; round < kObserverRounds; ++round) {
            timecodeBursts(senders, kQueuedBurst, kQueuedBursts / kObserverRounds, nullptr, alone);
            timecodeBursts(senders, kQueuedBurst, kQueuedBursts / kObserverRounds, &health,
                           observed);
        }
        std::fprintf(out, "ArtTimeCode only, 256 per wakeup, %lld datagrams each:\n",
                     alone.datagrams);
        std::fprintf(out, "  node alone          %5.2f million/s of CPU, %6.0f ns per datagram\n",
                     alone.rate() / 1e6, alone.cpu / double(alone.datagrams) * 1e9);
        std::fprintf(out, "  node with observer  %5.2f million/s of CPU, %6.0f ns per datagram\n",
                     observed.rate() / 1e6, observed.cpu / double(observed.datagrams) * 1e9);
        std::fprintf(out, "  observer counted %lld of %lld (dropped %lld)\n",
                     health.frames() - warmupFrames, observed.datagrams, observed.dropped);
        std::fprintf(out, "  observed / alone: %.2f\n", observed.rate() / alone.rate());
    }

    compareArrivalTimes(senders);

    const Result queuedRef = queuedReference(senders, kQueuedBurst, kQueuedBursts);
    const Result queued = queuedNode(senders, kQueuedBurst, kQueuedBursts);
    printPair("queued, 256 per wakeup, one ArtTimeCode in 16", queued, queuedRef);
    if (senders.sendFailures > 0)
        std::fprintf(out, "warning: %lld sends failed\n", senders.sendFailures.load());
    std::fprintf(out, "ratio: %.2f\n", queued.rate() / queuedRef.rate());
    return 0;
}
