// ArtPoll and ArtPollReply: how the node lets controllers find it, and how it polls them.
#include "pollreply.h"
#include "artnet.h"
#include "diagnostics.h"
#include "packets.h"

#include <QMutexLocker>

#include <algorithm>
#include <cstring>

using namespace ArtNetPacket;

namespace ArtNetPoll {

namespace {

quint32 ceilDiv(quint32 value, quint16 divisor)
{
    // The setters refuse a divisor of 0; a buffer described that way counts no ports.
    if (divisor == 0)
        return 0;
    return value / divisor + (value % divisor ? 1 : 0);
}

int hexDigit(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

} // namespace

int answeringEntry(const QList<InterfaceEntry>& entries, const QHostAddress& poller)
{
    const quint32 from =
        poller.protocol() == QAbstractSocket::IPv4Protocol ? poller.toIPv4Address() : 0;
    for (int i = 0; i < entries.size(); ++i) {
        const quint32 ip = entries[i].address.ip().toIPv4Address();
        const quint32 mask = entries[i].address.netmask().toIPv4Address();
        if ((from & mask) == (ip & mask))
            return i;
    }
    return -1;
}

quint32 portCount(quint32 dmxBufferSize, quint16 dmxChannelsPerUniverse, quint32 pixelCount,
                  quint16 pixelChannelsPerPort, bool dmxInputReady)
{
    const quint32 dmxPorts = ceilDiv(dmxBufferSize, dmxChannelsPerUniverse);
    const quint32 pixelPorts = quint32(
        ceilDiv(quint32(qMin<quint64>(3ull * pixelCount, 0xFFFFFFFFull)), pixelChannelsPerPort));
    quint32 ports = dmxPorts;
    if (dmxPorts < pixelPorts)
        ports = pixelPorts;
    else if (dmxPorts < quint32(dmxInputReady ? 1 : 0))
        ports = 1;
    // However large the buffers, Art-Net has no more universes to report.
    return std::min(ports, kPortAddressCount);
}

void parseMac(QString text, quint8 mac[6])
{
    if (!mac)
        return;
    text.remove(QLatin1Char(':'));
    std::memset(mac, 0, 6);
    if (text.isEmpty())
        return;
    for (int k = 0; k < 6; ++k) {
        for (int position = 2 * k; position <= 2 * k + 1; ++position) {
            const int digit = position < text.size() ? hexDigit(text.at(position)) : 0;
            if (digit >= 0)
                mac[k] = quint8(mac[k] * 16 + digit);
        }
    }
}

bool isControlCharacter(QChar c)
{
    return c.category() == QChar::Other_Control;
}

QString printableName(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (isControlCharacter(c))
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

} // namespace ArtNetPoll

void artnet::sendPollReply(const QHostAddress& sender)
{
    if (!enableSending())
        return;
    discoverInterfaces();

    const int index = ArtNetPoll::answeringEntry(*interfaces, sender);
    if (index < 0)
        return;
    const InterfaceEntry& entry = interfaces->at(index);

    quint32 ports = 0;
    {
        // The buffers may be registered from another thread meanwhile.
        QMutexLocker lock(dmxMutex);
        ports = ArtNetPoll::portCount(dmxBufferSize, dmxChannelsPerUniverse, pixelCount,
                                      pixelChannelsPerPort, dmxInputReady);
    }
    const quint64 first = universe;
    const quint64 end = first + ports;
    if (!lastPoll)
        return;

    PollReply reply;
    reply.ip = entry.address.ip().toIPv4Address();
    reply.port = kPort;
    reply.versionHi = versionHi;
    reply.versionLo = versionLo;
    reply.oemHi = oemHi;
    reply.oemLo = oemLo;
    reply.shortName = shortName;
    reply.longName = longName;
    reply.nodeReport = nodeReport;
    // Every port is typed and marked as outputting, however many are counted.
    std::fill(std::begin(reply.portTypes), std::end(reply.portTypes), kPortTypeArtNetOutput);
    std::fill(std::begin(reply.goodOutput), std::end(reply.goodOutput), kGoodOutputTransmitting);
    macFromString(entry.mac, reply.mac);

    const QString senderText = sender.toString();
    const QString fromText = entry.address.ip().toString();
    // One reply per group of four ports; a node without ports still answers once.
    quint64 k = 0;
    for (quint64 start = first; start < end || (ports == 0 && k == 0);
         start += kPollReplyMaxPorts, ++k) {
        reply.numPorts = quint8(ports == 0 ? 0 : qMin<quint64>(end - start, kPollReplyMaxPorts));
        // SwOut carries the low byte of each counted port's universe.
        for (int i = 0; i < kPollReplyMaxPorts; ++i)
            reply.swOut[i] = i < reply.numPorts ? quint8((start + quint64(i)) & 0xFF) : 0;
        reply.bindIndex = quint8(k & 0xFF);
        const QByteArray packet = pollReplyPacket(reply);
        if (sendDatagram(packet.constData(), quint16(packet.size()), &sender) >= 0) {
            ArtNetOutput::line(QStringLiteral("PollReply to ") + senderText +
                               QStringLiteral(" from ") + fromText + QStringLiteral(" SubId ") +
                               QString::number(k));
        }
    }
}

qint64 artnet::sendPoll()
{
    qint64 total = 0;
    const QByteArray poll = pollPacket();
    sendToEveryNetwork(
        poll.constData(), quint16(poll.size()),
        [&total](const InterfaceEntry& entry, const QHostAddress& broadcast, qint64 sent) {
            if (sent < 0)
                return;
            total += sent;
            ArtNetOutput::line(QStringLiteral("Poll to ") + broadcast.toString() +
                               QStringLiteral(" from ") + entry.address.ip().toString() +
                               QStringLiteral("/") + entry.address.netmask().toString());
        });
    return total;
}

QString artnet::interfaceIp(int index)
{
    if (!interfaces || index < 0 || index >= interfaces->size())
        return QString();
    return interfaces->at(index).address.ip().toString();
}

void artnet::macFromString(QString text, quint8 mac[6])
{
    ArtNetPoll::parseMac(std::move(text), mac);
}
