// Art-Net traffic as a controller on the network would send it.
//
// Packets are written out byte by byte from the protocol's layout, independently of the node's
// own packet code, so a test compares the node against the protocol and not against itself.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QUdpSocket>

class artnet;

namespace TestSupport {

inline constexpr quint16 kArtNetPort = 6454;

// ID (8 bytes, "Art-Net" and NUL unless given), OpCode LE, ProtVer 0 14.
QByteArray header(quint16 opCode, const QByteArray& id = QByteArray("Art-Net\0", 8));
QByteArray artTimeCode(quint8 frames, quint8 seconds, quint8 minutes, quint8 hours, quint8 type);
QByteArray artPoll();
// universe is the 15-bit Port-Address (SubUni low, Net high); lengthField defaults to the
// data's size and may claim more or less than is carried.
QByteArray artDmx(quint16 universe, const QByteArray& data, int lengthField = -1);
QByteArray artSync(quint16 opCode, quint8 hold, const QByteArray& id = QByteArray("Art-Net\0", 8));

// A copy of bytes with the bytes at offset replaced: variants of an expected packet or buffer.
inline QByteArray patched(QByteArray bytes, int offset, const QByteArray& with)
{
    return bytes.replace(offset, with.size(), with);
}

// A socket bound to one local address, sending from there.
class Controller
{
public:
    explicit Controller(const QHostAddress& address = QHostAddress(QHostAddress::LocalHost),
                        quint16 port = 0,
                        QAbstractSocket::BindMode mode = QAbstractSocket::DefaultForPlatform);
    bool isBound() const;
    qint64 send(const QByteArray& datagram,
                const QHostAddress& to = QHostAddress(QHostAddress::LocalHost),
                quint16 port = kArtNetPort);
    QUdpSocket socket;
};

// A controller on this host that polls the node. The node answers to port 6454 of the poller's
// address, where this socket is bound beside the node's wildcard one and so receives the replies.
class Poller : public Controller
{
public:
    explicit Poller(const QHostAddress& address);
    // Sends an ArtPoll to the node on loopback; true if it went out whole.
    bool poll();
};

// Lets the node read and handle everything already sent to it; false if it did not within 5 s.
// Checked at the call site (QVERIFY), so that a node that stops reading ends the test there.
[[nodiscard]] bool settle(artnet& node);

} // namespace TestSupport
