#include "timecode.h"

#include <cmath>

namespace Timecode {

namespace {

constexpr qint64 kSecondsPerMinute = 60;
constexpr qint64 kMinutesPerHour = 60;
constexpr qint64 kHoursPerDay = 24;

// Drop-frame numbering keeps 29.97 fps timecode close to the clock: frame numbers 0 and 1 are
// left out at the start of every minute except every tenth, 108 numbers an hour.
constexpr qint64 kDropFrameFps = 30;
constexpr qint64 kDroppedPerMinute = 2;
constexpr qint64 kMinutesPerBlock = 10; // the tenth minute keeps its numbers
constexpr qint64 kFramesPerFullMinute = kDropFrameFps * kSecondsPerMinute;           // 1800
constexpr qint64 kFramesPerDroppedMinute = kFramesPerFullMinute - kDroppedPerMinute; // 1798
constexpr qint64 kFramesPerBlock =
    kFramesPerFullMinute + (kMinutesPerBlock - 1) * kFramesPerDroppedMinute; // 17982

// Indexed by Type.
constexpr Rate kRates[kTypeCount] = {
    {24, 1, 24, false, "24 FPS"},
    {25, 1, 25, false, "25 FPS"},
    {int(kDropFrameFps), 1001, 30000, true, "30 Drop"},
    {30, 1, 30, false, "30 FPS"},
};

} // namespace

bool isKnownType(quint8 type)
{
    return type < kTypeCount;
}

Rate rate(quint8 type)
{
    if (!isKnownType(type)) {
        Rate unknown;
        unknown.name = kUnknownRateName;
        return unknown;
    }
    return kRates[type];
}

const char* rateName(quint8 type)
{
    return rate(type).name;
}

int nominalFps(quint8 type)
{
    return rate(type).framesPerSecond;
}

double nominalRate(quint8 type)
{
    const Rate r = rate(type);
    return r.periodNumerator > 0 ? double(r.periodDenominator) / double(r.periodNumerator) : 0.0;
}

double nominalPeriodMs(quint8 type)
{
    const Rate r = rate(type);
    return 1000.0 * double(r.periodNumerator) / double(r.periodDenominator);
}

qint64 periodNs(quint8 type)
{
    return std::llround(nominalPeriodMs(type) * 1e6);
}

bool isDropFrame(quint8 type)
{
    return rate(type).dropFrame;
}

QString text(const TimecodeRecord& record)
{
    return QString::asprintf("%02u:%02u:%02u:%02u", unsigned(record.hours),
                             unsigned(record.minutes), unsigned(record.seconds),
                             unsigned(record.frames));
}

bool sameRecord(const TimecodeRecord& a, const TimecodeRecord& b)
{
    return a.frames == b.frames && a.seconds == b.seconds && a.minutes == b.minutes &&
           a.hours == b.hours && a.type == b.type;
}

qint64 framesPerDay(quint8 type)
{
    if (isDropFrame(type))
        return kFramesPerBlock * (kMinutesPerHour / kMinutesPerBlock) * kHoursPerDay;
    return qint64(nominalFps(type)) * kSecondsPerMinute * kMinutesPerHour * kHoursPerDay;
}

bool isValid(const TimecodeRecord& record)
{
    const int fps = nominalFps(record.type);
    if (fps == 0)
        return false;
    if (record.hours >= kHoursPerDay || record.minutes >= kMinutesPerHour ||
        record.seconds >= kSecondsPerMinute || record.frames >= fps)
        return false;
    if (isDropFrame(record.type) && record.seconds == 0 && record.frames < kDroppedPerMinute &&
        record.minutes % kMinutesPerBlock != 0)
        return false;
    return true;
}

qint64 toFrameNumber(const TimecodeRecord& record)
{
    if (!isValid(record))
        return -1;
    const qint64 fps = nominalFps(record.type);
    const qint64 totalMinutes = qint64(record.hours) * kMinutesPerHour + record.minutes;
    const qint64 plain = (totalMinutes * kSecondsPerMinute + record.seconds) * fps + record.frames;
    if (!isDropFrame(record.type))
        return plain;
    // Every minute that is not a tenth one has lost two numbers before this frame.
    const qint64 droppedMinutes = totalMinutes - totalMinutes / kMinutesPerBlock;
    return plain - kDroppedPerMinute * droppedMinutes;
}

TimecodeRecord fromFrameNumber(qint64 n, quint8 type)
{
    TimecodeRecord record;
    record.type = type;
    const qint64 perDay = framesPerDay(type);
    if (perDay == 0)
        return record;
    n %= perDay;
    if (n < 0)
        n += perDay;

    const qint64 fps = nominalFps(type);
    qint64 plain = n;
    if (isDropFrame(type)) {
        // Put the skipped numbers back: each ten-minute block holds all its minutes' numbers but
        // two in each of the nine minutes after its first.
        const qint64 blocks = n / kFramesPerBlock;
        const qint64 inBlock = n % kFramesPerBlock;
        qint64 dropped = blocks * (kMinutesPerBlock - 1) * kDroppedPerMinute;
        if (inBlock >= kFramesPerFullMinute)
            dropped += kDroppedPerMinute *
                       (1 + (inBlock - kFramesPerFullMinute) / kFramesPerDroppedMinute);
        plain = n + dropped;
    }
    record.frames = quint8(plain % fps);
    const qint64 seconds = plain / fps;
    record.seconds = quint8(seconds % kSecondsPerMinute);
    const qint64 minutes = seconds / kSecondsPerMinute;
    record.minutes = quint8(minutes % kMinutesPerHour);
    record.hours = quint8(minutes / kMinutesPerHour);
    return record;
}

TimecodeRecord next(const TimecodeRecord& record)
{
    return offset(record, 1);
}

TimecodeRecord offset(const TimecodeRecord& record, qint64 frames)
{
    // An invalid record numbers -1, so one frame on from it is midnight.
    return fromFrameNumber(toFrameNumber(record) + frames, record.type);
}

Step step(const TimecodeRecord& previous, const TimecodeRecord& current)
{
    if (sameRecord(previous, current))
        return {StepKind::Repeat, 0};
    if (previous.type != current.type)
        return {StepKind::Jump, 0};
    const qint64 from = toFrameNumber(previous);
    const qint64 to = toFrameNumber(current);
    if (from < 0 || to < 0)
        return {StepKind::Jump, 0};
    // Distances in the sender's own numbering, either way round the day.
    const qint64 day = framesPerDay(current.type);
    const qint64 forward = ((to - from) % day + day) % day;
    const qint64 backward = day - forward;
    if (forward == 1)
        return {StepKind::Next, 0};
    if (forward - 1 <= kMaxMissingGap)
        return {StepKind::Gap, forward - 1};
    if (backward <= kMaxMissingGap)
        return {StepKind::Back, backward};
    return {StepKind::Jump, 0};
}

Heard Numbering::take(const TimecodeRecord& record, qint64 arrivalNs)
{
    if (!started) {
        started = true;
        last = record;
        heard = record;
        lastArrival = arrivalNs;
        mainArrival = arrivalNs;
        return {HeardKind::First};
    }
    // A copy sent on purpose, or doubled on the way, comes well within a frame of the first.
    if (sameRecord(heard, record) && arrivalNs - lastArrival <= periodNs(record.type) / 2)
        return {HeardKind::Duplicate};

    Heard result;
    if (isSilent(lastArrival, arrivalNs)) {
        // Back after a dropout: the numbering is taken up afresh, wherever it went meanwhile.
        last = record;
        backwards = 0;
        otherArrival = -1;
        mainArrival = arrivalNs;
        result.kind = HeardKind::Resumed;
    } else if (sameRecord(heard, record)) {
        // A frame held: the one heard last, late or not, again.
        mainArrival = arrivalNs;
        result.kind = HeardKind::Repeat;
    } else if (reverse(record, result)) {
        mainArrival = arrivalNs;
    } else if (!second(record, arrivalNs, result)) {
        result = stepFromNewest(record, arrivalNs);
        mainArrival = arrivalNs;
    }
    heard = record;
    lastArrival = arrivalNs;
    return result;
}

bool Numbering::twoSourcesAt(qint64 nowNs) const
{
    return conflict && secondArrival >= 0 && !isSilent(secondArrival, nowNs) &&
           !isSilent(mainArrival, nowNs);
}

bool Numbering::reverse(const TimecodeRecord& record, Heard& result)
{
    const Step back = step(heard, record);
    if (back.kind != StepKind::Back || back.frames != 1) {
        backwards = 0;
        return false;
    }
    if (++backwards < kReverseAfter)
        return false;
    result.kind = HeardKind::Reverse;
    result.reverseBegan = backwards == kReverseAfter;
    last = record;
    otherArrival = -1;
    return true;
}

bool Numbering::second(const TimecodeRecord& record, qint64 arrivalNs, Heard& result)
{
    if (otherArrival < 0 || isSilent(otherArrival, arrivalNs) ||
        step(last, record).kind == StepKind::Next || step(other, record).kind != StepKind::Next)
        return false;
    other = record;
    otherArrival = arrivalNs;
    result.kind = HeardKind::Second;
    if (++otherSteps >= kTwoSourcesAfter) {
        secondArrival = arrivalNs;
        if (!conflict) {
            conflict = true;
            result.twoSourcesBegan = true;
            // The step to the second numbering was no locate.
            result.jumpUndone = otherFromJump;
        }
    }
    return true;
}

Heard Numbering::stepFromNewest(const TimecodeRecord& record, qint64 arrivalNs)
{
    const Step s = step(last, record);
    switch (s.kind) {
    case StepKind::Next:
        last = record;
        return {HeardKind::Next};
    case StepKind::Repeat:
        return {HeardKind::Repeat};
    case StepKind::Gap:
        last = record;
        return {HeardKind::Gap, s.frames};
    case StepKind::Back:
        // It may be the first frame of a second numbering behind this one.
        other = record;
        otherArrival = arrivalNs;
        otherSteps = 0;
        otherFromJump = false;
        return {HeardKind::Back, s.frames};
    case StepKind::Jump:
        break;
    }
    // The numbering jumped from may go on beside the new one.
    other = last;
    otherArrival = arrivalNs;
    otherSteps = 0;
    otherFromJump = true;
    last = record;
    return {HeardKind::Jump};
}

} // namespace Timecode
