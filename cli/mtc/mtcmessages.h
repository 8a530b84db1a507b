// MIDI timecode's two messages as byte images: the quarter frame (F1 0nnn dddd), eight of which
// carry one time a nibble each, and the full-frame SysEx (F0 7F <device> 01 01 hh mm ss ff F7),
// which locates. Both carry a rate code, 0 to 3 for 24, 25, 29.97 drop-frame and 30: the same
// numbers as ArtTimeCode's Type, so the Type is the rate code. Plain functions over bytes.
#pragma once

#include "packets.h"

#include <QtGlobal>

#include <array>

namespace Mtc {

// The quarter frame: its status byte and its data byte 0nnn dddd, the piece number n (0 to 7)
// and its nibble d.
inline constexpr quint8 kQuarterFrame = 0xF1;
inline constexpr int kQuarterFrameSize = 2;
inline constexpr int kQuarterFrameDataOffset = 1;
inline constexpr int kPieceShift = 4;
inline constexpr quint8 kNibbleMask = 0x0F;
inline constexpr quint8 kDataByteMask = 0x7F; // a MIDI data byte has its top bit clear
// Pieces of one time, and of one frame: eight pieces span two frames.
inline constexpr int kPieces = 8;
inline constexpr int kPiecesPerFrame = 4;
// The pieces, low nibble first: frames, seconds, minutes, hours. Each high nibble holds only
// the bits its field needs (1, 2, 2 and 1); piece 7 holds the rate code above the hour's bit.
inline constexpr int kPieceFramesLow = 0;
inline constexpr int kPieceFramesHigh = 1;
inline constexpr int kPieceSecondsLow = 2;
inline constexpr int kPieceSecondsHigh = 3;
inline constexpr int kPieceMinutesLow = 4;
inline constexpr int kPieceMinutesHigh = 5;
inline constexpr int kPieceHoursLow = 6;
inline constexpr int kPieceHoursHigh = 7; // 0rrh: the rate code and the hour's fifth bit
inline constexpr int kHighNibbleRateShift = 1;

// The full-frame message (a Universal Real Time SysEx).
inline constexpr quint8 kSysExStart = 0xF0;
inline constexpr quint8 kSysExEnd = 0xF7;
inline constexpr quint8 kUniversalRealTime = 0x7F;
inline constexpr quint8 kAllDevices = 0x7F;
inline constexpr quint8 kSubIdTimecode = 0x01;
inline constexpr quint8 kSubIdFullFrame = 0x01;
inline constexpr int kFullFrameSize = 10;
inline constexpr int kFullFrameRealTimeOffset = 1;
inline constexpr int kFullFrameDeviceOffset = 2;
inline constexpr int kFullFrameSubId1Offset = 3;
inline constexpr int kFullFrameSubId2Offset = 4;
inline constexpr int kFullFrameHoursOffset = 5; // 0rrhhhhh: the rate code and the hours
inline constexpr int kFullFrameMinutesOffset = 6;
inline constexpr int kFullFrameSecondsOffset = 7;
inline constexpr int kFullFrameFramesOffset = 8;
inline constexpr int kFullFrameEndOffset = 9;
inline constexpr int kHoursByteRateShift = 5;
inline constexpr quint8 kHoursByteHoursMask = 0x1F;

// The data byte of piece `piece` (0 to 7) of the record's time.
quint8 quarterFrameData(const TimecodeRecord& record, int piece);
std::array<quint8, kQuarterFrameSize> quarterFrame(const TimecodeRecord& record, int piece);

// The full-frame message of the record, to every device.
std::array<quint8, kFullFrameSize> fullFrame(const TimecodeRecord& record);

// What a message is, as far as MTC goes.
enum class Reading {
    NotMtc,     // another message: a note, MIDI clock, another SysEx
    Good,       // read into the record
    Truncated,  // MTC, cut short or not ended where it must end
    OutOfRange, // MTC, with a value no timecode of its rate has
};

// A full-frame message (from any device) into *record, its Type from the rate code.
Reading readFullFrame(const quint8* bytes, int size, TimecodeRecord* record);

// The piece number and nibble of a quarter frame's data byte.
int pieceOf(quint8 data);
quint8 nibbleOf(quint8 data);

// A high nibble with no bit set beyond what its field needs.
bool nibbleInRange(int piece, quint8 nibble);

// The time eight nibbles give, pieces 0 to 7, its Type from piece 7's rate code; not checked
// against its rate.
TimecodeRecord assemble(const std::array<quint8, kPieces>& nibbles);

} // namespace Mtc
