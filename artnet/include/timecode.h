// The timecode vocabulary that the window, the companion program and the benchmarks share: the
// four rates ArtTimeCode names by its Type byte, their names, the "HH:MM:SS:FF" text, and the
// numbering of frames under each rate, drop-frame included. Plain functions over records and
// numbers: nothing here touches a socket, a clock or a widget.
#pragma once

#include "packets.h"

#include <QString>
#include <QtGlobal>

namespace Timecode {

// The Type byte of ArtTimeCode.
enum Type : quint8 {
    kFilm = 0,      // 24 fps
    kEbu = 1,       // 25 fps
    kDropFrame = 2, // 29.97 fps, drop-frame numbering
    kSmpte = 3,     // 30 fps
};
inline constexpr int kTypeCount = 4;

// A Type this vocabulary knows (0 to 3).
bool isKnownType(quint8 type);

// Everything that follows from a Type. An unknown Type gives all zeros, not drop-frame, and the
// name kUnknownRateName.
struct Rate
{
    int framesPerSecond = 0;      // as the frame field counts them: 30 for drop-frame
    qint64 periodNumerator = 0;   // the exact frame period in seconds, numerator / denominator:
    qint64 periodDenominator = 1; // 1/24, 1/25, 1001/30000, 1/30
    bool dropFrame = false;
    const char* name = nullptr; // "24 FPS", "25 FPS", "30 Drop", "30 FPS"
};
Rate rate(quint8 type);

// The name shown for a Type outside 0 to 3.
inline constexpr const char kUnknownRateName[] = "unknown";

// The rate's display name, untranslated (the window passes it through tr()).
const char* rateName(quint8 type);

// Frames per second as the frame field counts them (30 for drop-frame); 0 for unknown types.
int nominalFps(quint8 type);
// Frames per second in real time (30000/1001 for drop-frame); 0 for unknown types.
double nominalRate(quint8 type);
// Milliseconds from one frame to the next; 0 for unknown types.
double nominalPeriodMs(quint8 type);
// Nanoseconds from one frame to the next, rounded; 0 for unknown types.
qint64 periodNs(quint8 type);
bool isDropFrame(quint8 type);

// "HH:MM:SS:FF", each field at least two digits, larger values shown as received.
QString text(const TimecodeRecord& record);

// Same time and same Type.
bool sameRecord(const TimecodeRecord& a, const TimecodeRecord& b);

// Frame numbers from 00:00:00:00 up to, not including, the next midnight; 0 for unknown types.
qint64 framesPerDay(quint8 type);

// A timecode its own type can carry: hours below 24, minutes and seconds below 60, frames below
// the rate, and for drop-frame not one of the frame numbers the numbering skips.
bool isValid(const TimecodeRecord& record);

// Frames since 00:00:00:00 under the record's numbering; -1 when the record is not valid.
qint64 toFrameNumber(const TimecodeRecord& record);

// The timecode of frame n (taken modulo a day, so the hours wrap from 23 to 0); a zero record of
// that type when the type is unknown.
TimecodeRecord fromFrameNumber(qint64 n, quint8 type);

// The frame after this one; midnight follows the day's last frame (and an invalid record).
TimecodeRecord next(const TimecodeRecord& record);

// The record `frames` frames after this one (before it when negative), across midnight.
TimecodeRecord offset(const TimecodeRecord& record, qint64 frames);

// Step rules: how the step from one received timecode to the next reads in the sender's own
// numbering, across midnight.
// A forward step that skips at most this many frames counts them as missing; a longer one is a
// locate. A step back by at most this many frames is a frame that came late.
inline constexpr qint64 kMaxMissingGap = 10;

enum class StepKind {
    Next,   // the frame after the previous one
    Repeat, // the same record again
    Gap,    // forward, skipping `frames` frames (1 to kMaxMissingGap)
    Back,   // backward by `frames` frames (1 to kMaxMissingGap)
    Jump,   // anything else: a locate, a restart, a new Type, a record its Type cannot carry
};

struct Step
{
    StepKind kind = StepKind::Jump;
    qint64 frames = 0;
};

Step step(const TimecodeRecord& previous, const TimecodeRecord& current);

// A sender is silent once nothing came from it for longer than this; a repeated frame still
// counts as sending. Whatever shows or judges senders uses this one rule.
inline constexpr qint64 kSilentAfterNs = 1'000'000'000;
constexpr bool isSilent(qint64 lastArrivalNs, qint64 nowNs)
{
    return nowNs - lastArrivalNs > kSilentAfterNs;
}

// One sender's frames read as a numbering, datagram by datagram: what each one was against the
// frames before it, and whether a second program sends under the same address and stream. The
// node's sender table keeps one for every sender, so the window, the web page and `monitor` all
// judge a second source the same way.

// Frames each one before its predecessor, this many in a row, are played backwards on purpose.
inline constexpr int kReverseAfter = 3;
// A second numbering that steps forward this many times beside the first is a second program
// sending under the same address and stream.
inline constexpr int kTwoSourcesAfter = 2;

enum class HeardKind {
    First,     // the sender's first timecode
    Duplicate, // the record heard last, again within half a frame period: a copy, not a frame
    Resumed,   // the first after a silence: the numbering is taken up afresh
    Repeat,    // a frame held: the record heard last again, or the newest frame after a late one
    Next,      // the frame after the newest
    Gap,       // forward from the newest, skipping `frames` frames
    Back,      // `frames` frames before the newest: late, or the start of a second numbering
    Jump,      // anything else from the newest
    Reverse,   // one before the frame heard last, kReverseAfter or more in a row
    Second,    // the frame after the second numbering's newest, beside the first
};

struct Heard
{
    HeardKind kind = HeardKind::First;
    qint64 frames = 0;
    // Reverse: this frame made the run long enough, so the kReverseAfter - 1 before it, judged
    // late or jumps as they came, were played backwards too.
    bool reverseBegan = false;
    // Second: this frame showed the second source; the jump that began its numbering was none.
    bool twoSourcesBegan = false;
    bool jumpUndone = false;
};

class Numbering
{
public:
    // One datagram's record and its arrival on a monotonic clock in nanoseconds.
    Heard take(const TimecodeRecord& record, qint64 arrivalNs);

