// The best the node's way of reading allows here: a reader of this program's own that does what
// the node's socket does and nothing more. One QSocketNotifier, woken by the application's event
// loop, and the bare reader's recvmmsg with the kernel's receive stamps and drop counts asked
// for. Held against the bare reader it shows what the event loop and the stamps cost by
// themselves; the node held against it, what the node adds.
#pragma once

#include "loads.h"

#include <QCoreApplication>
#include <QSocketNotifier>

namespace BenchReceive {

constexpr quint16 kCeilingPort = 6458;

struct CeilingReader
{
    ReferenceReader reader{kCeilingPort, true};
    QSocketNotifier notifier{reader.fd, QSocketNotifier::Read};
    CeilingReader()
    {
        QObject::connect(&notifier, &QSocketNotifier::activated, [this] { reader.drain(); });
    }
};

// Queued bursts drained by the event loop, as the node's are.
inline Result queuedCeiling(Senders& senders, int burst, int bursts)
{
    CeilingReader ceiling;
    Result result;
    const long long errors = udpReceiveErrors();
    int i = 0;
    for (int b = 0; b < bursts; ++b) {
        for (int k = 0; k < burst; ++k)
            senders.sendQueued(kCeilingPort, i++);
        const double start = threadCpuSeconds();
        do
            QCoreApplication::processEvents();
        while (pendingBytes(ceiling.reader.fd) > 0);
        result.cpu += threadCpuSeconds() - start;
    }
    result.datagrams = ceiling.reader.received;
    result.dropped = udpReceiveErrors() - errors;
    return result;
}

inline Result streamedCeiling(Senders& senders, int count)
{
    CeilingReader ceiling;
    Result result = streamedInEventLoop(senders, kCeilingPort, ceiling.reader.fd, count, 0);
    result.datagrams = ceiling.reader.received;
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
