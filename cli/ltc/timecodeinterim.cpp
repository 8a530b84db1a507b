// The parts of the shared timecode numbering these commands use, on the companion program's
// own numbering, until the node library carries the shared one.
#include "timecode.h"
#include "timecodecount.h"

namespace Timecode {

int nominalFps(quint8 type)
{
    return TimecodeCount::nominalFps(type);
}

double nominalRate(quint8 type)
{
    return TimecodeCount::nominalRate(type);
}

bool isValid(const TimecodeRecord& record)
{
    return TimecodeCount::isValid(record);
}

qint64 toFrameNumber(const TimecodeRecord& record)
{
    return TimecodeCount::toFrameNumber(record);
}

TimecodeRecord fromFrameNumber(qint64 n, quint8 type)
{
    return TimecodeCount::fromFrameNumber(n, type);
}

QString text(const TimecodeRecord& record)
{
    return TimecodeCount::text(record);
}

TimecodeRecord offset(const TimecodeRecord& record, qint64 frames)
{
    const qint64 day = TimecodeCount::framesPerDay(record.type);
    const qint64 start = TimecodeCount::toFrameNumber(record);
    if (day <= 0 || start < 0)
        return TimecodeCount::fromFrameNumber(0, record.type);
    return TimecodeCount::fromFrameNumber(((start + frames) % day + day) % day, record.type);
}

} // namespace Timecode
