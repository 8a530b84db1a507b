// What mtc-bridge sends for the MTC it reads, and when: plain rules over messages and the times
// they arrived at, so that every rule is tested with times made up by the test.
//
// A whole time read from quarter frames is two frames old when its last piece comes: the eight
// pieces span two frames. So by default the bridge sends the time the music is at, the decoded
// time plus two frames, and one frame on every four pieces in between; a full frame is a locate
// and is sent as it is, at once; a time read backwards is sent as it comes, one frame back every
// four pieces. Without the correction each time goes out as decoded. Two frame periods without
// a frame is a loss, told once; from the last frame read, up to freewheelFrames frames may be
// sent on at the rate (backwards after a time read backwards), a quarter of a frame after each
// was due; the first frame read after a loss is told with
// how far it is from where the numbering would have been.
#pragma once

#include "mtc/mtcreader.h"

#include "timecode.h"

#include <QtGlobal>

#include <array>
#include <vector>

namespace Mtc {

struct BridgeSettings
{
    bool latencyCorrection = true;
    int freewheelFrames = 0;
    // Frames added to every time sent, in each Type's own numbering; an offset no timecode of a
    // Type reads as does not exist at it.
    std::array<qint64, Timecode::kTypeCount> offsetFrames{};
    std::array<bool, Timecode::kTypeCount> offsetExists{{true, true, true, true}};
};

struct BridgeCounts
{
    qint64 decoded = 0;  // frames read: whole times, frames counted between them, locates
    qint64 locates = 0;  // of those, full frames
    qint64 reversed = 0; // of those, read from pieces in order 7..0
    qint64 sent = 0;
    qint64 freewheeled = 0; // frames sent on after a loss
    qint64 errors = 0;      // MTC that could not be used
    bool rateKnown = false;
    quint8 type = 0;            // of the last frame sent
    TimecodeRecord last;        // the last time sent
    TimecodeRecord lastDecoded; // the last time sent from MTC
    enum State { Running, Freewheel, Lost };
    State state = Running;
};

// One thing the bridge does.
struct BridgeAction
{
    enum Kind {
        Send,          // record: the ArtTimeCode to send
        Lost,          // record: the last time sent from MTC
        Back,          // record: the first time sent again; jump: frames beyond the numbering
        OffsetRefused, // record.type: a Type whose numbering has no such offset; nothing sent
    };
    Kind kind = Send;
    TimecodeRecord record;
    qint64 jump = 0;
    bool freewheel = false; // Send: a frame sent on after a loss
};

class BridgeRules
{
public:
    explicit BridgeRules(const BridgeSettings& settings);

    // A whole MIDI message that arrived at nowNs; what it makes the bridge do is appended.
    void message(const quint8* bytes, int size, qint64 nowNs, std::vector<BridgeAction>* actions);

    // What is due by nowNs without a message: frames freewheeled, the loss.
    void advance(qint64 nowNs, std::vector<BridgeAction>* actions);

    // When advance() has something to do next; -1 when nothing waits.
    qint64 nextDueNs() const;

    const BridgeCounts& counts() const { return count; }

private:
    void sendRead(const TimecodeRecord& time, bool reverse, qint64 nowNs,
                  std::vector<BridgeAction>* actions);
    void send(const TimecodeRecord& time, bool freewheel, std::vector<BridgeAction>* actions);
    qint64 freewheelDueNs() const;
    qint64 lossDueNs() const;

    BridgeSettings settings;
    Reader reader;
    BridgeCounts count;
    bool haveRead = false;   // a frame read from MTC, which the numbering and the loss go from
    TimecodeRecord position; // its time, before the offset
    bool backwards = false;  // it was read from pieces in order 7..0
    qint64 readNs = 0;       // when it was read
    bool lost = false;       // the loss was told, and nothing was read since
    int freewheelSent = 0;   // frames sent on since it
    bool offsetRefused = false;
};

} // namespace Mtc
