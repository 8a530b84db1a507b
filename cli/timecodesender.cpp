#include "timecodesender.h"
#include "console.h"
#include "interfaces.h"
#include "packets.h"

#include <QUdpSocket>

#include <cerrno>
#include <cstring>

using namespace ArtNetPacket;

QByteArray artTimeCodePacket(const TimecodeRecord& record)
{
    QByteArray packet(kTimeCodeSize, '\0');
    writeTimeCode(reinterpret_cast<quint8*>(packet.data()), record);
    return packet;
}

QList<QHostAddress> localBroadcastAddresses()
{
    const InterfaceDiscovery::Result found =
        InterfaceDiscovery::discover(InterfaceDiscovery::systemAdapters());
    QList<QHostAddress> addresses;
    for (const InterfaceEntry& entry : found.entries) {
        // Discovery never lists a loopback address as a network of its own; one in the list is
        // the stand-in for "no network at all".
        if (entry.address.ip().isLoopback())
            continue;
        const QHostAddress broadcast = entry.address.broadcast();
        if (!addresses.contains(broadcast))
            addresses.append(broadcast);
    }
    return addresses;
}

TimecodeSender::TimecodeSender(QList<QHostAddress> destinationList)
    : destinations(std::move(destinationList))
{
}

TimecodeSender::~TimecodeSender()
{
    delete socket;
    socket = nullptr;
}

bool TimecodeSender::open()
{
    if (socket)
        return true;
    socket = new QUdpSocket;
    if (!socket->bind(QHostAddress::AnyIPv4, 0)) {
        firstError = CliText::tr("cannot open a UDP socket: %1").arg(socket->errorString());
        delete socket;
        socket = nullptr;
        return false;
    }
    return true;
}

bool TimecodeSender::send(const TimecodeRecord& record)
{
    if (!socket)
        return false;
    const QByteArray packet = artTimeCodePacket(record);
    bool allSent = true;
    for (const QHostAddress& destination : std::as_const(destinations)) {
        errno = 0;
        if (socket->writeDatagram(packet, destination, kPort) == packet.size())
            continue;
        // Qt words most send errors alike; the system's text says what went wrong.
        const int systemError = errno;
        allSent = false;
        if (firstError.isEmpty()) {
            const QString reason = systemError != 0
                                       ? QString::fromLocal8Bit(std::strerror(systemError))
                                       : socket->errorString();
            firstError = QStringLiteral("to %1: %2").arg(destination.toString(), reason);
        }
    }
    return allSent;
}
