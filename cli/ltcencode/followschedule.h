// Timecode that follows a sender's ArtTimeCode, for every output that follows one (LTC audio for
// ltc-encode --follow, MIDI timecode for mtc-encode --follow): which time the next frame of the
// output carries and where it begins, worked out from the datagrams' arrivals and the present
// moment. Plain arithmetic on nanoseconds of the steady clock (the clock the node stamps arrivals
// with); nothing here sleeps, reads a socket or writes, so every rule is tested with times made
// up by the test.
//
// The sender's frames are counted as ticks of its own frame clock, tick k beginning at
// phase + k × period (the Type's exact period). The phase is fitted to the arrivals with the
// period held fixed, a running mean of the residuals that keeps averaging over the last
// kPhaseAverage arrivals, so a sender's jitter moves the output by a small fraction of itself.
// The output runs on a clock of whole units started at a known moment: audio samples for LTC,
// nanoseconds for MTC (kNanosecondClock), which paces its own messages. A frame begins at the
// unit nearest its tick's beginning (less the output's latency), and its length absorbs small
// differences, so that frames stay back to back.
#pragma once

#include "packets.h"

#include <QtGlobal>

namespace Follow {

// The output's clock for an output that keeps its own time, as MIDI does: one unit a nanosecond.
inline constexpr int kNanosecondClock = 1'000'000'000;

// Arrivals the phase is averaged over, once that many came.
inline constexpr qint64 kPhaseAverage = 32;
// A frame is at most this share of its length longer or shorter than the rate makes it: LTC
// readers follow far larger speed changes, and a phase error of a quarter frame is gone within
// 16 frames.
inline constexpr qint64 kStretchDivisor = 64;
// Consecutive arrivals this far off the fitted phase (a quarter period or more), and within an
// eighth of a period of each other, mean the sender moved its frame clock: the phase is taken
// from the arrivals again.
inline constexpr int kOutliersToRelock = 5;

struct Settings
{
    int sampleRate = 48000;   // units of the output's clock a second: audio samples, or one a ns
    qint64 advanceNs = 0;     // every frame begins this much earlier: the output's latency
    int freewheelFrames = 25; // frames written on after the sender falls silent
};

// What the output holds next; its "samples" are units of the output's clock.
struct Block
{
    enum Kind {
        Wait,    // nothing yet: ask again at startNs, or when a datagram arrives
        Frame,   // one frame carrying `record`
        Silence, // nothing to send: samples of silence, no MIDI
    };
    Kind kind = Wait;
    qint64 startNs = 0; // when its first sample is due on the sample clock
    qint64 firstSample = 0;
    qint64 samples = 0;
    TimecodeRecord record;
    bool freewheel = false;    // a Frame written after the sender fell silent
    bool afterArrival = false; // a Frame worked out when the datagram before its tick arrived
    qint64 arrivalNs = 0;      // the last arrival the Frame's schedule took account of
};

// A change worth a line to the user.
struct Notice
{
    enum Kind { None, Lost, Back };
    Kind kind = None;
    TimecodeRecord record; // Lost: the last time heard; Back: the first time heard again
};

class Scheduler
{
public:
    // The sample clock's first sample is due at startNs.
    Scheduler(const Settings& settings, qint64 startNs);

    // A datagram from the sender followed. Back when it ends a loss.
    Notice arrived(const TimecodeRecord& record, qint64 arrivalNs);

    // The next block, as of nowNs; a Frame or Silence advances the sample clock past it. A loss
    // found now is reported in *notice (otherwise set to None).
    Block next(qint64 nowNs, Notice* notice);

    // When sample n is due.
    qint64 sampleTime(qint64 n) const;
    // The first sample due at or after t.
    qint64 sampleAt(qint64 t) const;
    // The sample clock's next sample.
    qint64 position() const { return written; }
    bool locked() const { return haveSender; }
    bool lost() const { return lossAnnounced; }

private:
    qint64 tickStart(qint64 tick) const; // without the advance
    qint64 nearestTick(qint64 t) const;
    void lock(const TimecodeRecord& record, qint64 arrivalNs);
    Block silenceUntil(qint64 untilNs, qint64 nowNs);
    Block waitUntil(qint64 t) const;

    Settings settings;
    qint64 startNs;
    qint64 written = 0;      // samples handed out
    bool afterFrame = false; // the last block handed out was a frame

    bool haveSender = false;
    quint8 type = 0;
    qint64 periodNs = 0;    // rounded, for thresholds
    qint64 periodNumNs = 0; // the exact period is periodNumNs / periodDen nanoseconds
    qint64 periodDen = 1;
    qint64 phaseNs = 0;         // tick 0's beginning
    qint64 fitted = 0;          // arrivals in the running mean
    int outliers = 0;           // consecutive arrivals off the phase by as much
    qint64 outlierResidual = 0; // the last one's distance from it
    qint64 lastTick = 0;
    TimecodeRecord lastRecord;
    qint64 lastArrivalNs = 0;
    bool moving = true; // the sender's last step was not a repeat of the same time
    bool lossAnnounced = false;
    int freewheelLeft = 0;
};

} // namespace Follow
