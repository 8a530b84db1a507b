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
    int freewheelFrames = 0; // sent on after a loss, at the rate
};

struct BridgeCounts
{
    qint64 samples = 0; // read from the input
    qint64 decoded = 0; // good frames
    qint64 sent = 0;
    qint64 skipped = 0;     // decoded while the rate was not known, and out of date once it was
    qint64 errors = 0;      // frames reversed, damaged, missing, or not of the rate
    qint64 failed = 0;      // datagrams the system refused
    qint64 stale = 0;       // decoded too late to be sent: more than a frame period after their end
    qint64 freewheeled = 0; // frames sent on after a loss
    int peak = 0;           // the largest sample magnitude read
    bool rateKnown = false;
    quint8 type = 0;
    TimecodeRecord last; // the last time sent
    enum State { Running, Freewheel, Lost };
    State state = Running;
    TimecodeRecord lastDecoded; // the last time sent from decoded LTC
};

// Something the bridge found about its input, once, as it happens.
struct BridgeNotice
{
    enum Kind {
        Lost,        // time: the last time sent from decoded LTC
        Back,        // time: the first sent again; jump: frames beyond the numbering continued
        WrongSpeed,  // speedError at the stated sample rate; fittingRate would be true
        PipeTooFast, // standard input comes faster than real time: a recording
    };
    Kind kind = Lost;
    quint8 type = 0; // of the stream
    TimecodeRecord time;
    qint64 jump = 0;
    double speedError = 0;
    int fittingRate = 0;
};

struct BridgeResult
{
    enum End {
        EndOfInput,
        Stopped,          // the stop flag
        ReadFailed,       // errorText says why
        OffsetRefused,    // the offset is no timecode of the stream's rate; errorText says why
        RateContradicted, // the LTC shows counts.type, not the rate --rate gave
    };
    End end = EndOfInput;
    QString errorText;
    BridgeCounts counts;
};

// Sends one record; false when the system refused it. dueNs is the clock's time at the end of
// the frame's last sample, or -1 when the input is not paced.
using BridgeSend = std::function<bool(const TimecodeRecord& record, qint64 dueNs)>;
// Told after each frame sent, and when the state changes.
using BridgeProgress = std::function<void(const BridgeCounts& counts)>;
using BridgeNotify = std::function<void(const BridgeNotice& notice)>;

BridgeResult runBridge(Pcm::SampleSource& source, const BridgeSettings& settings,
                       PacingClock& clock, const std::atomic<bool>& stop, const BridgeSend& send,
                       const BridgeProgress& progress, const BridgeNotify& notify = nullptr);
