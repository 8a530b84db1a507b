// Paced sending: frame n leaves at start + n × period on a monotonic clock. Deadlines are worked
// out from n each time, never by adding periods up, so no rounding accumulates into drift; a
// wakeup that came too late skips the frames that are already stale instead of sending them in a
// burst.
#pragma once

#include <QtGlobal>

#include <atomic>
#include <functional>

// A period as an exact fraction of nanoseconds, so 1001/30 ms stays exact.
class FrameSchedule
{
public:
    // One frame every periodNumerator / periodDenominator seconds.
    FrameSchedule(qint64 periodNumerator, qint64 periodDenominator);
    // The period of an ArtTimeCode Type (24, 25, 30000/1001 or 30 frames a second).
    static FrameSchedule forType(quint8 type);

    // Nanoseconds from the start to frame n's deadline.
    qint64 deadline(qint64 n) const;

    // The frame to send at `now` (nanoseconds since the start), when `next` is the first frame
    // not yet handled: the first from `next` on whose deadline passed by no more than one
    // period. The frames before it are stale and skipped.
    qint64 frameDue(qint64 now, qint64 next) const;

private:
    qint64 numeratorNs; // nanoseconds × denominator per frame, reduced
    qint64 denominator;
};

// Time in nanoseconds on a clock that never steps back, and sleeping until a point on it.
class PacingClock
{
public:
    virtual ~PacingClock();
    virtual qint64 now() = 0;
    // Returns at the deadline, or earlier when a signal interrupts the sleep.
    virtual void sleepUntil(qint64 deadline) = 0;
};

// CLOCK_MONOTONIC, slept on with absolute deadlines.
class MonotonicClock : public PacingClock
{
public:
    qint64 now() override;
    void sleepUntil(qint64 deadline) override;
};

struct PacingResult
{
    qint64 sent = 0;      // frames handed to the sender
    qint64 skipped = 0;   // frames left out because their time had passed
    qint64 elapsedNs = 0; // from the start to the end of the run
};

// Runs the schedule from the clock's present moment: for each frame due, calls send(n) with the
// frame's number counted from 0. Ends after frameCount frames (sent or skipped, and then at the
// end of the last frame's period), or when `stop` is raised (after the frame in flight); a
// frameCount below 0 runs until stopped.
PacingResult runPaced(const FrameSchedule& schedule, PacingClock& clock, qint64 frameCount,
                      const std::atomic<bool>& stop, const std::function<void(qint64)>& send);

// Asks for the lowest real-time priority for this process where the system grants it, so that
// a paced stream is woken on time on a busy machine; otherwise changes nothing.
void preferPromptWakeups();
