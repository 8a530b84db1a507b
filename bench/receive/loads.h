// The three loads that compare the node with the bare reader: queued bursts, one datagram per
// wakeup (bursts of one) and a stream from a sender thread, free or paced; and their report.
#pragma once

#include "node.h"

#include <QCoreApplication>
#include <QTimer>

namespace BenchReceive {

inline Result queuedNode(Senders& senders, int burst, int bursts)
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

inline Result queuedReference(Senders& senders, int burst, int bursts)
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
inline std::thread startSender(Senders& senders, quint16 port, int count, int rate,
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

// A stream from a sender thread to port, read by whatever watches fd in the application's event
// loop until the sender is done and the socket empty: the reading thread's CPU and the time.
inline Result streamedInEventLoop(Senders& senders, quint16 port, int fd, int count, int rate)
{
    Result result;
    const long long errors = udpReceiveErrors();
    std::atomic<bool> done{false};
    QTimer finish;
    QObject::connect(&finish, &QTimer::timeout, [&] {
        if (done && pendingBytes(fd) == 0)
            QCoreApplication::quit();
    });
    finish.start(5);
    const double cpu = threadCpuSeconds();
    const double wall = wallSeconds();
    std::atomic<long long> peakQueue{0};
    std::thread sender = startSender(senders, port, count, rate, done, peakQueue);
    QCoreApplication::exec();
    result.cpu = threadCpuSeconds() - cpu;
    result.wall = wallSeconds() - wall;
    sender.join();
    result.dropped = udpReceiveErrors() - errors;
    result.peakQueue = peakQueue;
    return result;
}

inline Result streamedNode(Senders& senders, int count, int rate)
{
    Node node;
    senders.timecodesSent = 0;
    Result result = streamedInEventLoop(senders, kNodePort, node.fd, count, rate);
    result.datagrams = count - result.dropped;
    result.timecodesLost = senders.timecodesSent - node.countedStored();
    return result;
}

inline Result streamedReference(Senders& senders, int count)
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

inline void printPair(const char* load, const Result& node, const Result& reference)
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

} // namespace BenchReceive
