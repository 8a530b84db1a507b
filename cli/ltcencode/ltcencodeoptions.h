// The options of "chronolume-cli ltc-encode", parsed and checked into plain values before any
// audio is written.
#pragma once

#include "artnet.h"
#include "ltcencode/followoptions.h"
#include "timecode.h"

#include <QString>
#include <QStringList>

struct LtcEncodeOptions
{
    quint8 type = Timecode::kEbu; // 25 fps unless told otherwise
    TimecodeRecord start{0, 0, 0, 0, Timecode::kEbu};
    qint64 frameCount = -1; // frames to write, -1 until interrupted
    int sampleRate = 48000;
    double level = -18.0; // dBFS
    QString output;       // a WAV file, or "-" for raw samples on standard output
    int bits = 16;        // of a WAV file's samples
    bool quiet = false;
    // --follow: LTC in real time that follows a sender's ArtTimeCode, raw to standard output.
    bool follow = false;
    Follow::Target followed;
    qint64 advanceNs = 0;
    int freewheelFrames = 25;
};

// Parses and checks the arguments after "ltc-encode". True when the audio is to be written;
// otherwise the help was shown (*status kOk) or the input complained about (*status kUsage).
bool parseLtcEncodeOptions(const QStringList& arguments, LtcEncodeOptions* options, int* status);
