// The clocks of the node's time rules, stepped by hand: time passes only when a test or the fuzz
// input says so, and only a restart brings elapsed() back to 0. As the node's timecode clock it
// also gives every datagram the time it has reached as its arrival.
#pragma once

#include "artnet.h"

namespace TestSupport {

class SteppedClock : public ElapsedClock, public TimecodeClock
{
public:
    explicit SteppedClock(qint64 now = 0) : now(now) {}
    void restart() override { started = now; }
    qint64 elapsed() const override { return now - started; }
    qint64 nowNs() const override { return now * 1'000'000; }
    qint64 arrivalNs(qint64) const override { return nowNs(); }
    void step(qint64 ms) { now += ms; }

private:
    qint64 now;
    qint64 started = 0;
};

} // namespace TestSupport
