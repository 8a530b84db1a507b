// Read access to the private state of the classes under test, for what no public operation
// shows. Tests use it to check effects, never to drive the code around its real entry points;
// the one entry point it opens is the handling of one received datagram, the step behind the
// socket, which the fuzz target feeds directly.
#pragma once

#include "artnet.h"
#include "nodesocket.h"

#include <QAbstractSocket>

#include <optional>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

// The node's open socket as the kernel has it, asked through its descriptor.
struct NodeSocketView
{
    int fd = -1;

    qintptr socketDescriptor() const { return fd; }
    quint16 localPort() const { return ntohs(local().sin_port); }
    QHostAddress localAddress() const { return QHostAddress(ntohl(local().sin_addr.s_addr)); }
    QAbstractSocket::SocketState state() const
    {
        return localPort() ? QAbstractSocket::BoundState : QAbstractSocket::UnconnectedState;
    }
    bool hasPendingDatagrams() const
    {
        int bytes = 0;
        return ioctl(fd, FIONREAD, &bytes) == 0 && bytes > 0;
    }
    bool operator==(const NodeSocketView& other) const { return fd == other.fd; }

private:
    sockaddr_in local() const
    {
        sockaddr_in address{};
        socklen_t size = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
        return address;
    }
};

class ArtnetProbe
{
public:
    // The node's own socket while it is open; none while it is closed or another transport was
    // given.
    static std::optional<NodeSocketView> socket(artnet& node)
    {
        if (!node.socketReady)
            return std::nullopt;
#ifdef CHRONOLUME_OWN_DESCRIPTOR
        if (auto* own = dynamic_cast<ArtNetReceive::DescriptorSocket*>(node.transport))
            return NodeSocketView{own->descriptor()};
#endif
        if (auto* portable = dynamic_cast<ArtNetReceive::PortableSocket*>(node.transport))
            return NodeSocketView{portable->descriptor()};
        return std::nullopt;
    }
    static bool socketReady(const artnet& node)
    {
        return node.socketReady;
    }
    static bool pollReplyEnabled(const artnet& node)
    {
        return node.pollReplyEnabled;
    }
    static const quint8* lastPoll(const artnet& node)
    {
        return node.lastPoll;
    }
    static qint16 dmxHold(const artnet& node)
    {
        return node.dmxHold;
    }
    static bool sendingReady(const artnet& node)
    {
        return node.sendingReady;
    }
    static const QList<InterfaceEntry>* interfaces(const artnet& node)
    {
        return node.interfaces;
    }
    static QTimer* sendTimer(const artnet& node)
    {
        return node.sendTimer;
    }
    static const QString& shortName(const artnet& node)
    {
        return node.shortName;
    }
    static const QString& longName(const artnet& node)
    {
        return node.longName;
    }
    static bool lastPacketValid(const artnet& node)
    {
        return node.lastPacketValid;
    }

    static void handleDatagram(artnet& node, QByteArray& datagram, const QHostAddress& sender,
                               qint64 arrivalNs = 0)
    {
        node.handlePackage(datagram, sender, arrivalNs);
    }
};
