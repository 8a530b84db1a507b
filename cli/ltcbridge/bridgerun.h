// The bridge's work from the first sample read to the last datagram: decoding, the stream's
// rate, the time each frame goes out as, and the moment it goes out. The socket and the clock
// are handed in, so the benchmark runs exactly what the command runs.
#pragma once

#include "ltc/bridgetiming.h"
#include "ltc/pcminput.h"

#include "artnet.h"

#include <QString>

#include <atomic>
#include <functional>

struct BridgeSettings
{
    enum Pacing {
        AsDecoded,     // a live source: each frame goes out as it is decoded
        BySampleClock, // a file, or --realtime: each frame at its end in the input
        Fast,          // --fast: each frame as it is decoded, none left out
    };
    Pacing pacing = AsDecoded;
    int type = -1; // the Type --rate gave, or -1 for the one the stream shows
    TimecodeOffset offset;
    bool latencyCorrection = true;
};

struct BridgeCounts
{
    qint64 samples = 0; // read from the input
    qint64 decoded = 0; // good frames
    qint64 sent = 0;
    qint64 skipped = 0; // decoded while the rate was not known, and out of date once it was
    qint64 errors = 0;  // frames reversed, damaged, missing, or not of the rate
    qint64 failed = 0;  // datagrams the system refused
    int peak = 0;       // the largest sample magnitude read
    bool rateKnown = false;
    quint8 type = 0;
    TimecodeRecord last; // the last time sent
};

struct BridgeResult
{
    enum End {
        EndOfInput,
        Stopped,       // the stop flag
        ReadFailed,    // errorText says why
        OffsetRefused, // the offset is no timecode of the stream's rate; errorText says why
    };
    End end = EndOfInput;
    QString errorText;
    BridgeCounts counts;
};

// Sends one record; false when the system refused it. dueNs is the clock's time at the end of
// the frame's last sample, or -1 when the input is not paced.
using BridgeSend = std::function<bool(const TimecodeRecord& record, qint64 dueNs)>;
// Told after each frame sent.
using BridgeProgress = std::function<void(const BridgeCounts& counts)>;

BridgeResult runBridge(Pcm::SampleSource& source, const BridgeSettings& settings,
                       PacingClock& clock, const std::atomic<bool>& stop, const BridgeSend& send,
                       const BridgeProgress& progress);
