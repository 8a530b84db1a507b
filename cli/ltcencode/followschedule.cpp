#include "ltcencode/followschedule.h"

#include "timecode.h"

#include <algorithm>
#include <cmath>

namespace Follow {

namespace {

constexpr qint64 kSecondNs = 1'000'000'000;
// Silence goes out in pieces this long, each when it is due within this much, so that the
// first frame of a sender heard while it plays still starts on time.
constexpr qint64 kSilencePieceNs = 10'000'000;

// Rounds towards minus infinity, where C++ rounds towards zero.
qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

Scheduler::Scheduler(const Settings& settings, qint64 startNs)
    : settings(settings), startNs(startNs)
{
}

qint64 Scheduler::sampleTime(qint64 n) const
{
    const qint64 rate = settings.sampleRate;
    const qint64 seconds = floorDiv(n, rate);
    return startNs + seconds * kSecondNs + (n - seconds * rate) * kSecondNs / rate;
}

qint64 Scheduler::sampleAt(qint64 t) const
{
    const qint64 rate = settings.sampleRate;
    const qint64 d = t - startNs;
    const qint64 seconds = floorDiv(d, kSecondNs);
    const qint64 rest = d - seconds * kSecondNs; // 0 to a second
    return seconds * rate + (rest * rate + kSecondNs - 1) / kSecondNs;
}

qint64 Scheduler::tickStart(qint64 tick) const
{
    return phaseNs + floorDiv(tick * periodNumNs, periodDen);
}

qint64 Scheduler::nearestTick(qint64 t) const
{
    return std::llround(double(t - phaseNs) * double(periodDen) / double(periodNumNs));
}

void Scheduler::lock(const TimecodeRecord& record, qint64 arrivalNs)
{
    const Timecode::Rate rate = Timecode::rate(record.type);
    haveSender = true;
    type = record.type;
    periodNs = Timecode::periodNs(type);
    periodNumNs = rate.periodNumerator * kSecondNs;
    periodDen = rate.periodDenominator;
    phaseNs = arrivalNs;
    fitted = 1;
    outliers = 0;
    lastTick = 0;
    lastRecord = record;
    lastArrivalNs = arrivalNs;
    moving = true;
    lossAnnounced = false;
    freewheelLeft = 0;
}

Notice Scheduler::arrived(const TimecodeRecord& record, qint64 arrivalNs)
{
    Notice notice;
    if (!Timecode::isValid(record))
        return notice;
    if (lossAnnounced)
        notice = {Notice::Back, record};
    // After a silence the sender may come back on another frame clock; a new Type is another
    // frame clock in any case.
    if (!haveSender || record.type != type || Timecode::isSilent(lastArrivalNs, arrivalNs)) {
        lock(record, arrivalNs);
        return notice;
    }
    lossAnnounced = false;
    if (arrivalNs < lastArrivalNs)
        return notice;
    const Timecode::Step step = Timecode::step(lastRecord, record);
    // A frame that came late carries a time that has gone.
    if (step.kind == Timecode::StepKind::Back)
        return notice;

    qint64 tick = nearestTick(arrivalNs);
    if (step.kind == Timecode::StepKind::Next || step.kind == Timecode::StepKind::Gap) {
        // The numbering says which tick this is wherever jitter leaves it between two.
        const qint64 counted = lastTick + 1 + step.frames;
        if (qAbs(tick - counted) <= 1)
            tick = counted;
    }
    const qint64 residual = arrivalNs - tickStart(tick);
    if (qAbs(residual) * 4 < periodNs) {
        fitted = std::min(fitted + 1, kPhaseAverage);
        phaseNs += residual / fitted;
        outliers = 0;
    } else {
        // Only arrivals that agree on a new phase move it: a jittery sender's stray datagrams
        // fall on either side.
        outliers =
            outliers > 0 && qAbs(residual - outlierResidual) * 8 < periodNs ? outliers + 1 : 1;
        outlierResidual = residual;
        if (outliers >= kOutliersToRelock) {
            phaseNs += residual;
            fitted = 1;
            outliers = 0;
        }
    }
    moving = step.kind != Timecode::StepKind::Repeat;
    lastTick = tick;
    lastRecord = record;
    lastArrivalNs = arrivalNs;
    // Ticks counted from a later tick 0, so that the products stay small over days; periodDen
    // ticks last exactly periodNumNs nanoseconds.
    while (lastTick >= periodDen) {
        lastTick -= periodDen;
        phaseNs += periodNumNs;
    }
    return notice;
}

Block Scheduler::waitUntil(qint64 t) const
{
    Block block;
    block.kind = Block::Wait;
    block.startNs = t;
    return block;
}

Block Scheduler::silenceUntil(qint64 untilNs, qint64 nowNs)
{
    const qint64 at = sampleTime(written);
    if (nowNs < at - kSilencePieceNs)
        return waitUntil(at - kSilencePieceNs);
    Block block;
    block.kind = Block::Silence;
    block.startNs = at;
    block.firstSample = written;
    block.samples =
        std::max<qint64>(1, std::min(sampleAt(untilNs), sampleAt(at + kSilencePieceNs)) - written);
    written += block.samples;
    return block;
}

Block Scheduler::next(qint64 nowNs, Notice* notice)
{
    *notice = Notice();
    const qint64 at = sampleTime(written);
    if (haveSender && !lossAnnounced && Timecode::isSilent(lastArrivalNs, nowNs)) {
        lossAnnounced = true;
        freewheelLeft = settings.freewheelFrames;
        *notice = {Notice::Lost, lastRecord};
    }
    if (!haveSender || (lossAnnounced && freewheelLeft == 0))
        return silenceUntil(at + kSilencePieceNs, nowNs);

    // The tick whose frame begins nearest the sample clock's next sample.
    const qint64 advance = settings.advanceNs;
    qint64 tick = nearestTick(at + advance);
    qint64 begin = tickStart(tick) - advance;
    // Frames back to back absorb a quarter period of error in their lengths; the first after
    // silence has no neighbour to keep, so it begins at the first sample at or after its tick.
    const qint64 tolerance =
        afterFrame ? periodNs / 4 : (kSecondNs + settings.sampleRate - 1) / settings.sampleRate;
    const qint64 early = afterFrame ? tolerance : 0;
    if (begin - at > early)
        return silenceUntil(begin, nowNs);
    if (at - begin > tolerance) {
        // Too late to begin this one on time: silence up to the next.
        begin = tickStart(++tick) - advance;
        return silenceUntil(begin, nowNs);
    }
    // The frame is worked out once the datagram before it has come, or, when that one is late
    // or lost, half a period before it begins.
    const bool heard = lastTick >= tick - 1;
    const qint64 fallback = at - periodNs / 2;
    if (!heard && nowNs < fallback)
        return waitUntil(fallback);

    const double nominal =
        double(settings.sampleRate) * double(periodNumNs) / (double(periodDen) * double(kSecondNs));
    const qint64 shortest = qint64(std::floor(nominal - nominal / kStretchDivisor));
    const qint64 longest = qint64(std::ceil(nominal + nominal / kStretchDivisor));
    Block block;
    block.kind = Block::Frame;
    block.startNs = at;
    block.firstSample = written;
    block.samples = qBound(shortest, sampleAt(tickStart(tick + 1) - advance) - written, longest);
    block.record = moving ? Timecode::offset(lastRecord, tick - lastTick) : lastRecord;
    block.freewheel = lossAnnounced;
    block.afterArrival = heard && nowNs < fallback;
    block.arrivalNs = lastArrivalNs;
    if (lossAnnounced)
        --freewheelLeft;
    written += block.samples;
    afterFrame = true;
    return block;
}

} // namespace Follow
