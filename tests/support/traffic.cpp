#include "traffic.h"
#include "probes.h"

#include <QCoreApplication>
#include <QtTest>

namespace TestSupport {

QByteArray header(quint16 opCode, const QByteArray& id)
{
    QByteArray packet = id.left(8);
    packet.append(char(opCode & 0xFF)); // OpCode, low byte first
    packet.append(char(opCode >> 8));
    packet.append(char(0));  // ProtVerHi
    packet.append(char(14)); // ProtVerLo
    return packet;
}

QByteArray artTimeCode(quint8 frames, quint8 seconds, quint8 minutes, quint8 hours, quint8 type)
{
    QByteArray packet = header(0x9700);
    packet.append(char(0)); // Filler1
    packet.append(char(0)); // StreamId
    packet.append(char(frames));
    packet.append(char(seconds));
    packet.append(char(minutes));
    packet.append(char(hours));
    packet.append(char(type));
    packet.append(char(0)); // pad
    return packet;
}

QByteArray artPoll()
{
    QByteArray packet = header(0x2000);
    packet.append(char(0)); // TalkToMe
    packet.append(char(0)); // Priority
    return packet;
}

QByteArray artDmx(quint16 universe, const QByteArray& data, int lengthField)
{
    const int length = lengthField < 0 ? int(data.size()) : lengthField;
    QByteArray packet = header(0x5000);
    packet.append(char(0));                    // Sequence
    packet.append(char(0));                    // Physical
    packet.append(char(universe & 0xFF));      // SubUni
    packet.append(char(universe >> 8));        // Net
    packet.append(char((length >> 8) & 0xFF)); // Length, high byte first
    packet.append(char(length & 0xFF));
    packet.append(data);
    return packet;
}

QByteArray artSync(quint16 opCode, quint8 hold, const QByteArray& id)
{
    QByteArray packet = header(opCode, id);
    packet.append(char(hold));
    packet.append(char(0));
    return packet;
}

Controller::Controller(const QHostAddress& address, quint16 port)
{
    socket.bind(address, port);
}

bool Controller::isBound() const
{
    return socket.state() == QAbstractSocket::BoundState;
}

qint64 Controller::send(const QByteArray& datagram, const QHostAddress& to, quint16 port)
{
    return socket.writeDatagram(datagram, to, port);
}

void settle(artnet& node)
{
    QUdpSocket* socket = ArtnetProbe::socket(node);
    if (!socket)
        return;
    // Loopback delivers within the send call, so whatever was sent is pending by now.
    QTRY_VERIFY_WITH_TIMEOUT(!socket->hasPendingDatagrams(), 5000);
    QCoreApplication::processEvents();
}

} // namespace TestSupport
