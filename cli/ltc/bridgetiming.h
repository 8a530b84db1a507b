// When and as what a decoded LTC frame goes out as ArtTimeCode.
//
// An LTC frame is known only after its last bit, a whole frame after the time it names began.
// So by default the frame after the decoded one is sent, which is the frame the audio is
// playing at that moment; a further offset may be added, and the correction left out.
//
// From a file (or an input paced like one), frame k goes out when the wall clock reaches the
// end of its last sample, counting from the moment the input's first sample was due.
#pragma once

#include "ltc/ltcdecoder.h"

#include "framepacer.h"
#include "packets.h"

#include <QString>
#include <QtGlobal>

#include <atomic>

// An offset as given on the command line, "+HH:MM:SS:FF" or "-HH:MM:SS:FF" (the sign may be
// left out for a forward one).
struct TimecodeOffset
{
    bool backward = false;
    quint8 hours = 0;
    quint8 minutes = 0;
    quint8 seconds = 0;
    quint8 frames = 0;
};

// False when the text is not of that form or a field is out of range for every rate.
bool parseOffset(const QString& text, TimecodeOffset* offset);

// The offset as a timecode of the Type (unsigned).
TimecodeRecord offsetRecord(const TimecodeOffset& offset, quint8 type);

// The offset in frames of the Type's numbering: a drop-frame offset counts as the timecode it
// reads as, so +00:10:00:00 is 17982 frames at 29.97. False when the offset reads as no
// timecode of that Type (frames beyond its rate, a number drop-frame skips).
bool offsetFrames(const TimecodeOffset& offset, quint8 type, qint64* frames);

// Frames added to every decoded time: the offset, and one more with latency correction.
qint64 bridgeShift(qint64 offsetFrames, bool latencyCorrection);

// The ArtTimeCode record a decoded frame goes out as, `shift` frames on in its own numbering
// (across midnight either way).
TimecodeRecord bridgedRecord(const LtcFrame& frame, quint8 type, qint64 shift);

// Nanoseconds from the input's first sample to the end of sample `sample` of a stream of
// sampleRate samples a second; exact for inputs of any length.
qint64 sampleEndNs(qint64 sample, int sampleRate);

// Paces the frames of an input by its sample clock.
class SamplePacer
{
public:
    // The input's first sample is due now.
    SamplePacer(PacingClock& clock, int sampleRate);

    // Waits until the end of `lastSample` is due; false when `stop` was raised first.
    bool waitForEnd(qint64 lastSample, const std::atomic<bool>& stop);

    // The clock's time at the end of `lastSample`.
    qint64 due(qint64 lastSample) const;

private:
    PacingClock& clock;
    int sampleRate;
    qint64 start;
};
