// LTC in: libltc's decoder behind a wrapper that hands out the frames worth passing on, with
// their places in the audio, and counts the ones it threw away.
#pragma once

#include <QtGlobal>

#include <deque>

struct LTCDecoder;

// One decoded LTC frame: its time as written, its drop-frame flag, and the samples it spans
// (counted from the first sample of the input).
struct LtcFrame
{
    quint8 hours = 0;
    quint8 minutes = 0;
    quint8 seconds = 0;
    quint8 frames = 0;
    bool dropFrame = false;
    qint64 firstSample = 0;
    qint64 lastSample = 0;
};

// How a frame's audio follows the frame decoded before it.
struct FrameJoin
{
    enum Kind {
        Continuous, // it begins where the one before ended
        Slipped,    // it begins inside the one before or a few bits after: a damaged frame
        Lost,       // `lost` whole frames are missing between the two
        Pause,      // the signal stopped for longer than kMaxLostFrames frames
    };
    Kind kind = Continuous;
    qint64 lost = 0;
};

// Beyond this many missing frames, a silence is a pause of the source, not damage.
inline constexpr qint64 kMaxLostFrames = 10;

// The join of a frame beginning at `firstSample` to one that spanned previousFirst to
// previousLast. A frame may start this far from where it should (in parts of the frame's
// length): the decoder places boundaries to a sample or two, and speed drifts slowly, while a
// damaged frame loses or gains at least half a bit (1/160 of a frame).
inline constexpr double kJoinTolerance = 0.004;
FrameJoin joinFrames(qint64 previousFirst, qint64 previousLast, qint64 firstSample);

// The time fields are binary-coded decimal a valid frame can carry: units below 10, frames
// below 30, seconds and minutes below 60, hours below 24, and no drop-frame number that the
// numbering skips.
bool plausible(const LtcFrame& frame);

class LtcDecoder
{
public:
    explicit LtcDecoder(int sampleRate);
    ~LtcDecoder();
    LtcDecoder(const LtcDecoder&) = delete;
    LtcDecoder& operator=(const LtcDecoder&) = delete;

    // The next samples of the input, in order.
    void write(const qint16* samples, int count);

    // The next good frame decoded so far; false when there is none yet.
    bool read(LtcFrame* frame);

    // Frames found in the audio, good or not.
    qint64 found() const { return foundCount; }
    // Frames left out: played backwards, damaged, or missing between two frames.
    qint64 errors() const { return errorCount; }

private:
    void drain();

    LTCDecoder* decoder = nullptr;
    qint64 position = 0;
    std::deque<LtcFrame> ready;
    bool havePrevious = false;
    qint64 previousFirst = 0;
    qint64 previousLast = 0;
    qint64 foundCount = 0;
    qint64 errorCount = 0;
};
