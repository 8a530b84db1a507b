// The best the node's way of reading allows here: a reader of this program's own that does what
// the node's socket does and nothing more. One QSocketNotifier, woken by the application's event
// loop, and recvmmsg 64 at a time with the kernel's receive stamps and drop counts asked for,
// into slots laid out like the bare reader's. Held against the bare reader it shows what the
// event loop and the stamps cost by themselves; the node held against it, what the node adds.
#pragma once

#include "loads.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

namespace BenchReceive {

constexpr quint16 kCeilingPort = 6458;

class CeilingReader
{
public:
    CeilingReader()
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        const sockaddr_in address = ipv4(INADDR_ANY, kCeilingPort);
        if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            std::perror("binding the Qt reader");
            std::exit(1);
        }
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kRequestedReceiveBuffer,
                   sizeof kRequestedReceiveBuffer);
        setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
        buffers.resize(size_t(kBatch) * kSlot);
        for (int i = 0; i < kBatch; ++i) {
            vectors[i] = {buffers.data() + size_t(i) * kSlot, kSlot};
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_name = &from[i];
        }
        notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { drain(); });
    }
    ~CeilingReader()
    {
        notifier.reset();
        close(fd);
    }
    CeilingReader(const CeilingReader&) = delete;
    CeilingReader& operator=(const CeilingReader&) = delete;

    int fd = -1;
    long long received = 0;
    long long stamped = 0;

private:
    void drain()
    {
        for (;;) {
            for (int i = 0; i < kBatch; ++i) {
                messages[i].msg_hdr.msg_namelen = sizeof from[i];
                messages[i].msg_hdr.msg_control = controls[i];
                messages[i].msg_hdr.msg_controllen = sizeof controls[i];
            }
            const int n = recvmmsg(fd, messages, kBatch, MSG_DONTWAIT, nullptr);
            if (n <= 0)
                return;
            for (int i = 0; i < n; ++i) {
                ++received;
                // The stamp is read as the node reads it, so that it costs what it costs there.
                for (cmsghdr* c = CMSG_FIRSTHDR(&messages[i].msg_hdr); c;
                     c = CMSG_NXTHDR(&messages[i].msg_hdr, c))
                    stamped += c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS;
                timecodes += isTimecode(static_cast<const char*>(vectors[i].iov_base),
                                        int(messages[i].msg_len));
            }
            if (n < kBatch)
                return;
        }
    }

    static constexpr int kBatch = 64;
    static constexpr size_t kSlot = 2048;
    std::vector<char> buffers;
    mmsghdr messages[kBatch]{};
    iovec vectors[kBatch]{};
    sockaddr_in from[kBatch]{};
    alignas(cmsghdr) char controls[kBatch][64]{};
    long long timecodes = 0;
    std::unique_ptr<QSocketNotifier> notifier;
};

// Queued bursts drained by the event loop, as the node's are.
inline Result queuedCeiling(Senders& senders, int burst, int bursts)
{
    CeilingReader reader;
    Result result;
    const long long errors = udpReceiveErrors();
    int i = 0;
    for (int b = 0; b < bursts; ++b) {
        for (int k = 0; k < burst; ++k)
            senders.sendQueued(kCeilingPort, i++);
        const double start = threadCpuSeconds();
        do
            QCoreApplication::processEvents();
        while (pendingBytes(reader.fd) > 0);
        result.cpu += threadCpuSeconds() - start;
    }
    result.datagrams = reader.received;
    result.dropped = udpReceiveErrors() - errors;
    return result;
}

// A free stream from a sender thread, read in the application's event loop, as the node's is.
inline Result streamedCeiling(Senders& senders, int count)
{
    CeilingReader reader;
    Result result;
    const long long errors = udpReceiveErrors();
    std::atomic<bool> done{false};
    QTimer finish;
    QObject::connect(&finish, &QTimer::timeout, [&] {
        if (done && pendingBytes(reader.fd) == 0)
            QCoreApplication::quit();
    });
    finish.start(5);
    const double cpu = threadCpuSeconds();
    const double wall = wallSeconds();
    std::atomic<long long> peakQueue{0};
    std::thread sender = startSender(senders, kCeilingPort, count, 0, done, peakQueue);
    QCoreApplication::exec();
    result.cpu = threadCpuSeconds() - cpu;
    result.wall = wallSeconds() - wall;
    sender.join();
    result.dropped = udpReceiveErrors() - errors;
    result.datagrams = reader.received;
    return result;
}

inline void printCeiling(const Result& node, const Result& ceiling, const Result& reference)
{
    std::fprintf(out,
                 "  bare Qt reader (notifier, recvmmsg, stamps) %5.2f million/s of CPU; "
                 "bare Qt reader / reference: %.2f, node / bare Qt reader: %.2f\n",
                 ceiling.rate() / 1e6, ceiling.rate() / reference.rate(),
                 node.rate() / ceiling.rate());
}

} // namespace BenchReceive
