#include "nodes/nodelist.h"

#include "packets.h"

#include <algorithm>
#include <iterator>

namespace NodeList {

bool fromReply(const QByteArray& datagram, const QHostAddress& sender, Node* node)
{
    const std::optional<ArtNetPacket::PollReply> reply =
        ArtNetPacket::readPollReply(datagram.constData(), int(datagram.size()));
    if (!node || !reply)
        return false;
    Node n;
    n.ip = reply->ip != 0 ? QHostAddress(reply->ip) : QHostAddress(sender.toIPv4Address());
    n.bindIndex = reply->bindIndex;
    n.shortName = reply->shortName;
    n.longName = reply->longName;
    n.oem = quint16((reply->oemHi << 8) | reply->oemLo);
    n.versionHi = reply->versionHi;
    n.versionLo = reply->versionLo;
    n.ports = reply->numPorts;
    for (const quint16 universe : reply->outputUniverses)
        n.universesOut.append(universe);
    for (const quint16 universe : reply->inputUniverses)
        n.universesIn.append(universe);
    std::copy(std::begin(reply->mac), std::end(reply->mac), n.mac.begin());
    *node = n;
    return true;
}

void Collected::add(const Node& node)
{
    for (Node& known : all) {
        if (known.ip == node.ip && known.bindIndex == node.bindIndex) {
            known = node;
            return;
        }
    }
    all.append(node);
}

} // namespace NodeList
