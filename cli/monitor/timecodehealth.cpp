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

// Counts one datagram by what it was in its sender's numbering.
void count(SenderStats& stats, const Timecode::Heard& heard, int backRun)
{
    const qint64 lateBefore = stats.late;
    const qint64 jumpsBefore = stats.jumps;
    switch (heard.kind) {
    case Timecode::HeardKind::Repeat:
        ++stats.repeated;
        return;
    case Timecode::HeardKind::Reverse:
        // The first frames of the run, counted late (or jumps) as they came, are counted again.
        if (heard.reverseBegan) {
            stats.late -= stats.backRunLate;
            stats.jumps -= stats.backRunJumps;
            stats.reverse += Timecode::kReverseAfter - 1;
        }
        ++stats.reverse;
        stats.missingFrames = 0;
        return;
    case Timecode::HeardKind::Second:
        if (heard.jumpUndone)
            --stats.jumps;
        return;
    case Timecode::HeardKind::Next:
        stats.missingFrames <<= 1;
        break;
    case Timecode::HeardKind::Gap: {
        stats.missing += heard.frames;
        const quint32 skipped = ((quint32(1) << heard.frames) - 1) << 1;
        stats.missingFrames = (stats.missingFrames << (heard.frames + 1)) | skipped;
        break;
    }
    case Timecode::HeardKind::Back: {
        ++stats.late;
        const quint32 filled = quint32(1) << heard.frames;
        if (stats.missingFrames & filled) {
            stats.missingFrames &= ~filled;
            --stats.missing;
        }
        break;
    }
    case Timecode::HeardKind::Jump:
        ++stats.jumps;
        stats.missingFrames = 0;
        break;
    case Timecode::HeardKind::First:
    case Timecode::HeardKind::Duplicate:
    case Timecode::HeardKind::Resumed:
        return;
    }
    if (backRun > 0) {
        stats.backRunLate += stats.late - lateBefore;
        stats.backRunJumps += stats.jumps - jumpsBefore;
    }
}

} // namespace

void Monitor::arrived(const SenderEntry& sender)
{
    const Timecode::Heard& heard = sender.heard;
    const qint64 arrivalNs = sender.arrivalNs;
    if (sender.order >= all.size())
        all.resize(sender.order + 1);
    SenderStats& stats = all[sender.order];
    if (heard.kind == Timecode::HeardKind::First) {
        stats.sender = sender.address;
        stats.ip = sender.ip;
        stats.stream = sender.stream;
        stats.last = sender.timecode;
        stats.frames = 1;
        stats.lastArrivalNs = arrivalNs;
        return;
    }
    if (heard.kind == Timecode::HeardKind::Duplicate) {
        ++stats.duplicate;
        return;
    }

    const qint64 interval = arrivalNs - stats.lastArrivalNs;
    const int backRun = sender.numbering.backRun();
    if (backRun == 0) {
        stats.backRunLate = 0;
        stats.backRunJumps = 0;
    }
    if (heard.kind == Timecode::HeardKind::Resumed) {
        stats.everStopped = true;
        ++stats.dropouts;
        stats.silentNs += interval;
        stats.missingFrames = 0;
    } else {
        ++stats.runningIntervals;
        stats.runningNs += interval;
        const double periodMs = Timecode::nominalPeriodMs(sender.timecode.type);
        if (periodMs > 0)
            stats.jitter.add(std::llround(std::fabs(double(interval) / 1e3 - periodMs * 1e3)));
        count(stats, heard, backRun);
    }
    stats.last = sender.numbering.newest();
    stats.conflict = sender.numbering.twoSourcesSeen();
    ++stats.frames;
    stats.lastArrivalNs = arrivalNs;
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
