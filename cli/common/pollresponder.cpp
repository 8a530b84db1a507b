#include "common/pollresponder.h"
#include "common/console.h"

#include "interfaces.h"
#include "packets.h"
#include "pollreply.h"

#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace PollAnswer {

QList<QHostAddress> listenAddresses(const QList<InterfaceEntry>& networks,
                                    const QList<QHostAddress>& destinations)
{
    QList<QHostAddress> addresses;
    for (const QHostAddress& destination : destinations) {
        const quint32 to = destination.toIPv4Address();
        for (const InterfaceEntry& network : networks) {
            if (network.address.ip().isLoopback())
                continue;
            const quint32 mask = network.address.netmask().toIPv4Address();
            const quint32 ip = network.address.ip().toIPv4Address();
            const QHostAddress broadcast = network.address.broadcast();
            if ((to & mask) != (ip & mask))
                continue;
            if (!addresses.contains(broadcast))
                addresses.append(broadcast);
            break;
        }
    }
    return addresses;
}

QByteArray reply(const InterfaceEntry& network, const QString& shortName, const QString& longName,
                 quint8 bindIndex)
{
    ArtNetPacket::PollReply answer;
    answer.ip = network.address.ip().toIPv4Address();
    answer.port = ArtNetPacket::kPort;
    answer.oemHi = 0x00;
    answer.oemLo = 0xFF; // no registered OEM code, as the node's default
    answer.shortName = shortName;
    answer.longName = longName;
    answer.bindIndex = bindIndex;
    ArtNetPoll::parseMac(network.mac, answer.mac);
    return ArtNetPacket::pollReplyPacket(answer);
}

} // namespace PollAnswer

namespace {

int boundSocket(quint32 address, quint16 port, bool share)
{
    const int descriptor = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return -1;
    const int on = 1;
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = htonl(address);
    if ((share && setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) ||
        ::bind(descriptor, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

} // namespace

PollResponder::PollResponder(const QString& shortName, const QString& what,
                             const QList<QHostAddress>& destinations, quint8 bindIndex)
{
    const QList<InterfaceEntry> networks =
        InterfaceDiscovery::discover(InterfaceDiscovery::systemAdapters()).entries;
    QStringList to;
    for (const QHostAddress& destination : destinations)
        to.append(destination.toString());
    const QString longName = what + QStringLiteral(" to ") + to.join(QStringLiteral(", "));
    for (const QHostAddress& broadcast : PollAnswer::listenAddresses(networks, destinations)) {
        const int descriptor =
            boundSocket(broadcast.toIPv4Address(), ArtNetPacket::kPort, /*share=*/true);
        if (descriptor < 0)
            continue; // found or not, the timecode goes out all the same
        for (const InterfaceEntry& network : networks) {
            if (network.address.broadcast() == broadcast) {
                sockets.append(
                    Socket{descriptor, PollAnswer::reply(network, shortName, longName, bindIndex)});
                break;
            }
        }
    }
    if (sockets.isEmpty())
        return;
    answerSocket = boundSocket(INADDR_ANY, 0, /*share=*/false);
    if (answerSocket < 0 || ::pipe2(wake, O_CLOEXEC) != 0) {
        for (const Socket& s : sockets)
            ::close(s.descriptor);
        sockets.clear();
        return;
    }
    thread = Console::threadWithoutStopSignals([this] { run(); });
}

PollResponder::~PollResponder()
{
    if (thread.joinable()) {
        const char end = 0;
        while (::write(wake[1], &end, 1) < 0 && errno == EINTR) {
        }
        thread.join();
    }
    for (const Socket& s : sockets)
        ::close(s.descriptor);
    for (const int descriptor : {answerSocket, wake[0], wake[1]}) {
        if (descriptor >= 0)
            ::close(descriptor);
    }
}

void PollResponder::run()
{
    QList<pollfd> waits;
    for (const Socket& s : sockets)
        waits.append(pollfd{s.descriptor, POLLIN, 0});
    waits.append(pollfd{wake[0], POLLIN, 0});
    char datagram[ArtNetPacket::kPollReplySize];
    for (;;) {
        if (::poll(waits.data(), nfds_t(waits.size()), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (waits.last().revents != 0)
            return;
        for (qsizetype i = 0; i < sockets.size(); ++i) {
            if (!(waits[i].revents & POLLIN))
                continue;
            sockaddr_in from{};
            socklen_t fromSize = sizeof from;
            const ssize_t size =
                ::recvfrom(sockets[i].descriptor, datagram, sizeof datagram, MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&from), &fromSize);
            if (size < ArtNetPacket::kPollSize)
                continue;
            const ArtNetPacket::Header header = ArtNetPacket::readHeader(datagram, int(size));
            if (header.id != ArtNetPacket::PacketId::ArtNet ||
                header.opCode != ArtNetPacket::kOpPoll)
                continue;
            // To the poller's port 6454, as Art-Net answers, whatever port it polled from.
            from.sin_port = htons(ArtNetPacket::kPort);
            const QByteArray& answer = sockets[i].reply;
            ::sendto(answerSocket, answer.constData(), size_t(answer.size()), 0,
                     reinterpret_cast<const sockaddr*>(&from), sizeof from);
        }
    }
}
