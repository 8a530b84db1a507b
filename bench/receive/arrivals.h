// What the kernel's receive time stamps cost: the node's read and handling with them, against
// the same with the time of the read.
#pragma once

#include "nodesocket.h"
#include "traffic.h"

#include <QCoreApplication>

namespace BenchReceive {

// The node's receive path with one source of arrival times: the node's own kind of socket on a
// port of its own, handing every datagram to a node as the node's own read does. The node never
// opens a socket of its own here.
class ArrivalPath
{
public:
    ArrivalPath(bool stamps, quint16 port) : socket(port, stamps), port(port)
    {
        if (!socket.open(true, [this] { read(); })) {
            std::fprintf(stderr, "cannot bind port %u\n", unsigned(port));
            std::exit(1);
        }
        if (socket.stamped() != stamps) {
            std::fprintf(stderr, "the kernel gives no receive time stamps\n");
            std::exit(1);
        }
        fd = socket.descriptor();
    }

    // CPU seconds of this thread to read and handle `bursts` bursts of `burst` queued
    // datagrams.
    double cpuFor(Senders& senders, int burst, int bursts)
    {
        double cpu = 0;
        for (int b = 0; b < bursts; ++b) {
            for (int k = 0; k < burst; ++k)
                senders.sendQueued(port, sent++);
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
    void read()
    {
        socket.drain(
            [this](const char* data, int size, const QHostAddress& sender, qint64 arrivalNs) {
                node.takeDatagram(data, size, sender, arrivalNs);
                return true;
            });
    }

    artnet node;
    ArtNetReceive::DescriptorSocket socket;
    const quint16 port;
    int fd = -1;
    int sent = 0;
};

// Kernel stamps against read times, in alternating rounds so that both see the same machine.
inline void compareArrivalTimes(Senders& senders)
{
    ArrivalPath stamped(true, kStampedPort);
    ArrivalPath readTimes(false, kReadTimePort);
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

} // namespace BenchReceive
