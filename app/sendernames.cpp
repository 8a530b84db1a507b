#include "sendernames.h"

#include "packets.h"

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

} // namespace SenderNames

SenderNamer::SenderNamer(artnet* node) : node(node), poll(ArtNetPacket::pollPacket()) {}

void SenderNamer::timecodeReceived(const SenderEntry& sender)
{
    if (!node || !SenderNames::asksForName(sender.heard.kind))
        return;
    // To the sender alone: a broadcast would wake every node on the network for one name.
    node->sendDatagram(poll.constData(), quint16(poll.size()), &sender.address);
}
