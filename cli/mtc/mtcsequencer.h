// Which MTC messages a run of frames goes out as, and when: plain rules over records and times.
//
// Eight quarter frames carry one time over two frames: pieces 0..3 in the frame of that time,
// pieces 4..7 in the next, each a quarter of the frame after the one before. Frames that follow
// each other go on with the pieces; anything else (the first frame, the first after a silence,
// a jump or a locate, the first frame moving again after a pause) starts with a full-frame
// message at the frame's beginning, and the pieces start afresh from it with piece 0. A sender
// that holds its time gets one full frame for it and no pieces, as a stopped machine sends: it
// also puts a receiver back from the frame it counted on from the pieces before.
#pragma once

#include "mtc/mtcmessages.h"

#include <QtGlobal>

#include <vector>

namespace Mtc {

// One message and the moment it is due on the steady clock.
struct TimedMessage
{
    qint64 dueNs = 0;
    quint8 bytes[kFullFrameSize] = {};
    int size = 0;
};

class Sequencer
{
public:
    // The messages of the frame carrying `record` that begins at startNs and lasts lengthNs,
    // appended in the order they are due; piece i is due i quarters of the frame on.
    void frame(const TimecodeRecord& record, qint64 startNs, qint64 lengthNs,
               std::vector<TimedMessage>* messages);
    // Nothing goes out for a while: the next frame starts anew.
    void silence() { previous = false; }

private:
    bool previous = false;  // a frame came before, with nothing between
    TimecodeRecord last;    // its time
    bool half = false;      // pieces 0..3 of `carried` went out, and 4..7 are due
    TimecodeRecord carried; // the time the pieces under way carry
    bool held = false;      // the sender holds its time, and its full frame went out
};

} // namespace Mtc
