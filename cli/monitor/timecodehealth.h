// How steady one sender's timecode is: what `monitor` counts for every ArtTimeCode it hears,
// kept apart from the network so that every rule can be fed by hand with arrival times.
#pragma once

#include "monitor/jitterhistogram.h"
#include "senders.h"
#include "timecode.h"

#include <QList>
#include <QStringList>

namespace TimecodeHealth {

// A sender silent for longer than this has stopped; back again, the silence was a dropout.
inline constexpr qint64 kStopAfterNs = Timecode::kSilentAfterNs;
// A measured rate further than this share off its Type's nominal rate is unhealthy.
inline constexpr double kRateTolerance = 0.01;
// The rate is judged only once this much running time has been measured: before that, one late
// arrival moves the figure by more than the tolerance.
inline constexpr qint64 kRateJudgedAfterNs = 1'000'000'000;

// What one sender did over the whole run: `last` is the newest frame heard, `frames` counts
// every timecode but the duplicates. How each datagram reads in the sender's numbering is the
// node's sender table's judgement (Timecode::Numbering); these are the counts of it.
struct SenderStats
{
    QHostAddress sender;
    quint32 ip = 0;    // the sender, as the node reports it: IPv4 only
    quint8 stream = 0; // ArtTimeCode's StreamId: one address may carry several
    TimecodeRecord last;
    qint64 frames = 0;
    qint64 missing = 0;
    qint64 repeated = 0;
    qint64 jumps = 0;
    // A frame that came after its successor, by at most Timecode::kMaxMissingGap frames: not a
    // jump, and no longer missing if it had been counted so.
    qint64 late = 0;
    // The same timecode again within half a frame period of its first arrival: sent twice on
    // purpose, or doubled on the way. Left out of the frames, the rate and the jitter.
    qint64 duplicate = 0;
    // Frames played backwards: each the one before its predecessor, kReverseAfter or more in a
    // row. Neither late nor jumps.
    qint64 reverse = 0;
    // Silences longer than kStopAfterNs that ended with the sender back, and their length.
    qint64 dropouts = 0;
    qint64 silentNs = 0;
    // Two programs sent under this address and stream at some time: their numberings
    // interleaved.
    bool conflict = false;
    // What the frames of a run each one before the one heard before it were counted as until the
    // run was long enough to read as reverse playback.
    qint64 backRunLate = 0;
    qint64 backRunJumps = 0;
    // Bit k: the frame k frames before `last` was counted missing and has not come late since.
    quint32 missingFrames = 0;
    qint64 lastArrivalNs = 0; // of the last datagram that was no duplicate
    // Intervals between arrivals while running (stops left out), for the measured rate.
    qint64 runningIntervals = 0;
    qint64 runningNs = 0;
    bool everStopped = false;
    JitterHistogram jitter;

    double measuredFps() const;
    bool stoppedAt(qint64 nowNs) const { return Timecode::isSilent(lastArrivalNs, nowNs); }
    // Every silence of the run up to nowNs, the one still going on included.
    qint64 silentNsAt(qint64 nowNs) const;
    bool rateOff() const;
    // Healthy over the whole run up to nowNs: one source, nothing missing, no jump, the rate
    // within its tolerance and never silent for more than a second. Late, repeated and reversed
    // frames and duplicates alone do not make a run unhealthy.
    bool healthyAt(qint64 nowNs) const;
    // Why the run up to nowNs is unhealthy, most telling first; empty when it is healthy.
    QStringList reasonsAt(qint64 nowNs) const;
};

// Its figures and jitter histogram, with what the address allocates, stay within 8 KB.
static_assert(sizeof(SenderStats) <= 8 * 1024 - 256, "a sender's figures outgrew 8 KB");

// The figures of every sender in the node's table, by the entry's place in first-heard order.
class Monitor
{
public:
    // One accepted ArtTimeCode, as the table took it: its record, its arrival on a monotonic
    // clock in nanoseconds and what it was in its sender's numbering.
    void arrived(const SenderEntry& sender);
    const QList<SenderStats>& senders() const { return all; }

    // The exit status of a run that ends at nowNs: kNoneHeard when nothing was heard, kFailure
    // when any sender was unhealthy or the kernel dropped datagrams, otherwise kOk.
    int verdictAt(qint64 nowNs) const;

    // Datagrams the kernel dropped before they were read: any timecode among them is lost
    // unseen.
    quint64 kernelDrops = 0;

private:
    QList<SenderStats> all;
};

} // namespace TimecodeHealth
