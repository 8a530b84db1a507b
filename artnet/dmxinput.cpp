// DMX input: the own universe, the caller's multi-universe buffer with its sync-driven hold, and
// the mapping of received data onto the caller's pixels (whose colour rule is pixels.cpp's).
#include "artnet.h"
#include "dmxrules.h"
#include "packets.h"

#include <QMutexLocker>
#include <QThread>

#include <cstring>
#include <new>

using namespace ArtNetPacket;

bool artnet::enableDmxInput()
{
    if (dmxInputEnabled())
        return true;
    if (!openSocket())
        return false;
    // Another thread may be reading the own universe, under the lock.
    QMutexLocker lock(dmxMutex);
    if (!universeData)
        universeData = new (std::nothrow) quint8[kDmxMaxSlots]();
    if (!universeData)
        return false;
    dmxInputReady = true;
    return true;
}

bool artnet::dmxInputEnabled() const
{
    QMutexLocker lock(dmxMutex);
    return dmxInputReady;
}

void artnet::disableDmxInput()
{
    // A caller may be reading the own universe from its thread.
    QMutexLocker lock(dmxMutex);
    if (universeData) {
        universeDataLength = 0;
        delete[] universeData;
        universeData = nullptr;
    }
    dmxInputReady = false;
}

bool artnet::setUniverse(quint16 universeNumber)
{
    const std::optional<quint16> portAddress = DmxRules::portAddressOf(universeNumber);
    if (!portAddress)
        return false;
    // The own universe's length is read under the lock by callers on other threads.
    QMutexLocker lock(dmxMutex);
    if (*portAddress != universe) {
        universe = *portAddress;
        universeDataLength = 0;
    }
    return true;
}

bool artnet::readUniverse(quint8* destination, quint16* length)
{
    // Only the node's thread opens the socket: on another one, input turned off meanwhile reads
    // as nothing.
    if (!dmxInputEnabled() && (QThread::currentThread() != thread() || !enableDmxInput()))
        return false;
    if (!destination || !length || *length == 0)
        return false;
    QMutexLocker lock(dmxMutex);
    if (!dmxInputReady)
        return false;
    if (*length > universeDataLength)
        *length = universeDataLength;
    std::memcpy(destination, universeData, *length);
    return true;
}

void artnet::setDmxBuffer(quint8* buffer, quint32 size, quint16 channelsPerUniverse)
{
    // A universe of no channels cannot be placed, and would divide the port count by 0.
    if (buffer && (channelsPerUniverse == 0 || !enableDmxInput()))
        return;
    // A size the machine cannot hold is refused; the earlier registration stays.
    quint8* shadow = nullptr;
    if (buffer) {
        shadow = new (std::nothrow) quint8[size]();
        if (!shadow)
            return;
    }
    QMutexLocker lock(dmxMutex);
    dmxBuffer = buffer;
    dmxBufferSize = buffer ? size : 0;
    dmxChannelsPerUniverse = buffer ? channelsPerUniverse : kDmxMaxSlots;
    delete[] shadowBuffer;
    shadowBuffer = shadow;
}

void artnet::getDmxBuffer(quint8** buffer, quint32* size)
{
    QMutexLocker lock(dmxMutex);
    if (buffer)
        *buffer = dmxBuffer;
    if (size)
        *size = dmxBufferSize;
}

bool artnet::getDmxValue(quint16 universeIndex, quint16 channel, quint8* value)
{
    if (!value)
        return false;
    QMutexLocker lock(dmxMutex);
    if (!dmxBuffer)
        return false;
    const std::optional<quint64> position =
        DmxRules::valuePosition(universeIndex, channel, dmxChannelsPerUniverse, dmxBufferSize);
    if (!position)
        return false;
    *value = dmxBuffer[*position];
    return true;
}

void artnet::setPixelTarget(void* pixels, PixelWriter writer, quint32 count,
                            quint16 channelsPerPort)
{
    if (pixels && (channelsPerPort == 0 || !writer || !enableDmxInput()))
        return;
    QMutexLocker lock(dmxMutex);
    pixelBuffer = pixels;
    pixelWriter = pixels ? writer : nullptr;
    pixelCount = pixels ? count : 0;
    pixelChannelsPerPort = pixels ? channelsPerPort : kDmxMaxSlots;
}

void artnet::setSyncClock(ElapsedClock* clock)
{
    if (!clock)
        return;
    ElapsedClock* replaced;
    {
        // Every use of the clock runs under the lock, a commit from the caller's thread too.
        QMutexLocker lock(dmxMutex);
        replaced = syncClock;
        syncClock = clock;
    }
    delete replaced;
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

void artnet::receiveOwnUniverse(const DmxFrame& frame)
{
    if (frame.universe != universe)
        return;
    std::memcpy(universeData, frame.data, frame.length);
    universeDataLength = frame.length;
}

void artnet::receiveDmx(const DmxFrame& frame)
{
    if (!dmxBuffer || dmxBufferSize == 0)
        return;
    const DmxRules::Placement placement = DmxRules::placeUniverse(
        frame.universe, universe, dmxChannelsPerUniverse, frame.length, dmxBufferSize);
    // A block beyond the buffer copies nothing, but still counts as traffic for the hold.
    if (!placement.addressed)
        return;
    if (dmxHold != 0 && DmxRules::holdExpired(syncClock->elapsed()))
        dmxHold = 0;
    if (placement.count == 0)
        return;
    std::memcpy(shadowBuffer + placement.start, frame.data, placement.count);
    // Outside a hold the frame goes straight to the caller; the shadow keeps the same bytes so
    // that a later sync publishes this data and not an older frame.
    if (dmxHold == 0)
        std::memcpy(dmxBuffer + placement.start, frame.data, placement.count);
}

void artnet::receivePixels(const DmxFrame& frame)
{
    if (!pixelBuffer || pixelCount == 0)
        return;
    const DmxRules::PixelSpan span = DmxRules::placePixels(
        frame.universe, universe, dmxChannelsPerUniverse, frame.length, pixelCount);
    if (span.count == 0)
        return;
    pixelWriter(pixelBuffer, span.first, span.count, frame.data, frame.length);
}
