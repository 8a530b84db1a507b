#include "nodelist.h"
#include "textoutput.h"

#include "packets.h"

#include <cstring>

namespace NodeList {

int portAddress(quint8 net, quint8 subNet, quint8 universe)
{
    return ((net & 0x7F) << 8) | ((subNet & 0x0F) << 4) | (universe & 0x0F);
}

bool fromReply(const QByteArray& datagram, const QHostAddress& sender, Node* node)
{
    using namespace ArtNetPacket;
    // Replies of older nodes end after the MAC address; what they leave out reads as zero.
    constexpr int kShortest = kPollReplyMacOffset + kPollReplyMacSize;
    if (!node || datagram.size() < kShortest)
        return false;
    QByteArray image(kPollReplySize, '\0');
    std::memcpy(image.data(), datagram.constData(),
                size_t(qMin<qsizetype>(datagram.size(), kPollReplySize)));
    const auto byte = [&image](int offset) { return quint8(image.at(offset)); };
    const auto text = [&image](int offset, int size) {
        const QByteArray field = image.mid(offset, size);
        const qsizetype end = field.indexOf('\0');
        return QString::fromLatin1(end < 0 ? field : field.left(end));
    };

    Node n;
    const quint32 ip = (quint32(byte(kPollReplyIpOffset)) << 24) |
                       (quint32(byte(kPollReplyIpOffset + 1)) << 16) |
                       (quint32(byte(kPollReplyIpOffset + 2)) << 8) | byte(kPollReplyIpOffset + 3);
    n.ip = ip != 0 ? QHostAddress(ip) : QHostAddress(sender.toIPv4Address());
    n.bindIndex = byte(kPollReplyBindIndexOffset);
    n.shortName = text(kPollReplyShortNameOffset, kPollReplyShortNameSize);
    n.longName = text(kPollReplyLongNameOffset, kPollReplyLongNameSize);
    n.oem = quint16((byte(kPollReplyOemHiOffset) << 8) | byte(kPollReplyOemLoOffset));
    n.versionHi = byte(kPollReplyVersInfoHOffset);
    n.versionLo = byte(kPollReplyVersInfoLOffset);
    n.ports = qMin<int>(byte(kPollReplyNumPortsLoOffset), kPollReplyMaxPorts);
    const quint8 net = byte(kPollReplyNetSwitchOffset);
    const quint8 subNet = byte(kPollReplySubSwitchOffset);
    for (int port = 0; port < n.ports; ++port) {
        const quint8 type = byte(kPollReplyPortTypesOffset + port);
        if (type & kPortTypeOutput)
            n.universesOut.append(portAddress(net, subNet, byte(kPollReplySwOutOffset + port)));
        if (type & kPortTypeInput)
            n.universesIn.append(portAddress(net, subNet, byte(kPollReplySwInOffset + port)));
    }
    for (int i = 0; i < kPollReplyMacSize; ++i)
        n.mac[size_t(i)] = byte(kPollReplyMacOffset + i);
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

QString macText(const std::array<quint8, 6>& mac)
{
    QStringList bytes;
    for (const quint8 byte : mac)
        bytes.append(QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')));
    return bytes.join(QLatin1Char(':'));
}

namespace {

// Names come from the network: a control character in them must not steer the terminal.
QString printable(QString text)
{
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    }
    return text;
}

QString versionText(const Node& node)
{
    return QStringLiteral("%1.%2").arg(node.versionHi).arg(node.versionLo);
}

QString universesText(const QList<int>& universes)
{
    if (universes.isEmpty())
        return QStringLiteral("-");
    QStringList numbers;
    for (const int universe : universes)
        numbers.append(QString::number(universe));
    return numbers.join(QLatin1Char(','));
}

} // namespace

QString jsonLine(const Node& node)
{
    TextOutput::JsonObject o;
    o.add("ip", node.ip.toString());
    o.add("bind_index", qint64(node.bindIndex));
    o.add("short_name", node.shortName);
    o.add("long_name", node.longName);
    o.add("oem", qint64(node.oem));
    o.add("version", versionText(node));
    o.add("ports", qint64(node.ports));
    o.add("universes_out", node.universesOut);
    o.add("universes_in", node.universesIn);
    o.add("mac", macText(node.mac));
    return o.text();
}

QStringList tableLines(const QList<Node>& nodes)
{
    TextOutput::Table table({QStringLiteral("IP"), QStringLiteral("BIND"),
                             QStringLiteral("SHORT NAME"), QStringLiteral("OEM"),
                             QStringLiteral("VERSION"), QStringLiteral("PORTS"),
                             QStringLiteral("OUT"), QStringLiteral("IN"), QStringLiteral("MAC"),
                             QStringLiteral("LONG NAME")});
    for (const Node& node : nodes) {
        table.add({node.ip.toString(), QString::number(node.bindIndex), printable(node.shortName),
                   QStringLiteral("0x%1").arg(node.oem, 4, 16, QLatin1Char('0')), versionText(node),
                   QString::number(node.ports), universesText(node.universesOut),
                   universesText(node.universesIn), macText(node.mac), printable(node.longName)});
    }
    return table.lines();
}

} // namespace NodeList
