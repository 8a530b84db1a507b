#include "common/timecodesender.h"
#include "common/console.h"

#include "packets.h"

#include <QUdpSocket>

#include <array>
#include <cerrno>
#include <cstring>

using namespace ArtNetPacket;

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
    if (!socket->bind(source.isNull() ? QHostAddress(QHostAddress::AnyIPv4) : source, 0)) {
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
    std::array<quint8, kTimeCodeSize> packet;
    writeTimeCode(packet.data(), record, stream);
    const char* const data = reinterpret_cast<const char*>(packet.data());
    bool allSent = true;
    for (const QHostAddress& destination : std::as_const(destinations)) {
        errno = 0;
        if (socket->writeDatagram(data, kTimeCodeSize, destination, kPort) == kTimeCodeSize)
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
