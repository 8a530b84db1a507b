// The output side: datagrams to an address or to the local broadcast addresses, ArtDmx with its
// 500 ms repeat, and ArtTimeCode.
#include "artnet.h"
#include "dmxrules.h"
#include "packets.h"

#include <QTimer>

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
        dmxTemplate = new quint8[kDmxImageSize];
        writeDmxTemplate(dmxTemplate);
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
        return kSendNoData;
    if (length == 0)
        return kSendEmptyOrNoNetwork;
    // Without an open socket there is nothing to write through: a socket error, not a crash.
    if (!transport || !socketReady)
        return kSendError;
    if (destination) {
        // The socket is IPv4 only. Dual-stack sockets hand their callers IPv4 addresses as
        // ::ffff:a.b.c.d, which reach the same host; a real IPv6 address fails as a socket
        // error, kSendError.
        if (destination->protocol() == QAbstractSocket::IPv6Protocol) {
            bool isIpv4 = false;
            const quint32 ipv4 = destination->toIPv4Address(&isIpv4);
            if (isIpv4)
                return transport->send(data, length, QHostAddress(ipv4), kPort);
        }
        return transport->send(data, length, *destination, kPort);
    }
    if (!interfaces || interfaces->isEmpty())
        return kSendEmptyOrNoNetwork;
    return transport->send(data, length, interfaces->first().address.broadcast(), kPort);
}

qint64 artnet::sendToEveryNetwork(
    const char* data, quint16 length,
    const std::function<void(const InterfaceEntry&, const QHostAddress&, qint64)>& sent)
{
    qint64 total = 0;
    if (!interfaces)
        return total;
    for (const InterfaceEntry& entry : *interfaces) {
        const QHostAddress broadcast = entry.address.broadcast();
        const qint64 result = sendDatagram(data, length, &broadcast);
        total += result;
        if (sent)
            sent(entry, broadcast, result);
    }
    return total;
}

qint64 artnet::sendDmx(const quint8* data, quint16 length, quint8 subUni, quint8 net,
                       const QHostAddress* destination)
{
    if (!enableSending() || !data || length < kDmxMinSendSlots || length > kDmxMaxSlots)
        return kSendError;

    std::array<quint8, kDmxImageSize> packet;
    const int packetLength = writeDmx(packet.data(), dmxTemplate, subUni, net, data, length);
    const qint64 sent = sendDatagram(reinterpret_cast<const char*>(packet.data()),
                                     quint16(packetLength), destination);
    // A failed send leaves the previous frame repeating.
    if (sent < 0)
        return kSendError;

    std::memcpy(lastPacket, packet.data(), size_t(packetLength));
    lastPacketLength = quint16(packetLength);
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
    const std::optional<quint16> portAddress = DmxRules::portAddressOf(universeNumber);
    if (!portAddress)
        return kSendNothingSent;
    const quint8 subUni = quint8(*portAddress & 0xFF);
    const quint8 net = quint8(*portAddress >> 8);
    if (destination)
        return sendDmx(data, length, subUni, net, destination);
    if (!interfaces || interfaces->isEmpty())
        return kSendNothingSent;
    // The first network's broadcast address becomes the repeat destination as well.
    const QHostAddress broadcast = interfaces->first().address.broadcast();
    return sendDmx(data, length, subUni, net, &broadcast);
}

qint64 artnet::sendDataTimeout()
{
    if (!lastPacketValid)
        return kSendError;
    const char* packet = reinterpret_cast<const char*>(lastPacket);
    if (lastDestination)
        return sendDatagram(packet, lastPacketLength, lastDestination);
    // Errors of the repeats are not reported: the next tick tries again.
    sendToEveryNetwork(packet, lastPacketLength);
    return kSendError;
}

qint64 artnet::sendTimecode(const TimecodeRecord* timecode, const QHostAddress* destination)
{
    if (!timecode || !enableSending())
        return kSendError;
    if (!discoverInterfaces())
        return kSendError;

    std::array<quint8, kTimeCodeSize> packet;
    writeTimeCode(packet.data(), *timecode);
    const char* data = reinterpret_cast<const char*>(packet.data());

    if (destination)
        return sendDatagram(data, kTimeCodeSize, destination);
    if (interfaces->isEmpty())
        return kSendError;
    return sendToEveryNetwork(data, kTimeCodeSize);
}
