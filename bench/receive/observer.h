// The node as `chronolume-cli monitor` runs it: with the health figures observing every
// ArtTimeCode, against the node alone.
#pragma once

#include "monitor/timecodehealth.h"
#include "node.h"

namespace BenchReceive {

// What `chronolume-cli monitor` attaches to its node.
class HealthObserver : public ArtNetObserver
{
public:
    void timecodeReceived(const SenderEntry& sender) override { monitor.arrived(sender); }
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
inline void timecodeBursts(Senders& senders, int burst, int bursts, ArtNetObserver* observer,
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

} // namespace BenchReceive
