#include "framepacer.h"
#include "timecode.h"

#include <sched.h>

#include <ctime>
#include <numeric>

namespace {

constexpr qint64 kNsPerSecond = 1000000000;

} // namespace

FrameSchedule::FrameSchedule(qint64 periodNumerator, qint64 periodDenominator)
{
    // Reduced, n × numerator stays within 64 bits for centuries of frames.
    const qint64 ns = periodNumerator * kNsPerSecond;
    const qint64 divisor = std::gcd(ns, periodDenominator);
    numeratorNs = ns / divisor;
    denominator = periodDenominator / divisor;
}

FrameSchedule FrameSchedule::forType(quint8 type)
{
    const Timecode::Rate rate = Timecode::rate(type);
    // An unknown Type has no period; a second keeps the schedule defined.
    if (rate.periodNumerator <= 0)
        return FrameSchedule(1, 1);
    return FrameSchedule(rate.periodNumerator, rate.periodDenominator);
}

qint64 FrameSchedule::deadline(qint64 n) const
{
    return n * numeratorNs / denominator;
}

qint64 FrameSchedule::frameDue(qint64 now, qint64 next) const
{
    // A frame is stale once the next one's deadline has passed too. Start near the frame whose
    // deadline is now rather than walking every frame of a long stall.
    qint64 frame = qMax(next, now * denominator / numeratorNs - 1);
    while (now > deadline(frame + 1))
        ++frame;
    return frame;
}

PacingClock::~PacingClock() = default;

qint64 MonotonicClock::now()
{
    timespec time;
    clock_gettime(CLOCK_MONOTONIC, &time);
    return qint64(time.tv_sec) * kNsPerSecond + time.tv_nsec;
}

void MonotonicClock::sleepUntil(qint64 deadline)
{
    timespec time;
    time.tv_sec = time_t(deadline / kNsPerSecond);
    time.tv_nsec = long(deadline % kNsPerSecond);
    // An interrupting signal ends the sleep early (EINTR); the caller looks at its stop flag.
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &time, nullptr);
}

PacingResult runPaced(const FrameSchedule& schedule, PacingClock& clock, qint64 frameCount,
                      const std::atomic<bool>& stop, const std::function<void(qint64)>& send)
{
    PacingResult result;
    const qint64 start = clock.now();
    qint64 next = 0;
    while (!stop.load() && (frameCount < 0 || next < frameCount)) {
        clock.sleepUntil(start + schedule.deadline(next));
        if (stop.load())
            break;
        const qint64 now = clock.now() - start;
        if (now < schedule.deadline(next))
            continue; // woken early
        qint64 frame = schedule.frameDue(now, next);
        if (frameCount >= 0 && frame >= frameCount) {
            // The whole rest of the run went stale while we slept.
            result.skipped += frameCount - next;
            next = frameCount;
            break;
        }
        result.skipped += frame - next;
        send(frame);
        ++result.sent;
        next = frame + 1;
    }
    // A counted run lasts its frames' whole periods, so --duration 10 takes ten seconds.
    // Slept again when a signal that stops nothing (a terminal's resize) woke it early.
    while (!stop.load() && frameCount >= 0 && clock.now() - start < schedule.deadline(frameCount))
        clock.sleepUntil(start + schedule.deadline(frameCount));
    result.elapsedNs = clock.now() - start;
    return result;
}

// A frame is due every 33 to 42 ms and takes microseconds to send, but on a busy machine the
// ordinary scheduler can keep a woken process waiting for several milliseconds, or a whole
// period. So the stream asks for the lowest real-time priority where the system grants it (to
// root, or under an rtprio limit) and runs as any other process where it does not. Children do
// not inherit it.
void preferPromptWakeups()
{
    sched_param priority{};
    priority.sched_priority = sched_get_priority_min(SCHED_FIFO);
    sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &priority);
}
