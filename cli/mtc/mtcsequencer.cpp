#include "mtc/mtcsequencer.h"

#include "timecode.h"

#include <algorithm>

namespace Mtc {

namespace {

void append(std::vector<TimedMessage>* messages, qint64 dueNs, const quint8* bytes, int size)
{
    TimedMessage message;
    message.dueNs = dueNs;
    std::copy(bytes, bytes + size, message.bytes);
    message.size = size;
    messages->push_back(message);
}

// Pieces first to first + 3 of `time`, a quarter of the frame apart, rounded to the nanosecond
// from the frame's beginning so that no rounding adds up.
void appendPieces(std::vector<TimedMessage>* messages, const TimecodeRecord& time, int first,
                  qint64 startNs, qint64 lengthNs)
{
    for (int i = 0; i < kPiecesPerFrame; ++i) {
        const auto piece = quarterFrame(time, first + i);
        const qint64 offset = (2 * i * lengthNs + kPiecesPerFrame) / (2 * kPiecesPerFrame);
        append(messages, startNs + offset, piece.data(), int(piece.size()));
    }
}

} // namespace

void Sequencer::frame(const TimecodeRecord& record, qint64 startNs, qint64 lengthNs,
                      std::vector<TimedMessage>* messages)
{
    const bool repeat = previous && Timecode::sameRecord(record, last);
    const bool following = previous && !held && Timecode::sameRecord(record, Timecode::next(last));
    previous = true;
    last = record;
    if (repeat) {
        if (!held) {
            const auto locate = fullFrame(record);
            append(messages, startNs, locate.data(), int(locate.size()));
        }
        held = true;
        half = false;
        return;
    }
    held = false;
    if (following && half) {
        appendPieces(messages, carried, kPiecesPerFrame, startNs, lengthNs);
        half = false;
        return;
    }
    if (!following) {
        const auto locate = fullFrame(record);
        append(messages, startNs, locate.data(), int(locate.size()));
    }
    carried = record;
    half = true;
    appendPieces(messages, carried, 0, startNs, lengthNs);
}

} // namespace Mtc
