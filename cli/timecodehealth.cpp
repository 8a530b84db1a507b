#include "timecodehealth.h"
#include "textoutput.h"
#include "timecode.h"

#include <cmath>
#include <cstdlib>

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

double SenderStats::measuredFps() const
{
    if (runningNs <= 0)
        return 0;
    return double(runningIntervals) * 1e9 / double(runningNs);
}

bool SenderStats::rateOff() const
{
    const double nominal = Timecode::nominalRate(last.type);
    if (runningNs < kRateJudgedAfterNs || nominal <= 0)
        return false;
    return std::fabs(measuredFps() - nominal) > nominal * kRateTolerance;
}

bool SenderStats::healthyAt(qint64 nowNs) const
{
    return missing == 0 && jumps == 0 && !rateOff() && !everStopped && !stoppedAt(nowNs);
}

namespace {

void countStep(SenderStats& stats, const TimecodeRecord& previous, const TimecodeRecord& next)
{
    const Timecode::Step step = Timecode::step(previous, next);
    switch (step.kind) {
    case Timecode::StepKind::Next:
        break;
    case Timecode::StepKind::Repeat:
        ++stats.repeated;
        break;
    case Timecode::StepKind::Gap:
        stats.missing += step.frames;
        break;
    // A frame a little behind the last is counted as a jump, as any other step back is.
    case Timecode::StepKind::Back:
    case Timecode::StepKind::Jump:
        ++stats.jumps;
        break;
    }
}

} // namespace

void Monitor::arrived(const TimecodeRecord& record, const QHostAddress& sender, qint64 arrivalNs)
{
    // Called for every ArtTimeCode: the senders are told apart by a plain number.
    const quint32 ip = sender.toIPv4Address();
    SenderStats* stats = nullptr;
    SenderStats* const known = all.data();
    for (qsizetype i = 0; i < all.size(); ++i) {
        if (known[i].ip == ip) {
            stats = &known[i];
            break;
        }
    }
    if (!stats) {
        SenderStats first;
        first.sender = sender;
        first.ip = ip;
        first.last = record;
        first.frames = 1;
        first.lastArrivalNs = arrivalNs;
        all.append(first);
        return;
    }

    const qint64 interval = arrivalNs - stats->lastArrivalNs;
    if (interval > kStopAfterNs) {
        stats->everStopped = true;
    } else {
        ++stats->runningIntervals;
        stats->runningNs += interval;
        const double periodMs = Timecode::nominalPeriodMs(record.type);
        if (periodMs > 0)
            stats->jitter.add(std::llround(std::fabs(double(interval) / 1e3 - periodMs * 1e3)));
    }
    countStep(*stats, stats->last, record);
    stats->last = record;
    ++stats->frames;
    stats->lastArrivalNs = arrivalNs;
}

int Monitor::verdictAt(qint64 nowNs) const
{
    if (all.isEmpty())
        return 3;
    for (const SenderStats& stats : all) {
        if (!stats.healthyAt(nowNs))
            return 1;
    }
    return 0;
}

Row row(const SenderStats& stats, qint64 nowNs)
{
    Row r;
    r.sender = stats.sender.toString();
    r.timecode = Timecode::text(stats.last);
    r.type = stats.last.type;
    r.rateName = QLatin1String(Timecode::rateName(stats.last.type));
    r.frames = stats.frames;
    r.measuredFps = stats.measuredFps();
    r.missing = stats.missing;
    r.repeated = stats.repeated;
    r.jumps = stats.jumps;
    r.jitterP50Ms = stats.jitter.percentileMs(0.50);
    r.jitterP99Ms = stats.jitter.percentileMs(0.99);
    r.stopped = stats.stoppedAt(nowNs);
    return r;
}

QString jsonLine(const Row& r, bool final)
{
    TextOutput::JsonObject o;
    o.add("sender", r.sender);
    o.add("timecode", r.timecode);
    o.add("type", qint64(r.type));
    o.add("rate_name", r.rateName);
    o.add("frames", r.frames);
    o.add("measured_fps", r.measuredFps, 3);
    o.add("missing", r.missing);
    o.add("repeated", r.repeated);
    o.add("jumps", r.jumps);
    o.add("jitter_p50_ms", r.jitterP50Ms, 3);
    o.add("jitter_p99_ms", r.jitterP99Ms, 3);
    o.add("stopped", r.stopped);
    o.add("final", final);
    return o.text();
}

QStringList tableLines(const QList<Row>& rows)
{
    TextOutput::Table table({QStringLiteral("SENDER"), QStringLiteral("TIMECODE"),
                             QStringLiteral("RATE"), QStringLiteral("FRAMES"),
                             QStringLiteral("FPS"), QStringLiteral("MISSING"),
                             QStringLiteral("REPEATED"), QStringLiteral("JUMPS"),
                             QStringLiteral("JITTER P50/P99 MS"), QStringLiteral("STATE")});
    for (const Row& r : rows) {
        table.add({r.sender, r.timecode, r.rateName, QString::number(r.frames),
                   QString::number(r.measuredFps, 'f', 3), QString::number(r.missing),
                   QString::number(r.repeated), QString::number(r.jumps),
                   QStringLiteral("%1/%2").arg(QString::number(r.jitterP50Ms, 'f', 3),
                                               QString::number(r.jitterP99Ms, 'f', 3)),
                   r.stopped ? QStringLiteral("stopped") : QStringLiteral("running")});
    }
    return table.lines();
}

} // namespace TimecodeHealth
