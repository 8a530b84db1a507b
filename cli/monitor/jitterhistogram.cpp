#include "monitor/jitterhistogram.h"

#include <QtGlobal>

#include <cmath>

namespace TimecodeHealth {

void JitterHistogram::add(qint64 microseconds)
{
    if (buckets.empty())
        buckets.assign(size_t(kFineLimitUs + (kLimitUs - kFineLimitUs) / kCoarseStepUs + 1), 0);
    const qint64 us = qBound<qint64>(0, microseconds, kLimitUs);
    const qint64 index =
        us < kFineLimitUs ? us : kFineLimitUs + (us - kFineLimitUs) / kCoarseStepUs;
    ++buckets[size_t(index)];
    ++total;
}

double JitterHistogram::percentileMs(double share) const
{
    if (total == 0)
        return 0;
    // Nearest rank: the value below which at least that share of the samples lie.
    const qint64 rank = qMax<qint64>(1, qint64(std::ceil(share * double(total))));
    qint64 seen = 0;
    for (size_t i = 0; i < buckets.size(); ++i) {
        seen += buckets[i];
        if (seen >= rank) {
            const qint64 index = qint64(i);
            const qint64 us = index < kFineLimitUs
                                  ? index
                                  : kFineLimitUs + (index - kFineLimitUs) * kCoarseStepUs;
            return double(us) / 1000.0;
        }
    }
    return double(kLimitUs) / 1000.0;
}

} // namespace TimecodeHealth
