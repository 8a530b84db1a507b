// The output side: datagrams to an address or to the local broadcast addresses, ArtDmx with its
// 500 ms repeat, and ArtTimeCode.
#include "artnet.h"
#include "packets.h"

#include <QTimer>
#include <QUdpSocket>

#include <array>
#include <cstring>

using namespace ArtNetPacket;

namespace {

// Receivers drop a universe they have not heard for a while; repeating the last frame keeps
// them lit while the caller has nothing new to send.
constexpr int kRepeatIntervalMs = 500;

} // namespace

bool artnet::enableSending()
{
    if (!openSocket())
        return false;
    if (sendingReady)
        return true;

    if (!dmxTemplate) {
        dmxTemplate = new quint8[kDmxImageSize]();
        std::memcpy(dmxTemplate + kIdOffset, kArtNetId, kIdSize);
        dmxTemplate[kOpCodeOffset] = quint8(kOpDmx & 0xFF);
        dmxTemplate[kOpCodeOffset + 1] = quint8(kOpDmx >> 8);
        dmxTemplate[kProtVerHiOffset] = kProtVerHi;
        dmxTemplate[kProtVerLoOffset] = kProtVerLo;
        // Sequence, Physical, SubUni, Net, Length and the data stay 0.
    }
    if (!lastPacket) {
        lastPacket = new quint8[kDmxImageSize]();
        lastPacketValid = false;
    }
    if (!sendTimer) {
        sendTimer = new QTimer(this);
        connect(sendTimer, &QTimer::timeout, this, &artnet::sendDataTimeout);
        sendTimer->start(kRepeatIntervalMs);
    }
    sendingReady = true;
    return true;
}

void artnet::disableSending()
{
    delete sendTimer;
    sendTimer = nullptr;
    delete[] dmxTemplate;
    dmxTemplate = nullptr;
    delete[] lastPacket;
    lastPacket = nullptr;
    lastPacketLength = 0;
    lastPacketValid = false;
    delete lastDestination;
    lastDestination = nullptr;
    sendingReady = false;
}

qint64 artnet::sendDatagram(const char* data, quint16 length, const QHostAddress* destination)
{
    if (!data)
        return -2;
    if (length == 0)
        return -3;
    // Without an open socket there is nothing to write through: a socket error, not a crash.
    if (!socket)
        return -1;
    if (destination)
        return socket->writeDatagram(data, length, *destination, kPort);
    if (!interfaces || interfaces->isEmpty())
        return -3;
    return socket->writeDatagram(data, length, interfaces->first().address.broadcast(), kPort);
}

qint64 artnet::sendDmx(const quint8* data, quint16 length, quint8 subUni, quint8 net,
                       const QHostAddress* destination)
{
    if (!enableSending() || !data || length < kDmxMinSendSlots || length > kDmxMaxSlots)
        return -1;

    std::array<quint8, kDmxImageSize> packet;
    std::memcpy(packet.data(), dmxTemplate, kDmxHeaderSize);
    packet[kDmxSubUniOffset] = subUni;
    packet[kDmxNetOffset] = net;
    packet[kDmxLengthHiOffset] = quint8(length >> 8);
    packet[kDmxLengthLoOffset] = quint8(length & 0xFF);
    std::memcpy(packet.data() + kDmxDataOffset, data, length);
    const quint16 packetLength = quint16(kDmxHeaderSize + length);

    const qint64 sent =
        sendDatagram(reinterpret_cast<const char*>(packet.data()), packetLength, destination);
    // A failed send leaves the previous frame repeating.
    if (sent < 0)
        return -1;

    std::memcpy(lastPacket, packet.data(), packetLength);
    lastPacketLength = packetLength;
    lastPacketValid = true;
    if (destination) {
        if (lastDestination)
            *lastDestination = *destination;
        else
            lastDestination = new QHostAddress(*destination);
    } else {
        delete lastDestination;
        lastDestination = nullptr;
    }
    return sent;
}

qint64 artnet::sendDmxUniverse(const quint8* data, quint16 length, quint16 universeNumber,
                               const QHostAddress* destination)
{
    if (universeNumber == 0)
        return 0;
    const quint16 portAddress = quint16(universeNumber - 1);
    const quint8 subUni = quint8(portAddress % 256);
    const quint8 net = quint8(portAddress / 256);
    if (destination)
        return sendDmx(data, length, subUni, net, destination);
    if (!interfaces || interfaces->isEmpty())
        return 0;
    // The first network's broadcast address becomes the repeat destination as well.
    const QHostAddress broadcast = interfaces->first().address.broadcast();
    return sendDmx(data, length, subUni, net, &broadcast);
}

qint64 artnet::sendDataTimeout()
{
    if (!lastPacketValid)
        return -1;
    const char* packet = reinterpret_cast<const char*>(lastPacket);
    if (lastDestination)
        return sendDatagram(packet, lastPacketLength, lastDestination);
    if (interfaces) {
        for (const InterfaceEntry& entry : *interfaces) {
            const QHostAddress broadcast = entry.address.broadcast();
            sendDatagram(packet, lastPacketLength, &broadcast);
        }
    }
    return -1;
}

qint64 artnet::sendTimecode(const TimecodeRecord* timecode, const QHostAddress* destination)
{
    if (!timecode || !enableSending())
        return -1;
    if (!discoverInterfaces())
        return -1;

    std::array<quint8, kTimeCodeSize> packet{};
    std::memcpy(packet.data(), dmxTemplate, kDmxHeaderSize);
    packet[kOpCodeOffset] = quint8(kOpTimeCode & 0xFF);
    packet[kOpCodeOffset + 1] = quint8(kOpTimeCode >> 8);
    packet[kTimeCodeFiller1Offset] = 0;
    packet[kTimeCodeStreamIdOffset] = 0;
    packet[kTimeCodeFramesOffset] = timecode->frames;
    packet[kTimeCodeSecondsOffset] = timecode->seconds;
    packet[kTimeCodeMinutesOffset] = timecode->minutes;
    packet[kTimeCodeHoursOffset] = timecode->hours;
    packet[kTimeCodeTypeOffset] = timecode->type;
    // The pad byte after Type stays 0.
    const char* data = reinterpret_cast<const char*>(packet.data());

    if (destination)
        return sendDatagram(data, kTimeCodeSize, destination);
    if (interfaces->isEmpty())
        return -1;
    qint64 total = 0;
    for (const InterfaceEntry& entry : *interfaces) {
        const QHostAddress broadcast = entry.address.broadcast();
        total += sendDatagram(data, kTimeCodeSize, &broadcast);
    }
    return total;
}
