#include "ltc/ltcdecoder.h"

#include "timecode.h"

#include <ltc.h>

#include <cmath>

namespace {

// A nominal rate to start from; the decoder follows the real one from the first frame on.
constexpr int kStartingFps = 25;
constexpr int kQueuedFrames = 32;
constexpr quint8 kNotDecimal = 0xFF;

quint8 bcd(unsigned tens, unsigned units)
{
    return units > 9 ? kNotDecimal : quint8(tens * 10 + units);
}

} // namespace

FrameJoin joinFrames(qint64 previousFirst, qint64 previousLast, qint64 firstSample)
{
    const qint64 length = qMax<qint64>(1, previousLast - previousFirst + 1);
    const qint64 gap = firstSample - (previousLast + 1);
    const double tolerance = qMax(2.0, double(length) * kJoinTolerance);
    if (std::abs(double(gap)) <= tolerance)
        return {FrameJoin::Continuous, 0};
    if (gap < length / 2)
        return {FrameJoin::Slipped, 0};
    const qint64 lost = qRound64(double(gap) / double(length));
    if (lost > kMaxLostFrames)
        return {FrameJoin::Pause, 0};
    return {FrameJoin::Lost, lost};
}

bool plausible(const LtcFrame& frame)
{
    // The widest numbering a frame without the flag can be in is 30 fps.
    const TimecodeRecord record{frame.frames, frame.seconds, frame.minutes, frame.hours,
                                frame.dropFrame ? Timecode::kDropFrame : Timecode::kSmpte};
    return Timecode::isValid(record);
}

LtcDecoder::LtcDecoder(int sampleRate)
    : decoder(ltc_decoder_create(qMax(1, sampleRate / kStartingFps), kQueuedFrames))
{
    if (!decoder)
        qFatal("out of memory for the LTC decoder");
}

LtcDecoder::~LtcDecoder()
{
    ltc_decoder_free(decoder);
}

void LtcDecoder::write(const qint16* samples, int count)
{
    // libltc takes a non-const buffer but only reads it.
    ltc_decoder_write_s16(decoder, const_cast<short*>(samples), size_t(count), position);
    position += count;
    drain();
}

bool LtcDecoder::read(LtcFrame* frame)
{
    if (ready.empty())
        return false;
    *frame = ready.front();
    ready.pop_front();
    return true;
}

void LtcDecoder::drain()
{
    LTCFrameExt ext;
    while (ltc_decoder_read(decoder, &ext)) {
        ++foundCount;
        if (ext.reverse) {
            ++errorCount;
            havePrevious = false;
            continue;
        }
        const LTCFrame& bits = ext.ltc;
        LtcFrame frame;
        frame.hours = bcd(bits.hours_tens, bits.hours_units);
        frame.minutes = bcd(bits.mins_tens, bits.mins_units);
        frame.seconds = bcd(bits.secs_tens, bits.secs_units);
        frame.frames = bcd(bits.frame_tens, bits.frame_units);
        frame.dropFrame = bits.dfbit != 0;
        frame.firstSample = ext.off_start;
        frame.lastSample = ext.off_end;

        bool good = plausible(frame);
        const qint64 previousLength = previousLast - previousFirst + 1;
        if (havePrevious && frame.lastSample - frame.firstSample + 1 > previousLength * 3 / 2) {
            // The signal stopped inside this frame; its closing edge was found only when the
            // signal came back. Its audio ended where a frame's does.
            frame.lastSample = frame.firstSample + previousLength - 1;
        }
        if (havePrevious) {
            const FrameJoin join = joinFrames(previousFirst, previousLast, frame.firstSample);
            if (join.kind == FrameJoin::Slipped)
                good = false;
            else if (join.kind == FrameJoin::Lost)
                errorCount += join.lost;
        }
        havePrevious = true;
        previousFirst = frame.firstSample;
        previousLast = frame.lastSample;
        if (!good) {
            ++errorCount;
            continue;
        }
        ready.push_back(frame);
    }
}
