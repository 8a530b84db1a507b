// Reading MIDI timecode, message by message: quarter frames gathered into whole times, the frames
// counted between them, full frames (locates), and what is wrong with bad input. A plain state
// machine over bytes; when each message arrived is the caller's business.
//
// Eight pieces in order 0..7 give a whole time when piece 7 comes; in order 7..0 (the sender
// plays backwards) when piece 0 comes. The direction is told by each piece against the one
// before; a sender that turns round starts a new run, which is no error. Four pieces in order
// after a whole time are one frame on (one back, backwards), as are four after a full frame
// that piece 0 follows.
#pragma once

#include "mtc/mtcmessages.h"

#include <QtGlobal>

#include <array>

namespace Mtc {

struct Event
{
    enum Kind {
        None,   // nothing to act on: a piece on its way, or a message that is not MTC
        Time,   // eight pieces in order gave `record`
        Frame,  // four pieces in order since the last Time or Locate: one frame on (back)
        Locate, // a full-frame message for `record`
        Error,  // MTC that cannot be used, counted
    };
    enum Problem {
        NoProblem,
        Truncated,  // a message cut short, or not ended where it must end
        OutOfOrder, // a piece that neither follows the one before nor starts a run
        OutOfRange, // a nibble or a whole time no timecode of its rate has
    };
    Kind kind = None;
    TimecodeRecord record;    // Time, Locate
    bool reverse = false;     // Time, Frame: pieces in order 7..0
    bool afterLocate = false; // Frame: counted from a full frame rather than a whole time
    Problem problem = NoProblem;
};

class Reader
{
public:
    // One whole MIDI message as it came.
    Event read(const quint8* bytes, int size);

    // Forgets the pieces so far: after a dropout they belong to a time that has gone.
    void reset();

    // Messages that were MTC and could not be used.
    qint64 errors() const { return errorCount; }

private:
    Event piece(quint8 data);
    Event error(Event::Problem problem);

    std::array<quint8, kPieces> nibbles{};
    int last = -1;         // the last piece of the run; -1 when there is none
    int direction = 0;     // +1 pieces 0..7, -1 pieces 7..0, 0 not known yet
    int run = 0;           // pieces in order so far, at most kPieces
    bool anchored = false; // a Time or Locate that the pieces since continue
    bool fromLocate = false;
    int sinceAnchor = 0; // pieces in order since it
    qint64 errorCount = 0;
};

} // namespace Mtc
