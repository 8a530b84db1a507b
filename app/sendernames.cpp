#include "sendernames.h"

#include "interfaces.h"
#include "packets.h"

#include <algorithm>
#include <optional>

namespace SenderNames {

bool asksForName(Timecode::HeardKind heard)
{
    return heard == Timecode::HeardKind::First || heard == Timecode::HeardKind::Resumed;
}

QString addressLine(const QString& name, const QHostAddress& address, quint8 stream,
                    bool twoSources)
{
    static const QString separator = QStringLiteral(" \u00B7 ");
    QString line = address.toString();
    if (!name.isEmpty())
        line = name + separator + line;
    if (stream != 0)
        line += separator + QString::number(stream);
    if (twoSources)
        line += separator + QStringLiteral("two sources");
    return line;
}

QString twoSourcesLine(const QHostAddress& address, quint8 stream)
{
    const QString sender = stream == 0
                               ? address.toString()
                               : QStringLiteral("%1 stream %2").arg(address.toString()).arg(stream);
    return sender + QStringLiteral(": two sources");
}

QList<Network> broadcastNetworks(const QList<InterfaceEntry>& entries)
{
    QList<Network> networks;
    for (const InterfaceEntry& entry : entries) {
        bool isIpv4 = false;
        const quint32 broadcast = entry.address.broadcast().toIPv4Address(&isIpv4);
        if (!isIpv4 || broadcast == 0 || entry.address.ip().isLoopback())
            continue;
        networks.append(Network{entry.address.ip().toIPv4Address(),
                                entry.address.netmask().toIPv4Address(), broadcast});
    }
    return networks;
}

namespace {

std::optional<Network> networkOf(const QList<Network>& networks, quint32 address)
{
    for (const Network& network : networks) {
        if ((address & network.netmask) == (network.address & network.netmask))
            return network;
    }
    return std::nullopt;
}

} // namespace

Poll nextPoll(const QList<Wanting>& wanting, const QList<Network>& networks, qint64 lastPollNs,
              qint64 nowNs)
{
    Poll poll;
    const bool mayPoll = lastPollNs < 0 || nowNs - lastPollNs >= kPollEveryNs;
    const auto unanswered = [nowNs](const Wanting& w) {
        return w.polledNs >= 0 && nowNs - w.polledNs >= kAnswerWaitNs;
    };
    // Not polled yet, or polled and no longer waited for.
    const auto mayBeAsked = [&](const Wanting& w) { return w.polledNs < 0 || unanswered(w); };
    for (const Wanting& w : wanting) {
        if (!mayBeAsked(w))
            continue;
        const std::optional<Network> network = networkOf(networks, w.address);
        if (!network) {
            if (unanswered(w))
                poll.done.append(w.address); // no broadcast reaches it
            else if (mayPoll && poll.kind == Poll::Kind::None)
                poll = Poll{Poll::Kind::Unicast, w.address, poll.done};
            continue;
        }
        if (!mayPoll || poll.kind != Poll::Kind::None)
            continue;
        const auto onNetwork = [&](const Wanting& other) {
            return (other.address & network->netmask) == (network->address & network->netmask);
        };
        const bool shared = std::any_of(wanting.begin(), wanting.end(), [&](const Wanting& other) {
            return other.address != w.address && mayBeAsked(other) && onNetwork(other);
        });
        if (!shared && !unanswered(w)) {
            poll.kind = Poll::Kind::Unicast;
            poll.to = w.address;
            continue;
        }
        poll.kind = Poll::Kind::Broadcast;
        poll.to = network->broadcast;
        for (const Wanting& other : wanting) {
            if (onNetwork(other))
                poll.done.append(other.address);
        }
    }
    return poll;
}

} // namespace SenderNames

SenderNamer::SenderNamer(artnet* node)
    : node(node), pollPacket(ArtNetPacket::pollPacket()),
      networks(SenderNames::broadcastNetworks(
          InterfaceDiscovery::discover(InterfaceDiscovery::systemAdapters()).entries))
{
}

void SenderNamer::timecodeReceived(const SenderEntry& sender)
{
    if (!SenderNames::asksForName(sender.heard.kind))
        return;
    auto known = std::find_if(asked.begin(), asked.end(),
                              [&](const Asked& a) { return a.wanting.address == sender.ip; });
    if (known == asked.end()) {
        asked.append(Asked{SenderNames::Wanting{sender.ip, sender.arrivalNs, -1}, {}, {}});
        known = asked.end() - 1;
    }
    // Asked anew: what the replies said before may be another program's now.
    known->said.removeAll(sender.stream);
    if (!known->streams.contains(sender.stream))
        known->streams.append(sender.stream);
}

void SenderNamer::pollReplyReceived(const QByteArray& datagram, const QHostAddress& sender)
{
    const std::optional<SenderNaming::Replier> replier =
        SenderNaming::replier(datagram, sender, SenderNaming::OwnReply{});
    if (!replier || replier->stream < 0)
        return;
    const quint32 ip = sender.toIPv4Address();
    for (qsizetype i = 0; i < asked.size(); ++i) {
        Asked& a = asked[i];
        if (a.wanting.address != ip)
            continue;
        if (!a.said.contains(quint8(replier->stream)))
            a.said.append(quint8(replier->stream));
        if (std::all_of(a.streams.begin(), a.streams.end(),
                        [&](quint8 stream) { return a.said.contains(stream); }))
            asked.removeAt(i);
        return;
    }
}

void SenderNamer::poll(qint64 nowNs)
{
    if (!node || asked.isEmpty())
        return;
    QList<SenderNames::Wanting> wanting;
    for (const Asked& a : std::as_const(asked))
        wanting.append(a.wanting);
    const SenderNames::Poll due = SenderNames::nextPoll(wanting, networks, lastPollNs, nowNs);
    if (due.kind != SenderNames::Poll::Kind::None) {
        const QHostAddress to(due.to);
        node->sendDatagram(pollPacket.constData(), quint16(pollPacket.size()), &to);
        lastPollNs = nowNs;
    }
    for (qsizetype i = asked.size() - 1; i >= 0; --i) {
        SenderNames::Wanting& w = asked[i].wanting;
        if (due.kind == SenderNames::Poll::Kind::Unicast && w.address == due.to)
            w.polledNs = nowNs;
        if (due.done.contains(w.address))
            asked.removeAt(i);
    }
}
