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
//
// Under each comparison a third reader, a bare Qt reader (ceiling.h), shows what the node's way
// of reading costs by itself, the event loop's wakeup and the kernel's stamps, before any work of
// the node's: its rate over the bare reader's is the best the node's ratio can be here.
//
// Each measurement lives in a header of its own under receive/: loads.h (queued, one per
// wakeup, streamed and paced), ceiling.h, knownsenders.h, observer.h and arrivals.h; traffic.h
// holds the senders, the bare reader and the counters they share.
#include "isolation.h"
#include "receive/arrivals.h"
#include "receive/ceiling.h"
#include "receive/knownsenders.h"
#include "receive/loads.h"
#include "receive/node.h"
#include "receive/observer.h"
#include "receive/traffic.h"

#include <QCoreApplication>

using namespace BenchReceive;

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
    queuedCeiling(senders, kQueuedBurst, 50);
    streamedCeiling(senders, 20000);

    const Result quietReference = queuedReference(senders, 1, kQuietDatagrams);
    const Result quietNode = queuedNode(senders, 1, kQuietDatagrams);
    printPair("one per wakeup, one ArtTimeCode in 16", quietNode, quietReference);
    printCeiling(quietNode, queuedCeiling(senders, 1, kQuietDatagrams), quietReference);

    const Result streamedRef = streamedReference(senders, kStreamedDatagrams);
    const Result streamed = streamedNode(senders, kStreamedDatagrams, 0);
    const std::string streamedLoad =
        "streamed as fast as one sender thread goes, one ArtTimeCode in " +
        std::to_string(kCountedTimecodeEvery);
    printPair(streamedLoad.c_str(), streamed, streamedRef);
    printCeiling(streamed, streamedCeiling(senders, kStreamedDatagrams), streamedRef);

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
    printCeiling(queued, queuedCeiling(senders, kQueuedBurst, kQueuedBursts), queuedRef);
    if (senders.sendFailures > 0)
        std::fprintf(out, "warning: %lld sends failed\n", senders.sendFailures.load());
    std::fprintf(out, "ratio: %.2f\n", queued.rate() / queuedRef.rate());
    return 0;
}
