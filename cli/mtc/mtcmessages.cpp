#include "mtc/mtcmessages.h"

#include "timecode.h"

namespace Mtc {

namespace {

constexpr quint8 kRateCodeMask = 0x03;
constexpr quint8 kHourHighBit = 0x01;

// The bits each piece's nibble may hold: a low nibble all four, a high nibble what is left of
// its field (frames below 32, seconds and minutes below 64, hours below 32) and, in piece 7,
// the rate code.
constexpr quint8 kNibbleBits[kPieces] = {0x0F, 0x01, 0x0F, 0x03, 0x0F, 0x03, 0x0F, 0x07};

} // namespace

quint8 quarterFrameData(const TimecodeRecord& record, int piece)
{
    const quint8 fields[] = {record.frames, record.seconds, record.minutes, record.hours};
    const quint8 field = fields[piece / 2];
    quint8 nibble = piece % 2 == 0 ? field & kNibbleMask : quint8(field >> 4);
    if (piece == kPieceHoursHigh)
        nibble = quint8((nibble & kHourHighBit) |
                        ((record.type & kRateCodeMask) << kHighNibbleRateShift));
    return quint8((piece << kPieceShift) | (nibble & kNibbleBits[piece]));
}

std::array<quint8, kQuarterFrameSize> quarterFrame(const TimecodeRecord& record, int piece)
{
    return {kQuarterFrame, quarterFrameData(record, piece)};
}

std::array<quint8, kFullFrameSize> fullFrame(const TimecodeRecord& record)
{
    std::array<quint8, kFullFrameSize> message{};
    message[0] = kSysExStart;
    message[kFullFrameRealTimeOffset] = kUniversalRealTime;
    message[kFullFrameDeviceOffset] = kAllDevices;
    message[kFullFrameSubId1Offset] = kSubIdTimecode;
    message[kFullFrameSubId2Offset] = kSubIdFullFrame;
    message[kFullFrameHoursOffset] = quint8(((record.type & kRateCodeMask) << kHoursByteRateShift) |
                                            (record.hours & kHoursByteHoursMask));
    message[kFullFrameMinutesOffset] = record.minutes & kDataByteMask;
    message[kFullFrameSecondsOffset] = record.seconds & kDataByteMask;
    message[kFullFrameFramesOffset] = record.frames & kDataByteMask;
    message[kFullFrameEndOffset] = kSysExEnd;
    return message;
}

Reading readFullFrame(const quint8* bytes, int size, TimecodeRecord* record)
{
    // Byte by byte as far as the message goes: F0 7F <device> 01 01. A message that ends (or
    // stops, F7) before its header does is a cut-off full frame only if what it has fits one.
    const auto at = [bytes, size](int offset) { return offset < size ? int(bytes[offset]) : -1; };
    const auto ended = [&at](int offset) { return at(offset) < 0 || at(offset) == kSysExEnd; };
    if (at(0) != kSysExStart || ended(kFullFrameRealTimeOffset) ||
        at(kFullFrameRealTimeOffset) != kUniversalRealTime)
        return Reading::NotMtc;
    if (ended(kFullFrameDeviceOffset) || ended(kFullFrameSubId1Offset))
        return Reading::Truncated;
    if (at(kFullFrameSubId1Offset) != kSubIdTimecode)
        return Reading::NotMtc;
    if (ended(kFullFrameSubId2Offset))
        return Reading::Truncated;
    if (at(kFullFrameSubId2Offset) != kSubIdFullFrame)
        return Reading::NotMtc; // user bits, or another message of the timecode group
    if (size != kFullFrameSize || bytes[kFullFrameEndOffset] != kSysExEnd)
        return Reading::Truncated;
    for (int offset = kFullFrameHoursOffset; offset < kFullFrameEndOffset; ++offset) {
        if (bytes[offset] > kDataByteMask)
            return Reading::Truncated; // a status byte where data should be: the message broke
    }
    const quint8 hours = bytes[kFullFrameHoursOffset];
    const TimecodeRecord read{bytes[kFullFrameFramesOffset], bytes[kFullFrameSecondsOffset],
                              bytes[kFullFrameMinutesOffset], quint8(hours & kHoursByteHoursMask),
                              quint8((hours >> kHoursByteRateShift) & kRateCodeMask)};
    if (!Timecode::isValid(read))
        return Reading::OutOfRange;
    *record = read;
    return Reading::Good;
}

int pieceOf(quint8 data)
{
    return (data & kDataByteMask) >> kPieceShift;
}

quint8 nibbleOf(quint8 data)
{
    return data & kNibbleMask;
}

bool nibbleInRange(int piece, quint8 nibble)
{
    return (nibble & ~kNibbleBits[piece]) == 0;
}

TimecodeRecord assemble(const std::array<quint8, kPieces>& nibbles)
{
    const auto field = [&nibbles](int low) {
        return quint8(nibbles[size_t(low)] | (nibbles[size_t(low + 1)] << 4));
    };
    const quint8 hoursHigh = nibbles[kPieceHoursHigh];
    return TimecodeRecord{field(kPieceFramesLow), field(kPieceSecondsLow), field(kPieceMinutesLow),
                          quint8(nibbles[kPieceHoursLow] | ((hoursHigh & kHourHighBit) << 4)),
                          quint8((hoursHigh >> kHighNibbleRateShift) & kRateCodeMask)};
}

} // namespace Mtc
