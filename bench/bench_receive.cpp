// How close the node's receive path comes to the cost of the bare system calls.
//
// The same bursts of ArtTimeCode datagrams from many senders go once to the node and once to a
// plain socket drained with recvmmsg. Only the draining is timed, in process CPU time, and the
// result is the ratio of the two: the node's cost per datagram over the kernel's. Two loads are
// measured: a busy network (many datagrams per wakeup) and a quiet one (one per wakeup).
//
// It binds port 6454 and sends on loopback only; run it in a private network namespace:
//   unshare -n sh -c 'ip link set lo up && build/bench/bench_receive'
#include "artnet.h"

#include <QCoreApplication>
#include <QNetworkInterface>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSenders = 64;
constexpr int kBusyBurst = 128; // stays below what the default receive buffer holds
constexpr int kBusyBursts = 400;
constexpr int kQuietBursts = 20000; // one datagram per wakeup, as a single desk sends
int kBurst = kBusyBurst;
int kBursts = kBusyBursts;
constexpr quint16 kBaselinePort = 6455;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QByteArray timecode(int i)
{
    QByteArray packet("Art-Net\0", 8);
    const char rest[] = {0x00, char(0x97), 0, 14, 0, 0, char(i % 30), 1, 2, 3, 1, 0};
    packet.append(rest, sizeof rest);
    return packet;
}

struct Senders
{
    std::vector<int> sockets;
    Senders()
    {
        for (int i = 0; i < kSenders; ++i) {
            const int fd = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(0x7F000002 + quint32(i)); // 127.0.0.2 onward
            bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            sockets.push_back(fd);
        }
    }
    ~Senders()
    {
        for (int fd : sockets)
            close(fd);
    }
    void burst(quint16 port)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(0x7F000001);
        for (int i = 0; i < kBurst; ++i) {
            const QByteArray packet = timecode(i);
            sendto(sockets[size_t(i % kSenders)], packet.constData(), size_t(packet.size()), 0,
                   reinterpret_cast<sockaddr*>(&to), sizeof to);
        }
    }
};

double baselineSeconds(Senders& senders)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kBaselinePort);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);

    constexpr int kBatch = 64;
    std::vector<char> buffers(size_t(kBatch) * 2048);
    mmsghdr messages[kBatch]{};
    iovec vectors[kBatch];
    sockaddr_in senders_[kBatch];
    double spent = 0;
    for (int b = 0; b < kBursts; ++b) {
        senders.burst(kBaselinePort);
        const double start = cpuSeconds();
        int received = 0;
        while (received < kBurst) {
            for (int i = 0; i < kBatch; ++i) {
                vectors[i] = {buffers.data() + i * 2048, 2048};
                messages[i].msg_hdr.msg_iov = &vectors[i];
                messages[i].msg_hdr.msg_iovlen = 1;
                messages[i].msg_hdr.msg_name = &senders_[i];
                messages[i].msg_hdr.msg_namelen = sizeof senders_[i];
            }
            const int n = recvmmsg(fd, messages, kBatch, MSG_DONTWAIT, nullptr);
            if (n <= 0)
                break;
            received += n;
        }
        spent += cpuSeconds() - start;
    }
    close(fd);
    return spent;
}

double nodeSeconds(Senders& senders, artnet& node)
{
    double spent = 0;
    TimecodeRecord record;
    for (int b = 0; b < kBursts; ++b) {
        senders.burst(6454);
        const double start = cpuSeconds();
        // Everything sent is queued by now; let the node's readyRead drain it.
        QCoreApplication::processEvents();
        spent += cpuSeconds() - start;
    }
    if (!node.getTimecode(&record, nullptr, kSenders - 1))
        std::fprintf(stderr, "warning: not every sender reached the node\n");
    return spent;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        if (interface.type() != QNetworkInterface::Loopback) {
            std::fprintf(stderr, "refusing to run with %s attached; use a private namespace\n",
                         qPrintable(interface.name()));
            return 1;
        }
    }

    artnet node;
    if (!node.openSocket()) {
        std::fprintf(stderr, "cannot bind port 6454\n");
        return 1;
    }
    Senders senders;
    // Warm up: pages in the code paths and fills the sender list.
    nodeSeconds(senders, node);
    baselineSeconds(senders);

    struct Load
    {
        const char* name;
        int burst;
        int bursts;
    };
    const Load loads[] = {{"busy network", kBusyBurst, kBusyBursts},
                          {"quiet network", 1, kQuietBursts}};
    for (const Load& load : loads) {
        kBurst = load.burst;
        kBursts = load.bursts;
        const double node_ = nodeSeconds(senders, node);
        const double base = baselineSeconds(senders);
        const double datagrams = double(kBurst) * kBursts;
        std::printf("%s: %.0f datagrams from %d senders, %d per wakeup\n", load.name, datagrams,
                    kSenders, kBurst);
        std::printf("  recvmmsg baseline    %.0f ns per datagram\n", base / datagrams * 1e9);
        std::printf("  node receive path    %.0f ns per datagram\n", node_ / datagrams * 1e9);
        std::printf("  node / baseline      %.2f\n", node_ / base);
    }
    return 0;
}
