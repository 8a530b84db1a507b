// Which of ArtTimeCode's four rates an LTC stream runs at, told by the stream itself: the
// drop-frame flag means 29.97; otherwise the last frame number before a second begins gives 24,
// 25 or 30 exactly, whatever the playback speed. A second of timecode at any rate has such a
// step within kCadenceFrames frames; where they show none (a stream that jumps), the cadence of
// its frames decides.
#pragma once

#include "ltc/ltcdecoder.h"

#include <QtGlobal>

inline constexpr int kCadenceFrames = 30;

class RateDetector
{
public:
    explicit RateDetector(int sampleRate);

    // Takes the next good frame; true once the rate is known (one second of timecode at the
    // latest).
    bool add(const LtcFrame& frame);

    // At the end of the input, decides from what there was; false when there was no frame.
    bool settle();

    bool known() const { return decided; }
    // An ArtTimeCode Type; valid once known().
    quint8 type() const { return result; }

private:
    void decide(quint8 type);
    void decideByCadence();

    int sampleRate;
    bool decided = false;
    quint8 result = 0;
    bool havePrevious = false;
    LtcFrame previous;
    qint64 frameCount = 0;
    qint64 spannedSamples = 0;
    int highestFrame = -1;
};
