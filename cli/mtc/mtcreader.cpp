#include "mtc/mtcreader.h"

#include "timecode.h"

#include <algorithm>

namespace Mtc {

Event Reader::read(const quint8* bytes, int size)
{
    if (size <= 0)
        return {};
    if (bytes[0] == kQuarterFrame) {
        if (size != kQuarterFrameSize || bytes[kQuarterFrameDataOffset] > kDataByteMask)
            return error(Event::Truncated);
        return piece(bytes[kQuarterFrameDataOffset]);
    }
    if (bytes[0] != kSysExStart)
        return {}; // notes, MIDI clock and the like share the port
    Event event;
    switch (readFullFrame(bytes, size, &event.record)) {
    case Reading::NotMtc:
        return {};
    case Reading::Truncated:
        return error(Event::Truncated);
    case Reading::OutOfRange:
        return error(Event::OutOfRange);
    case Reading::Good:
        break;
    }
    // The pieces that follow a locate start from it, piece 0 first.
    reset();
    anchored = true;
    fromLocate = true;
    event.kind = Event::Locate;
    return event;
}

void Reader::reset()
{
    last = -1;
    run = 0;
    direction = 0;
    anchored = false;
    sinceAnchor = 0;
}

Event Reader::error(Event::Problem problem)
{
    ++errorCount;
    reset();
    Event event;
    event.kind = Event::Error;
    event.problem = problem;
    return event;
}

Event Reader::piece(quint8 data)
{
    const int number = pieceOf(data);
    const quint8 nibble = nibbleOf(data);
    if (!nibbleInRange(number, nibble))
        return error(Event::OutOfRange);
    int step = 0;
    if (last >= 0) {
        if (number == (last + 1) % kPieces) {
            step = 1;
        } else if (number == (last + kPieces - 1) % kPieces) {
            step = -1;
        } else {
            // A piece went missing or came twice: the error is counted, and this piece starts
            // a new run.
            const Event event = error(Event::OutOfOrder);
            nibbles[size_t(number)] = nibble;
            last = number;
            run = 1;
            return event;
        }
    }
    if (step == 0 || (direction != 0 && step != direction)) {
        // A run begins: the first piece, or the sender turned round and the piece before is
        // this run's first. Only piece 0 right after a full frame goes on from it.
        anchored = anchored && step == 0 && fromLocate && number == 0;
        sinceAnchor = 0;
        run = step == 0 ? 1 : 2;
    } else {
        run = std::min(run + 1, kPieces);
    }
    direction = step;
    nibbles[size_t(number)] = nibble;
    last = number;
    if (anchored)
        ++sinceAnchor;

    const int closing = direction > 0 ? kPieceHoursHigh : kPieceFramesLow;
    if (run == kPieces && direction != 0 && number == closing) {
        Event event;
        event.record = assemble(nibbles);
        if (!Timecode::isValid(event.record))
            return error(Event::OutOfRange);
        anchored = true;
        fromLocate = false;
        sinceAnchor = 0;
        event.kind = Event::Time;
        event.reverse = direction < 0;
        return event;
    }
    if (anchored && sinceAnchor == kPiecesPerFrame) {
        Event event;
        event.kind = Event::Frame;
        event.reverse = direction < 0;
        event.afterLocate = fromLocate;
        return event;
    }
    return {};
}

} // namespace Mtc
