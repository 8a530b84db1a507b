// The spread of arrival times, kept in constant memory however long `monitor` runs.
#pragma once

#include <QtGlobal>

#include <vector>

namespace TimecodeHealth {

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

} // namespace TimecodeHealth
