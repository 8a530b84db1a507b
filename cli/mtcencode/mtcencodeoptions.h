// The options of "chronolume-cli mtc-encode", parsed and checked into plain values before any
// MIDI port is opened.
#pragma once

#include "common/midioptions.h"
#include "ltcencode/followoptions.h"

#include "timecode.h"

#include <QString>
#include <QStringList>

struct MtcEncodeOptions
{
    quint8 type = Timecode::kEbu; // 25 fps unless told otherwise
    TimecodeRecord start{0, 0, 0, 0, Timecode::kEbu};
    qint64 frameCount = -1; // frames to write, -1 until interrupted
    // --follow: MTC in real time that follows a sender's ArtTimeCode.
    bool follow = false;
    Follow::Target followed;
    qint64 advanceNs = 0;
    int freewheelFrames = 25;
    MidiOptions::Values midi;
    bool quiet = false;
};

// Parses and checks the arguments after "mtc-encode". True when MTC is to be written (or the
// ports listed); otherwise the help was shown (*status kOk) or the input complained about
// (*status kUsage).
bool parseMtcEncodeOptions(const QStringList& arguments, MtcEncodeOptions* options, int* status);
