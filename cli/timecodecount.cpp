#include "timecodecount.h"

namespace TimecodeCount {

namespace {

constexpr quint8 kTypeFilm = 0;
constexpr quint8 kTypeEbu = 1;
constexpr quint8 kTypeDropFrame = 2;
constexpr quint8 kTypeSmpte = 3;

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

} // namespace

int nominalFps(quint8 type)
{
    switch (type) {
    case kTypeFilm:
        return 24;
    case kTypeEbu:
        return 25;
    case kTypeDropFrame:
    case kTypeSmpte:
        return 30;
    default:
        return 0;
    }
}

double nominalRate(quint8 type)
{
    if (type == kTypeDropFrame)
        return 30000.0 / 1001.0;
    return nominalFps(type);
}

double nominalPeriodMs(quint8 type)
{
    const double rate = nominalRate(type);
    return rate > 0 ? 1000.0 / rate : 0.0;
}

qint64 framesPerDay(quint8 type)
{
    if (type == kTypeDropFrame)
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
    if (record.type == kTypeDropFrame && record.seconds == 0 && record.frames < kDroppedPerMinute &&
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
    if (record.type != kTypeDropFrame)
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
    if (type == kTypeDropFrame) {
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
    return fromFrameNumber(toFrameNumber(record) + 1, record.type);
}

QString text(const TimecodeRecord& record)
{
    return QString::asprintf("%02u:%02u:%02u:%02u", unsigned(record.hours),
                             unsigned(record.minutes), unsigned(record.seconds),
                             unsigned(record.frames));
}

} // namespace TimecodeCount
