#include "sendernames.h"

#include "packets.h"
#include "pollreply.h"
#include "timecode.h"

namespace SenderNames {

bool asksForName(qint64 lastArrivalNs, qint64 arrivalNs)
{
    return lastArrivalNs < 0 || Timecode::isSilent(lastArrivalNs, arrivalNs);
}

std::optional<QString> nameFromReply(const QByteArray& datagram, const QHostAddress& source,
                                     const OwnReply& own)
{
    const std::optional<ArtNetPacket::PollReply> reply =
        ArtNetPacket::readPollReply(datagram.constData(), int(datagram.size()));
    if (!reply)
        return std::nullopt;
    // A reply relayed or forged for another address does not name the one it came from.
    bool isIpv4 = false;
    if (source.toIPv4Address(&isIpv4) != reply->ip || !isIpv4)
        return std::nullopt;
    // The long name as the window's own reply carries it, cut one short of its field.
    const QString ownLongName = own.longName.left(ArtNetPacket::kPollReplyLongNameSize - 1);
    if (reply->longName == ownLongName && reply->oemHi == own.oemHi && reply->oemLo == own.oemLo)
        return std::nullopt;
    return ArtNetPoll::printableName(reply->shortName.left(kShortNameLength));
}

QString addressLine(const QString& name, const QHostAddress& address, quint8 stream)
{
    static const QString separator = QStringLiteral(" \u00B7 ");
    QString line = address.toString();
    if (!name.isEmpty())
        line = name + separator + line;
    if (stream != 0)
        line += separator + QString::number(stream);
    return line;
}

} // namespace SenderNames

SenderNamer::SenderNamer(artnet* node, const SenderNames::OwnReply& own)
    : node(node), own(own), poll(ArtNetPacket::pollPacket())
{
}

void SenderNamer::timecodeReceived(const TimecodeRecord&, const QHostAddress& sender, quint8,
                                   qint64 arrivalNs)
{
    bool isIpv4 = false;
    const quint32 address = sender.toIPv4Address(&isIpv4);
    if (!isIpv4)
        return;
    const auto heard = lastArrivals.constFind(address);
    const bool ask =
        SenderNames::asksForName(heard == lastArrivals.constEnd() ? -1 : *heard, arrivalNs);
    lastArrivals.insert(address, arrivalNs);
    if (ask && node) {
        // To the sender alone: a broadcast would wake every node on the network for one name.
        const QHostAddress to(address);
        node->sendDatagram(poll.constData(), quint16(poll.size()), &to);
    }
}

void SenderNamer::pollReplyReceived(const QByteArray& datagram, const QHostAddress& sender)
{
    const std::optional<QString> name = SenderNames::nameFromReply(datagram, sender, own);
    if (!name)
        return;
    QString& kept = names[sender.toIPv4Address()];
    if (kept == *name)
        return;
    kept = *name;
    ++nameChanges;
}

QString SenderNamer::name(const QHostAddress& address) const
{
    bool isIpv4 = false;
    const quint32 key = address.toIPv4Address(&isIpv4);
    return isIpv4 ? names.value(key) : QString();
}
