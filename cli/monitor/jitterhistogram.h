// The spread of arrival times, kept in constant memory however long `monitor` runs.
#pragma once

#include <QtGlobal>

#include <array>

namespace TimecodeHealth {

// |arrival interval - nominal period| in microseconds, kept as a log-linear histogram so that a
// run of days costs the same few kilobytes as one of seconds: whole microseconds below 128 µs,
// then every power of two split into 64 buckets, each under 1.6 % of the values it holds wide,
// up to one second (longer intervals are stops and never measured).
class JitterHistogram
{
public:
    void add(qint64 microseconds);
    qint64 count() const { return total; }
    // The smallest value at or below which the given share of the samples lie, in
    // milliseconds, as the middle of the bucket that holds it: exact below 128 µs, above that
    // off by at most half the bucket's width, under 0.8 % of the value. 0 without samples.
    double percentileMs(double share) const;

private:
    static constexpr int kSubBuckets = 64;              // per power of two
    static constexpr qint64 kExactUs = 2 * kSubBuckets; // one bucket per microsecond below
    static constexpr qint64 kLimitUs = 1'000'000;
    static constexpr int kOctaves = 13; // kExactUs << 13 passes kLimitUs
    static constexpr int kBuckets = int(kExactUs) + kOctaves * kSubBuckets;

    // The bucket a value falls in, and the whole microseconds a bucket holds: its first and
    // how many.
    static int bucketOf(qint64 microseconds);
    static qint64 firstValue(int bucket);
    static qint64 width(int bucket);

    std::array<quint32, kBuckets> buckets{};
    qint64 total = 0;
};

} // namespace TimecodeHealth