    // The newest frame of the numbering followed, and the record of the last datagram that was
    // no duplicate.
    const TimecodeRecord& newest() const { return last; }
    const TimecodeRecord& lastHeard() const { return heard; }
    // When the last datagram that was no duplicate arrived.
    qint64 lastArrivalNs() const { return lastArrival; }
    // Frames in a row, so far, each one before the one heard before it.
    int backRun() const { return backwards; }
    // A second source was found at some time.
    bool twoSourcesSeen() const { return conflict; }
    // Two sources now: found, and both numberings heard within the silence limit.
    bool twoSourcesAt(qint64 nowNs) const;

private:
    bool reverse(const TimecodeRecord& record, Heard& result);
    bool second(const TimecodeRecord& record, qint64 arrivalNs, Heard& result);
    Heard stepFromNewest(const TimecodeRecord& record, qint64 arrivalNs);

    bool started = false;
    TimecodeRecord last;
    TimecodeRecord heard;
    qint64 lastArrival = 0;
    qint64 mainArrival = -1; // the last frame of the numbering followed
    // The newest frame of a second numbering seen beside `last`, and when it came; how often it
    // stepped forward since, and whether it began with a jump that then was none.
    TimecodeRecord other;
    qint64 otherArrival = -1;
    qint64 secondArrival = -1; // the last frame that continued a second numbering found
    int otherSteps = 0;
    bool otherFromJump = false;
    int backwards = 0;
    bool conflict = false;
};

} // namespace Timecode
