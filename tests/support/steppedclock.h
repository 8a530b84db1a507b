// The clock of the node's time rules, stepped by hand: time passes only when a test or the fuzz
// input says so, and only a restart brings elapsed() back to 0.
#pragma once

#include "artnet.h"

namespace TestSupport {

class SteppedClock : public ElapsedClock
{
public:
    explicit SteppedClock(qint64 now = 0) : now(now) {}
    void restart() override { started = now; }
    qint64 elapsed() const override { return now - started; }
    void step(qint64 ms) { now += ms; }

private:
    qint64 now;
    qint64 started = 0;
};

} // namespace TestSupport
