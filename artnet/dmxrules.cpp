#include "dmxrules.h"
#include "packets.h"

#include <algorithm>

using ArtNetPacket::kDmxMaxSlots;

namespace DmxRules {

Placement placeUniverse(quint16 universe, quint16 ownUniverse, quint16 channelsPerUniverse,
                        quint16 length, quint32 bufferSize)
{
    Placement placement;
    if (universe < ownUniverse)
        return placement;
    placement.addressed = true;
    const quint64 block = quint16(universe - ownUniverse);
    const quint16 channels = channelsPerUniverse;
    placement.start = channels <= kLargestPackedChannels ? block * channels : block * kDmxMaxSlots;
    const quint64 room = placement.start < bufferSize ? bufferSize - placement.start : 0;
    placement.count = std::min<quint64>(std::min<quint64>(length, channels), room);
    return placement;
}

PixelSpan placePixels(quint16 universe, quint16 ownUniverse, quint16 channelsPerUniverse,
                      quint16 length, quint32 pixelCount)
{
    PixelSpan span;
    if (universe < ownUniverse)
        return span;
    const quint64 block = quint16(universe - ownUniverse);
    const quint32 pixelsPerUniverse = std::min<quint32>(channelsPerUniverse / 3, kDmxMaxSlots);
    span.first = block * pixelsPerUniverse;
    if (pixelsPerUniverse == 0 || length == 0 || span.first >= pixelCount)
        return span;
    const quint32 triples = (quint32(length) + 2) / 3;
    span.count = quint32(std::min<quint64>({pixelsPerUniverse, pixelCount - span.first, triples}));
    return span;
}

std::optional<quint64> valuePosition(quint16 universeIndex, quint16 channel,
                                     quint16 channelsPerUniverse, quint32 bufferSize)
{
    // Read where placeUniverse writes: past kLargestPackedChannels a universe's block is 512
    // bytes apart and holds no more.
    const quint16 stride =
        channelsPerUniverse <= kLargestPackedChannels ? channelsPerUniverse : quint16(kDmxMaxSlots);
    if (channel >= stride)
        return std::nullopt;
    const quint64 position = quint64(universeIndex) * stride + channel;
    if (position >= bufferSize)
        return std::nullopt;
    return position;
}

bool holdExpired(qint64 sinceCommitMs)
{
    return sinceCommitMs > kHoldExpiryMs;
}

std::optional<quint16> portAddressOf(quint16 universeNumber)
{
    if (universeNumber == 0)
        return std::nullopt;
    return quint16(universeNumber - 1);
}

} // namespace DmxRules
