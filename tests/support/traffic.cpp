#include "traffic.h"
#include "probes.h"

#include <QCoreApplication>
#include <QtTest>

namespace TestSupport {

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(value));
    return result;
}

} // namespace

QByteArray header(quint16 opCode, const QByteArray& id)
{
    // OpCode low byte first, then ProtVerHi and ProtVerLo.
    return id.left(8) + bytes({opCode & 0xFF, opCode >> 8, 0, 14});
}

QByteArray artTimeCode(quint8 frames, quint8 seconds, quint8 minutes, quint8 hours, quint8 type)
{
    // Filler1, StreamId, the time, Type, pad.
    return header(0x9700) + bytes({0, 0, frames, seconds, minutes, hours, type, 0});
}

QByteArray artPoll()
{
    return header(0x2000) + bytes({0, 0}); // TalkToMe, Priority
}

QByteArray artDmx(quint16 universe, const QByteArray& data, int lengthField)
{
    const int length = lengthField < 0 ? int(data.size()) : lengthField;
    // Sequence, Physical, SubUni, Net, Length high byte first.
    return header(0x5000) +
           bytes({0, 0, universe & 0xFF, universe >> 8, (length >> 8) & 0xFF, length & 0xFF}) +
           data;
}

QByteArray artSync(quint16 opCode, quint8 hold, const QByteArray& id)
{
    return header(opCode, id) + bytes({hold, 0});
}

Controller::Controller(const QHostAddress& address, quint16 port, QAbstractSocket::BindMode mode)
{
    socket.bind(address, port, mode);
}

bool Controller::isBound() const
{
    return socket.state() == QAbstractSocket::BoundState;
}

qint64 Controller::send(const QByteArray& datagram, const QHostAddress& to, quint16 port)
{
    return socket.writeDatagram(datagram, to, port);
}

Poller::Poller(const QHostAddress& address)
    : Controller(address, kArtNetPort, QAbstractSocket::ShareAddress)
{
}

bool Poller::poll()
{
    const QByteArray datagram = artPoll();
    return send(datagram) == datagram.size();
}

bool settle(artnet& node)
{
    const std::optional<NodeSocketView> socket = ArtnetProbe::socket(node);
    if (!socket)
        return true;
    // Loopback delivers within the send call, so whatever was sent is pending by now.
    if (!QTest::qWaitFor([socket] { return !socket->hasPendingDatagrams(); }, 5000))
        return false;
    QCoreApplication::processEvents();
    return true;
}

} // namespace TestSupport
