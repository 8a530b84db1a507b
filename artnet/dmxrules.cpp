#include "dmxrules.h"
#include "packets.h"

#include <QColor>

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

void writePixels(QColor* pixels, quint32 count, const quint8* data, quint16 length)
{
    for (quint32 i = 0; i < count; ++i) {
        const quint32 byte = 3 * i;
        QColor& pixel = pixels[i];
        pixel.setRed(data[byte]);
        if (byte + 1 < length)
            pixel.setGreen(data[byte + 1]);
        if (byte + 2 < length)
            pixel.setBlue(data[byte + 2]);
    }
}

std::optional<quint64> valuePosition(quint16 universeIndex, quint16 channel,
                                     quint16 channelsPerUniverse, quint32 bufferSize)
{
    if (channel >= channelsPerUniverse)
        return std::nullopt;
    const quint64 position = quint64(universeIndex) * channelsPerUniverse + channel;
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
