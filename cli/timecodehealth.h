// How steady one sender's timecode is: what `monitor` counts for every ArtTimeCode it hears,
// kept apart from the network so that every rule can be fed by hand with arrival times.
#pragma once

#include "artnet.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

namespace TimecodeHealth {

// A sender silent for longer than this has stopped.
inline constexpr qint64 kStopAfterNs = 1'000'000'000;
// A measured rate further than this share off its Type's nominal rate is unhealthy.
inline constexpr double kRateTolerance = 0.01;
// The rate is judged only once this much running time has been measured: before that, one late
// arrival moves the figure by more than the tolerance.
inline constexpr qint64 kRateJudgedAfterNs = 1'000'000'000;

// |arrival interval - nominal period| in microseconds, kept as a histogram so that a run of
// days costs the same memory as one of seconds: 1 us steps up to 10 ms, then 100 us steps up
// to one second (longer intervals are stops and never measured).
class JitterHistogram
{
public:
    void add(qint64 microseconds);
    qint64 count() const { return total; }
    // The smallest value at or below which the given share of the samples lie, in
    // milliseconds; 0 without samples.
    double percentileMs(double share) const;

private:
    static constexpr qint64 kFineLimitUs = 10'000;
    static constexpr qint64 kCoarseStepUs = 100;
    static constexpr qint64 kLimitUs = 1'000'000;
    std::vector<quint32> buckets;
    qint64 total = 0;
};

// What one sender did over the whole run.
struct SenderStats
{
    QHostAddress sender;
    quint32 ip = 0; // the sender, as the node reports it: IPv4 only
    TimecodeRecord last;
    qint64 frames = 0;
    qint64 missing = 0;
    qint64 repeated = 0;
    qint64 jumps = 0;
    qint64 lastArrivalNs = 0;
    // Intervals between arrivals while running (stops left out), for the measured rate.
    qint64 runningIntervals = 0;
    qint64 runningNs = 0;
    bool everStopped = false;
    JitterHistogram jitter;

    double measuredFps() const;
    bool stoppedAt(qint64 nowNs) const { return nowNs - lastArrivalNs > kStopAfterNs; }
    bool rateOff() const;
    // Healthy over the whole run up to nowNs: nothing missing, no jump, the rate within its
    // tolerance and never silent for more than a second.
    bool healthyAt(qint64 nowNs) const;
};

// Every sender heard, in first-heard order.
class Monitor
{
public:
    // One accepted ArtTimeCode, with its arrival on a monotonic clock in nanoseconds.
    void arrived(const TimecodeRecord& record, const QHostAddress& sender, qint64 arrivalNs);
    const QList<SenderStats>& senders() const { return all; }

    // The exit status of a run that ends at nowNs: 3 when nothing was heard, 1 when any sender
    // was unhealthy, otherwise 0.
    int verdictAt(qint64 nowNs) const;

private:
    QList<SenderStats> all;
};

// One sender's figures as the monitor prints them, computed once for the table and the JSON.
struct Row
{
    QString sender;   // dotted quad
    QString timecode; // HH:MM:SS:FF
    int type = 0;
    QString rateName;
    qint64 frames = 0;
    double measuredFps = 0;
    qint64 missing = 0;
    qint64 repeated = 0;
    qint64 jumps = 0;
    double jitterP50Ms = 0;
    double jitterP99Ms = 0;
    bool stopped = false;
};

Row row(const SenderStats& stats, qint64 nowNs);

// One JSON object on one line, without its line break; keys in a fixed order.
QString jsonLine(const Row& row, bool final);
// The table: a header line and one line per sender.
QStringList tableLines(const QList<Row>& rows);

} // namespace TimecodeHealth
