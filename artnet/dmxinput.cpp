// DMX input: the own universe, the caller's multi-universe buffer with its sync-driven hold, and
// the mapping of received data onto the caller's pixels.
#include "artnet.h"
#include "packets.h"

#include <QColor>
#include <QMutexLocker>

#include <cstring>

using namespace ArtNetPacket;

namespace {

// A hold that no sync packet has renewed for longer than this is given up, so a controller that
// stops sending syncs cannot freeze the caller's buffer.
constexpr qint64 kHoldExpiryMs = 3000;

} // namespace

bool artnet::enableDmxInput()
{
    if (dmxInputReady)
        return true;
    if (!openSocket())
        return false;
    if (!universeData)
        universeData = new quint8[kDmxMaxSlots]();
    dmxInputReady = true;
    return true;
}

void artnet::disableDmxInput()
{
    if (universeData) {
        universeDataLength = 0;
        delete[] universeData;
        universeData = nullptr;
    }
    dmxInputReady = false;
}

bool artnet::setUniverse(quint16 universeNumber)
{
    if (universeNumber == 0)
        return false;
    const quint16 portAddress = quint16(universeNumber - 1);
    if (portAddress != universe) {
        universe = portAddress;
        universeDataLength = 0;
    }
    return true;
}

bool artnet::readUniverse(quint8* destination, quint16* length)
{
    if (!enableDmxInput())
        return false;
    if (!destination || !length || *length == 0)
        return false;
    if (*length > universeDataLength)
        *length = universeDataLength;
    std::memcpy(destination, universeData, *length);
    return true;
}

void artnet::setDmxBuffer(quint8* buffer, quint32 size, quint16 channelsPerUniverse)
{
    if (buffer) {
        // A universe of no channels cannot be placed, and would divide the port count by 0.
        if (channelsPerUniverse == 0)
            return;
        if (!enableDmxInput())
            return;
        quint8* shadow = new quint8[size]();
        QMutexLocker lock(dmxMutex);
        dmxBuffer = buffer;
        dmxBufferSize = size;
        dmxChannelsPerUniverse = channelsPerUniverse;
        delete[] shadowBuffer;
        shadowBuffer = shadow;
    } else {
        QMutexLocker lock(dmxMutex);
        dmxBuffer = nullptr;
        dmxBufferSize = 0;
        dmxChannelsPerUniverse = 512;
        delete[] shadowBuffer;
        shadowBuffer = nullptr;
    }
}

void artnet::getDmxBuffer(quint8** buffer, quint32* size)
{
    if (buffer)
        *buffer = dmxBuffer;
    if (size)
        *size = dmxBufferSize;
}

bool artnet::getDmxValue(quint16 universeIndex, quint16 channel, quint8* value)
{
    if (!value || !dmxBuffer || channel >= dmxChannelsPerUniverse)
        return false;
    // Any universe whose byte lies inside the caller's buffer can be read.
    const quint64 position = quint64(universeIndex) * dmxChannelsPerUniverse + channel;
    if (position >= dmxBufferSize)
        return false;
    *value = dmxBuffer[position];
    return true;
}

void artnet::setPixelBuffer(QColor* colors, quint32 count, quint16 channelsPerUniverse)
{
    if (colors) {
        if (channelsPerUniverse == 0)
            return;
        if (!enableDmxInput())
            return;
        pixelBuffer = colors;
        pixelCount = count;
        pixelChannelsPerUniverse = channelsPerUniverse;
    } else {
        pixelBuffer = nullptr;
        pixelCount = 0;
        pixelChannelsPerUniverse = 512;
    }
}

void artnet::setSyncClock(ElapsedClock* clock)
{
    if (!clock)
        return;
    delete syncClock;
    syncClock = clock;
}

void artnet::commitDmx()
{
    // The clock is read under the lock by the placement, and a caller may commit from its own
    // thread.
    QMutexLocker lock(dmxMutex);
    syncClock->restart();
    if (shadowBuffer && dmxBufferSize != 0)
        std::memcpy(dmxBuffer, shadowBuffer, dmxBufferSize);
}

void artnet::receiveOwnUniverse(const quint8* image)
{
    if (dmxUniverse(image) != universe)
        return;
    const quint16 length = dmxLength(image);
    std::memcpy(universeData, image + kDmxDataOffset, length);
    universeDataLength = length;
}

void artnet::receiveDmx(const quint8* image)
{
    // Held for the whole placement: the caller may swap its buffer from another thread, and
    // every size used below must belong to the buffer that is written.
    QMutexLocker lock(dmxMutex);
    const quint16 packetUniverse = dmxUniverse(image);
    if (!dmxBuffer || dmxBufferSize == 0 || packetUniverse < universe)
        return;

    const quint64 block = quint16(packetUniverse - universe);
    const quint16 channels = dmxChannelsPerUniverse;
    const quint64 start = channels <= 511 ? block * channels : block * kDmxMaxSlots;
    // A block beyond the buffer copies nothing, but still counts as traffic for the hold.
    const quint64 room = start < dmxBufferSize ? dmxBufferSize - start : 0;
    const quint64 count = qMin<quint64>(qMin<quint64>(dmxLength(image), channels), room);

    if (dmxHold != 0 && syncClock->elapsed() > kHoldExpiryMs)
        dmxHold = 0;

    if (count == 0)
        return;
    const quint8* data = image + kDmxDataOffset;
    std::memcpy(shadowBuffer + start, data, count);
    // Outside a hold the frame goes straight to the caller; the shadow keeps the same bytes so
    // that a later sync publishes this data and not an older frame.
    if (dmxHold == 0)
        std::memcpy(dmxBuffer + start, data, count);
}

void artnet::receivePixels(const quint8* image)
{
    const quint16 packetUniverse = dmxUniverse(image);
    if (!pixelBuffer || pixelCount == 0 || packetUniverse < universe)
        return;

    const quint64 block = quint16(packetUniverse - universe);
    const quint32 pixelsPerUniverse = qMin<quint32>(dmxChannelsPerUniverse / 3, kDmxMaxSlots);
    const quint16 length = dmxLength(image);
    const quint64 first = block * pixelsPerUniverse;
    if (pixelsPerUniverse == 0 || length == 0 || first >= pixelCount)
        return;

    const quint8* data = image + kDmxDataOffset;
    for (quint32 i = 0; i < pixelsPerUniverse && first + i < pixelCount; ++i) {
        const quint32 byte = 3 * i;
        if (byte >= length)
            break;
        QColor& pixel = pixelBuffer[first + i];
        pixel.setRed(data[byte]);
        if (byte + 1 < length)
            pixel.setGreen(data[byte + 1]);
        if (byte + 2 < length)
            pixel.setBlue(data[byte + 2]);
    }
}
