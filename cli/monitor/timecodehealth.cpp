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

static_assert(Timecode::kMaxMissingGap < 32, "a missing frame has a bit of its own");

// Sorts the step from the newest frame to this one into what the sender meant. A late frame
// leaves `last` as it was: what follows it is judged against the newest frame.
void countStep(SenderStats& stats, const TimecodeRecord& record)
{
    const Timecode::Step step = Timecode::step(stats.last, record);
    switch (step.kind) {
    case Timecode::StepKind::Next:
        stats.missingFrames <<= 1;
        stats.last = record;
        break;
    case Timecode::StepKind::Repeat:
        ++stats.repeated;
        break;
    case Timecode::StepKind::Gap: {
        stats.missing += step.frames;
        const quint32 skipped = ((quint32(1) << step.frames) - 1) << 1;
        stats.missingFrames = (stats.missingFrames << (step.frames + 1)) | skipped;
        stats.last = record;
        break;
    }
    case Timecode::StepKind::Back: {
        ++stats.late;
        const quint32 filled = quint32(1) << step.frames;
        if (stats.missingFrames & filled) {
            stats.missingFrames &= ~filled;
            --stats.missing;
        }
        break;
    }
    case Timecode::StepKind::Jump:
        ++stats.jumps;
        stats.missingFrames = 0;
        stats.last = record;
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
        first.lastHeard = record;
        first.frames = 1;
        first.lastArrivalNs = arrivalNs;
        all.append(first);
        return;
    }

    const qint64 interval = arrivalNs - stats->lastArrivalNs;
    if (Timecode::sameRecord(stats->lastHeard, record) &&
        interval <= Timecode::periodNs(record.type) / 2) {
        ++stats->duplicate;
        return;
    }
    if (Timecode::isSilent(stats->lastArrivalNs, arrivalNs)) {
        stats->everStopped = true;
    } else {
        ++stats->runningIntervals;
        stats->runningNs += interval;
        const double periodMs = Timecode::nominalPeriodMs(record.type);
        if (periodMs > 0)
            stats->jitter.add(std::llround(std::fabs(double(interval) / 1e3 - periodMs * 1e3)));
    }
    countStep(*stats, record);
    stats->lastHeard = record;
    ++stats->frames;
    stats->lastArrivalNs = arrivalNs;
}

int Monitor::verdictAt(qint64 nowNs) const
{
    if (all.isEmpty())
        return ExitStatus::kNoneHeard;
    if (kernelDrops > 0)
        return ExitStatus::kFailure;
    for (const SenderStats& stats : all) {
        if (!stats.healthyAt(nowNs))
            return ExitStatus::kFailure;
    }
    return ExitStatus::kOk;
}

} // namespace TimecodeHealth
