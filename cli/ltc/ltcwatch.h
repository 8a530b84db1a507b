// What the bridge notices about the LTC it is given, as plain rules over sample positions and
// times: a frame sent too late to be worth sending, the signal lost and back, the frames
// freewheeled over a dropout, LTC running at the wrong speed for the stated sample rate, and a
// recording piped in as if it were a live line.
#pragma once

#include "ltc/ltcdecoder.h"

#include <QtGlobal>

// A frame due at dueNs (the end of its last sample, by the sample clock or by the arrival of
// that sample) is out of date at nowNs when more than one frame period has passed since.
bool frameStale(qint64 dueNs, qint64 nowNs, qint64 periodNs);

// How far decoded LTC runs from real time against the stated sample rate: `frames` frames that
// spanned `samples` samples, at a nominal `fps`. +0.088 is 8.8 % fast.
double speedError(qint64 frames, qint64 samples, int sampleRate, double fps);
// Beyond 1 % either way the sample rate is wrong, not the clock of the LTC's source.
inline constexpr double kSpeedTolerance = 0.01;
bool speedWrong(double error);
// Continuous frames measured before speedWrong() is asked: two seconds at 24 fps.
inline constexpr qint64 kSpeedFrames = 48;
// The sample rate at which the LTC would run true: one of the usual ones when it is within
// 0.5 % of it, else the rate rounded to 10 Hz.
int fittingSampleRate(int sampleRate, double error);

// A pipe that has handed over `samples` samples `elapsedNs` after its first: a recording read
// from a file when, after two seconds of audio, more than 1.5 times real time came.
bool pipeTooFast(qint64 samples, int sampleRate, qint64 elapsedNs);

// Follows the frames decoded from a stream and the samples read, and says when the LTC is
// lost, which frames to freewheel, and when it is back.
class LossWatch
{
public:
    enum Step {
        Nothing,
        Freewheel, // the next freewheeled frame: `freewheeled()` frames after the last decoded
        Lost,      // two frame periods without a decodable frame
    };

    explicit LossWatch(int freewheelFrames);

    // A good frame decoded. True when it ends a loss.
    bool decoded(const LtcFrame& frame);

    // With `position` samples read, the next thing that happened, with the sample it happened
    // at; call again until Nothing.
    Step advance(qint64 position, qint64* sample);

    // Whole frame periods from the last decoded frame's start to `firstSample`: the numbers a
    // frame starting there is expected to be on from the last.
    qint64 framesSinceLast(qint64 firstSample) const;

    // A frame ending at lastSample that was decoded only after the loss it belongs before.
    bool fromBeforeLoss(qint64 lastSample) const;

    bool lost() const { return isLost; }
    int freewheeled() const { return freewheelSent; }

private:
    int freewheelFrames;
    bool haveFrame = false;
    LtcFrame last;
    qint64 length = 1; // samples of the last decoded frame
    bool isLost = false;
    qint64 lossSample = -1;
    int freewheelSent = 0;
};
