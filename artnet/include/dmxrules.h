// Where received DMX goes: the placement of a universe in the caller's buffer, the pixels a
// universe reaches (pixels.h sets them), the byte getDmxValue reads, the hold's expiry and the
// universe numbers callers count from 1. Plain functions of numbers; the node locks, calls them and
// copies.
#pragma once

#include <QtGlobal>

#include <optional>

namespace DmxRules {

// A hold that no sync packet has renewed for longer than this is given up, so a controller that
// stops sending syncs cannot freeze the caller's buffer.
inline constexpr qint64 kHoldExpiryMs = 3000;

// Up to this many channels per universe the blocks of the caller's buffer are that long; from
// one more on every universe takes a whole DMX universe's room.
inline constexpr quint16 kLargestPackedChannels = 511;

// The block of the caller's DMX buffer that one received universe writes.
struct Placement
{
    bool addressed = false; // the universe is the node's own or one above it
    quint64 start = 0;      // first byte of the block
    quint64 count = 0;      // bytes to copy: 0 for a block at or beyond the buffer's end
};

// Universe k above the node's own starts at byte k·W (W channels per universe, up to
// kLargestPackedChannels) or k·512 (from there on), and takes min(length, W) bytes, cut at the
// buffer's end. k is counted in 16 bits.
Placement placeUniverse(quint16 universe, quint16 ownUniverse, quint16 channelsPerUniverse,
                        quint16 length, quint32 bufferSize);

// The pixels one received universe writes: W / 3 pixels per universe (at most 512), three data
// bytes each, red first; a last incomplete triple sets red, or red and green.
struct PixelSpan
{
    quint64 first = 0; // index of the universe's first pixel in the caller's array
    quint32 count = 0; // pixels touched, 0 when none
};
PixelSpan placePixels(quint16 universe, quint16 ownUniverse, quint16 channelsPerUniverse,
                      quint16 length, quint32 pixelCount);

// The byte of the caller's buffer that holds a channel of a universe counted from the buffer's
// start, whatever the node's own universe, where placeUniverse put it: k·W + channel up to
// kLargestPackedChannels, k·512 + channel from there on. Nothing for a channel past W (past 512
// from there on) or a byte past the end.
std::optional<quint64> valuePosition(quint16 universeIndex, quint16 channel,
                                     quint16 channelsPerUniverse, quint32 bufferSize);

// Whether a hold that was last renewed this long ago is given up (exactly kHoldExpiryMs still
// holds).
bool holdExpired(qint64 sinceCommitMs);

// The 0-based Port-Address of a universe number callers count from 1; nothing for 0.
std::optional<quint16> portAddressOf(quint16 universeNumber);

} // namespace DmxRules
