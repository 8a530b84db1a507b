#include "monitor/timecodehealth.h"
#include "common/exitstatus.h"
#include "timecode.h"

#include <cmath>
#include <cstdlib>

namespace TimecodeHealth {

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
        return ExitStatus::kNoneHeard;
    for (const SenderStats& stats : all) {
        if (!stats.healthyAt(nowNs))
            return ExitStatus::kFailure;
    }
    return ExitStatus::kOk;
}

} // namespace TimecodeHealth
