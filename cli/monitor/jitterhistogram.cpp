#include "monitor/jitterhistogram.h"

#include <cmath>

namespace TimecodeHealth {

int JitterHistogram::bucketOf(qint64 microseconds)
{
    static_assert((kExactUs << kOctaves) > kLimitUs, "the last power of two reaches one second");
    const qint64 us = qBound<qint64>(0, microseconds, kLimitUs);
    if (us < kExactUs)
        return int(us);
    // us lies in [kExactUs << octave, kExactUs << (octave + 1)), whose 64 buckets are each
    // 2 << octave wide.
    int octave = 0;
    while (us >= (kExactUs << (octave + 1)))
        ++octave;
    const qint64 sub = (us >> (octave + 1)) - kSubBuckets;
    return int(kExactUs) + octave * kSubBuckets + int(sub);
}

qint64 JitterHistogram::firstValue(int bucket)
{
    if (bucket < kExactUs)
        return bucket;
    const int octave = (bucket - int(kExactUs)) / kSubBuckets;
    const int sub = (bucket - int(kExactUs)) % kSubBuckets;
    return qint64(kSubBuckets + sub) << (octave + 1);
}

qint64 JitterHistogram::width(int bucket)
{
    if (bucket < kExactUs)
        return 1;
    return qint64(2) << ((bucket - int(kExactUs)) / kSubBuckets);
}

void JitterHistogram::add(qint64 microseconds)
{
    ++buckets[size_t(bucketOf(microseconds))];
    ++total;
}

double JitterHistogram::percentileMs(double share) const
{
    if (total == 0)
        return 0;
    // Nearest rank: the value below which at least that share of the samples lie.
    const qint64 rank = qMax<qint64>(1, qint64(std::ceil(share * double(total))));
    qint64 seen = 0;
    int bucket = kBuckets - 1;
    for (int i = 0; i < kBuckets; ++i) {
        seen += buckets[size_t(i)];
        if (seen >= rank) {
            bucket = i;
            break;
        }
    }
    // The middle of the whole microseconds the bucket holds: a lone value where it holds one.
    const double middleUs = double(firstValue(bucket)) + double(width(bucket) - 1) / 2.0;
    return middleUs / 1000.0;
}

} // namespace TimecodeHealth
