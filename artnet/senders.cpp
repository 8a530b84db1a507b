#include "senders.h"

#include "pollreply.h"

#include <QRegularExpression>

namespace SenderNaming {

std::optional<Replier> replier(const QByteArray& datagram, const QHostAddress& source,
                               const OwnReply& own)
{
    const std::optional<ArtNetPacket::PollReply> reply =
        ArtNetPacket::readPollReply(datagram.constData(), int(datagram.size()));
    if (!reply)
        return std::nullopt;
    bool isIpv4 = false;
    if (source.toIPv4Address(&isIpv4) != reply->ip || !isIpv4)
        return std::nullopt;
    // The long name as the node's own reply carries it, cut one short of its field.
    const QString ownLongName = own.longName.left(ArtNetPacket::kPollReplyLongNameSize - 1);
    if (reply->longName == ownLongName && reply->oemHi == own.oemHi && reply->oemLo == own.oemLo)
        return std::nullopt;
    if (reply->oemHi == kWindowOemHi && reply->oemLo == kWindowOemLo &&
        reply->longName.startsWith(QLatin1String("Chronolume ")))
        return std::nullopt;
    Replier found;
    found.shortName = reply->shortName;
    found.longName = reply->longName;
    found.name = ArtNetPoll::printableName(reply->shortName.left(kShortNameLength));
    found.stream = streamInLongName(reply->longName);
    return found;
}

int streamInLongName(const QString& longName)
{
    static const QRegularExpression said(
        QStringLiteral("(?:^|\\s)stream ([0-9]{1,3})(?=$|[\\s,;.)])"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = said.match(longName);
    if (!match.hasMatch())
        return -1;
    const int stream = match.captured(1).toInt();
    return stream <= 255 ? stream : -1;
}

QString nameFor(const QList<Replier>& repliers, quint8 stream, const QList<quint8>& streams)
{
    QString unsaid;
    int unsaidCount = 0;
    QString said;
    QList<quint8> named;
    for (const Replier& r : repliers) {
        if (r.stream < 0) {
            unsaid = r.name;
            ++unsaidCount;
            continue;
        }
        if (r.stream == int(stream))
            said = r.name; // the newest of its kind
        if (!named.contains(quint8(r.stream)))
            named.append(quint8(r.stream));
    }
    if (!said.isNull())
        return said;
    if (unsaidCount != 1)
        return QString();
    int left = 0;
    for (const quint8 s : streams)
        left += named.contains(s) ? 0 : 1;
    return left == 1 && streams.contains(stream) ? unsaid : QString();
}

} // namespace SenderNaming

SenderTable::Taken SenderTable::take(const TimecodeRecord& record, const QHostAddress& sender,
                                     quint8 stream, qint64 arrivalNs, int* order)
{
    // The node's socket is IPv4: a sender is known by its IPv4 address, in whichever form it is
    // handed over (also ::ffff:a.b.c.d).
    bool isIpv4 = false;
    const quint32 ip = sender.toIPv4Address(&isIpv4);
    if (!isIpv4)
        return Taken::NotIpv4;
    const auto known = index.constFind(key(ip, stream));
    Taken taken = Taken::Updated;
    int at = 0;
    if (known != index.constEnd()) {
        at = *known;
    } else {
        if (entries.size() >= kMaxSenders)
            return Taken::Full;
        at = int(entries.size());
        SenderEntry added;
        added.order = at;
        added.address = QHostAddress(ip);
        added.ip = ip;
        added.stream = stream;
        entries.append(added);
        index.insert(key(ip, stream), at);
        QList<int>& streams = byAddress[ip];
        // Named before it sent: its replies now count as a sender's.
        if (streams.isEmpty() && repliers.contains(ip))
            --otherNamed;
        streams.append(at);
        taken = Taken::Added;
        // Another stream at the address may leave a reply that says none nothing to tell.
        rename(ip);
    }
    SenderEntry& entry = entries[at];
    entry.timecode = record;
    entry.arrivalNs = arrivalNs;
    entry.heard = entry.numbering.take(record, arrivalNs);
    if (order)
        *order = at;
    return taken;
}

QList<int> SenderTable::takeReply(const QByteArray& datagram, const QHostAddress& source,
                                  const SenderNaming::OwnReply& own)
{
    const std::optional<SenderNaming::Replier> found = SenderNaming::replier(datagram, source, own);
    if (!found)
        return {};
    const quint32 ip = source.toIPv4Address();
    auto kept = repliers.find(ip);
    if (kept == repliers.end()) {
        // Replies from every node a poll reaches: only so many addresses that send no timecode.
        const bool sends = byAddress.contains(ip);
        if (!sends && otherNamed >= kMaxOtherNamedAddresses)
            return {};
        if (!sends)
            ++otherNamed;
        kept = repliers.insert(ip, {});
    }
    QList<SenderNaming::Replier>& list = *kept;
    // One program is its names: a node with many ports answers once for each four of them.
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list[i].shortName == found->shortName && list[i].longName == found->longName) {
            list.removeAt(i);
            break;
        }
    }
    if (list.size() >= kMaxRepliersPerAddress)
        list.removeFirst();
    list.append(*found);
    return rename(ip);
}

QList<int> SenderTable::rename(quint32 ip)
{
    QList<int> changed;
    const QList<SenderNaming::Replier> known = repliers.value(ip);
    const QList<int> orders = byAddress.value(ip);
    QList<quint8> streams;
    for (const int at : orders)
        streams.append(entries.at(at).stream);
    for (const int at : orders) {
        SenderEntry& entry = entries[at];
        const QString name = SenderNaming::nameFor(known, entry.stream, streams);
        if (name == entry.name)
            continue;
        entry.name = name;
        ++renamed;
        changed.append(at);
    }
    return changed;
}

int SenderTable::find(quint32 ip, quint8 stream) const
{
    return index.value(key(ip, stream), -1);
}
