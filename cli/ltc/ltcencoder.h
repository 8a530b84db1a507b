// LTC out: libltc's encoder behind a wrapper that writes the frames of the shared timecode
// numbering as 16-bit samples at a chosen level.
#pragma once

#include "packets.h"

#include <QtGlobal>

#include <vector>

struct LTCEncoder;

// The sample rates LTC is written at.
bool supportedEncodeRate(int sampleRate);

// The lowest level written, in dBFS: below it a 16-bit sample no longer carries the edge shape.
inline constexpr double kMinimumLevel = -60.0;

class LtcEncoder
{
public:
    // LTC at the rate of an ArtTimeCode Type (24, 25, 29.97 with the drop-frame flag, 30) and
    // a peak level of levelDb dBFS (0 down to kMinimumLevel). User bits stay 0.
    LtcEncoder(quint8 type, int sampleRate, double levelDb);
    ~LtcEncoder();
    LtcEncoder(const LtcEncoder&) = delete;
    LtcEncoder& operator=(const LtcEncoder&) = delete;

    // Appends the samples of one frame carrying this time (its Type is the encoder's).
    void encode(const TimecodeRecord& time, std::vector<qint16>* samples);

    // Appends the closing edge that lets a reader find the last frame's end.
    void finish(std::vector<qint16>* samples);

private:
    void take(std::vector<qint16>* samples);

    LTCEncoder* encoder = nullptr;
    double gain;
    size_t bitLength; // samples
};
