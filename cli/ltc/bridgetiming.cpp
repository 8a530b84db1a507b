#include "ltc/bridgetiming.h"

#include "timecode.h"

#include <QRegularExpression>

namespace {

constexpr qint64 kNsPerSecond = 1000000000;

} // namespace

bool parseOffset(const QString& text, TimecodeOffset* offset)
{
    static const QRegularExpression shape(
        QStringLiteral("^([+-]?)(\\d{1,2}):(\\d{1,2}):(\\d{1,2}):(\\d{1,2})$"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return false;
    TimecodeOffset result;
    result.backward = match.captured(1) == QLatin1String("-");
    result.hours = quint8(match.captured(2).toUInt());
    result.minutes = quint8(match.captured(3).toUInt());
    result.seconds = quint8(match.captured(4).toUInt());
    result.frames = quint8(match.captured(5).toUInt());
    if (result.hours >= 24 || result.minutes >= 60 || result.seconds >= 60 || result.frames >= 30)
        return false;
    *offset = result;
    return true;
}

TimecodeRecord offsetRecord(const TimecodeOffset& offset, quint8 type)
{
    return TimecodeRecord{offset.frames, offset.seconds, offset.minutes, offset.hours, type};
}

bool offsetFrames(const TimecodeOffset& offset, quint8 type, qint64* frames)
{
    const qint64 number = Timecode::toFrameNumber(offsetRecord(offset, type));
    if (number < 0)
        return false;
    *frames = offset.backward ? -number : number;
    return true;
}

qint64 bridgeShift(qint64 offsetFrames, bool latencyCorrection)
{
    return offsetFrames + (latencyCorrection ? 1 : 0);
}

TimecodeRecord bridgedRecord(const LtcFrame& frame, quint8 type, qint64 shift)
{
    const TimecodeRecord decoded{frame.frames, frame.seconds, frame.minutes, frame.hours, type};
    return Timecode::offset(decoded, shift);
}

qint64 sampleEndNs(qint64 sample, int sampleRate)
{
    // Whole seconds and the rest apart, so sample × 10^9 never overflows.
    const qint64 end = sample + 1;
    return end / sampleRate * kNsPerSecond + end % sampleRate * kNsPerSecond / sampleRate;
}

SamplePacer::SamplePacer(PacingClock& clock, int sampleRate)
    : clock(clock), sampleRate(sampleRate), start(clock.now())
{
}

bool SamplePacer::waitForEnd(qint64 lastSample, const std::atomic<bool>& stop)
{
    const qint64 deadline = due(lastSample);
    while (!stop.load() && clock.now() < deadline)
        clock.sleepUntil(deadline);
    return !stop.load();
}

qint64 SamplePacer::due(qint64 lastSample) const
{
    return start + sampleEndNs(lastSample, sampleRate);
}
