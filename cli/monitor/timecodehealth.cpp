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

qint64 SenderStats::silentNsAt(qint64 nowNs) const
{
    return silentNs + (stoppedAt(nowNs) ? nowNs - lastArrivalNs : 0);
}

bool SenderStats::healthyAt(qint64 nowNs) const
{
    return reasonsAt(nowNs).isEmpty();
}

QStringList SenderStats::reasonsAt(qint64 nowNs) const
{
    QStringList reasons;
    if (conflict)
        reasons.append(QStringLiteral("two sources"));
    const qint64 silent = silentNsAt(nowNs);
    if (silent > 0)
        reasons.append(QStringLiteral("%1 s without timecode")
                           .arg(QString::number(double(silent) / 1e9, 'f', 1)));
    if (missing > 0)
        reasons.append(QStringLiteral("missing %1").arg(missing));
    if (jumps > 0)
        reasons.append(QStringLiteral("jumps %1").arg(jumps));
    // Two numberings through one row measure twice the rate: not the senders' fault.
    if (rateOff() && !conflict)
        reasons.append(QStringLiteral("%1 fps, not %2")
                           .arg(QString::number(measuredFps(), 'f', 3),
                                QString::number(Timecode::nominalRate(last.type), 'f', 3)));
    return reasons;
}

namespace {

static_assert(Timecode::kMaxMissingGap < 32, "a missing frame has a bit of its own");

// Sorts the step from the newest frame to this one into what the sender meant. A late frame
// leaves `last` as it was: what follows it is judged against the newest frame.
void countStep(SenderStats& stats, const TimecodeRecord& record, qint64 arrivalNs)
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
        // It may be the first frame of a second numbering behind this one.
        stats.other = record;
        stats.otherArrivalNs = arrivalNs;
        stats.otherSteps = 0;
        stats.otherFromJump = false;
        break;
    }
    case Timecode::StepKind::Jump:
        ++stats.jumps;
        stats.missingFrames = 0;
        // The numbering jumped from may go on beside the new one.
        stats.other = stats.last;
        stats.otherArrivalNs = arrivalNs;
        stats.otherSteps = 0;
        stats.otherFromJump = true;
        stats.last = record;
        break;
    }
}

// A frame one before the frame heard before it: played backwards once kReverseAfter come in a
// row, when the first of them, counted late (or a jump) as they came, are counted again.
bool countReverse(SenderStats& stats, const TimecodeRecord& record)
{
    const Timecode::Step back = Timecode::step(stats.lastHeard, record);
    if (back.kind != Timecode::StepKind::Back || back.frames != 1) {
        stats.backRun = 0;
        stats.backRunLate = 0;
        stats.backRunJumps = 0;
        return false;
    }
    if (++stats.backRun < kReverseAfter)
        return false;
    if (stats.backRun == kReverseAfter) {
        stats.late -= stats.backRunLate;
        stats.jumps -= stats.backRunJumps;
        stats.reverse += kReverseAfter - 1;
    }
    ++stats.reverse;
    stats.last = record;
    stats.missingFrames = 0;
    stats.otherArrivalNs = -1;
    return true;
}

// The frame continues the second numbering beside `last`: a second program sends under this
// address and stream once that numbering stepped forward kTwoSourcesAfter times.
bool countOtherSource(SenderStats& stats, const TimecodeRecord& record, qint64 arrivalNs)
{
    if (stats.otherArrivalNs < 0 || Timecode::isSilent(stats.otherArrivalNs, arrivalNs) ||
        Timecode::step(stats.last, record).kind == Timecode::StepKind::Next ||
        Timecode::step(stats.other, record).kind != Timecode::StepKind::Next)
        return false;
    stats.other = record;
    stats.otherArrivalNs = arrivalNs;
    if (++stats.otherSteps >= kTwoSourcesAfter && !stats.conflict) {
        stats.conflict = true;
        // The step to the second numbering was no locate.
        if (stats.otherFromJump)
            --stats.jumps;
    }
    return true;
}

void classify(SenderStats& stats, const TimecodeRecord& record, qint64 arrivalNs)
{
    // A frame held: the one heard last, late or not, again.
    if (Timecode::sameRecord(stats.lastHeard, record)) {
        ++stats.repeated;
        return;
    }
    const qint64 lateBefore = stats.late;
    const qint64 jumpsBefore = stats.jumps;
    if (countReverse(stats, record) || countOtherSource(stats, record, arrivalNs))
        return;
    countStep(stats, record, arrivalNs);
    if (stats.backRun > 0) {
        stats.backRunLate += stats.late - lateBefore;
        stats.backRunJumps += stats.jumps - jumpsBefore;
    }
}

} // namespace

void Monitor::arrived(const TimecodeRecord& record, const QHostAddress& sender, qint64 arrivalNs,
                      quint8 stream)
{
    // Called for every ArtTimeCode: the senders are told apart by plain numbers.
    const quint32 ip = sender.toIPv4Address();
    SenderStats* stats = nullptr;
    SenderStats* const known = all.data();
    for (qsizetype i = 0; i < all.size(); ++i) {
        if (known[i].ip == ip && known[i].stream == stream) {
            stats = &known[i];
            break;
        }
    }
    if (!stats) {
        SenderStats first;
        first.sender = sender;
        first.ip = ip;
        first.stream = stream;
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
        // Back after a dropout: the numbering is taken up afresh, wherever it went meanwhile.
        stats->everStopped = true;
        ++stats->dropouts;
        stats->silentNs += interval;
        stats->last = record;
        stats->missingFrames = 0;
        stats->backRun = 0;
        stats->backRunLate = 0;
        stats->backRunJumps = 0;
        stats->otherArrivalNs = -1;
    } else {
        ++stats->runningIntervals;
        stats->runningNs += interval;
        const double periodMs = Timecode::nominalPeriodMs(record.type);
        if (periodMs > 0)
            stats->jitter.add(std::llround(std::fabs(double(interval) / 1e3 - periodMs * 1e3)));
        classify(*stats, record, arrivalNs);
    }
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
