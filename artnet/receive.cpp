// The receive path: draining the socket, checking the Art-Net header and dispatching on the
// OpCode, and the timecode store the window reads.
#include "artnet.h"
#include "diagnostics.h"
#include "drain.h"
#include "packets.h"

#include <QDebug>
#include <QUdpSocket>

#include <array>
#include <atomic>
#include <cstring>

using namespace ArtNetPacket;

namespace {

// Each notice is written once per process run, however many nodes there are.
enum Notice { SyncPreNotice, SyncPostNotice, TimecodeNotice, MadrixSyncPostNotice, NoticeCount };
std::atomic<bool> firstNotice[NoticeCount] = {true, true, true, true};

void noticeOnce(Notice notice, const char* text)
{
    if (firstNotice[notice].exchange(false))
        ArtNetOutput::line(QString::fromLatin1(text));
}

} // namespace

namespace ArtNetPacket {

PacketId packetId(const char* header)
{
    if (std::memcmp(header + kIdOffset, kArtNetId, kIdSize) == 0)
        return PacketId::ArtNet;
    if (std::memcmp(header + kIdOffset, kMadrixId, kIdSize) == 0)
        return PacketId::Madrix;
    return PacketId::None;
}

} // namespace ArtNetPacket

void artnet::readPackage()
{
    if (!socket)
        return;
    ArtNetReceive::drainDatagrams(*socket, datagramBuffer,
                                  [this](QByteArray& datagram, const QHostAddress& sender) {
                                      handlePackage(datagram, sender);
                                  });
}

void artnet::readBatches()
{
#ifdef Q_OS_LINUX
    if (!socket || !batchReader)
        return;
    const auto handle = [this](QByteArray& datagram, const QHostAddress& sender) {
        handlePackage(datagram, sender);
    };
    // The socket's notifier watches the descriptor again only after a read through the socket,
    // so the first datagram of every wakeup is read that way. An empty queue (someone else read
    // it) or an error ends the wakeup there, recorded by the socket as always.
    if (!ArtNetReceive::readOneDatagram(*socket, datagramBuffer, handle))
        return;
    // A real socket error: the socket's own reads record it and end the drain as they always
    // did.
    if (!batchReader->drain(int(socket->socketDescriptor()), handle))
        readPackage();
#endif
}

void artnet::handlePackage(QByteArray& datagram, const QHostAddress& sender)
{
    // Every later read of the datagram stays within what this check admits.
    if (datagram.size() <= kMinimumIgnoredSize)
        return;

    if (!receiveHeader)
        receiveHeader = new quint8[kReceiveHeaderSize]();
    std::memcpy(receiveHeader, datagram.constData(), kHeaderCopySize);

    const char* header = reinterpret_cast<const char*>(receiveHeader);
    const quint16 op = opCode(header);

    switch (packetId(header)) {
    case PacketId::ArtNet:
        switch (op) {
        case kOpPoll:
            if (!pollReplyEnabled)
                return;
            if (!lastPoll)
                lastPoll = new quint8[kPollSize];
            std::memset(lastPoll, 0, kPollSize);
            std::memcpy(lastPoll, datagram.constData(), size_t(qMin(datagram.size(), kPollSize)));
            sendPollReply(sender);
            return;
        case kOpPollReply:
            ArtNetOutput::line(QStringLiteral("Art-Net PollReply"));
            return;
        case kOpDmx: {
            if (!universeData)
                return;
            std::array<quint8, kDmxImageSize> image{};
            std::memcpy(image.data(), datagram.constData(),
                        size_t(qMin(datagram.size(), kDmxImageSize)));
            receiveOwnUniverse(image.data());
            receiveDmx(image.data());
            receivePixels(image.data());
            return;
        }
        case kOpSyncPre:
            noticeOnce(SyncPreNotice, "receiving Art-Net SYNC PRE ...");
            receiveSync(datagram);
            qDebug() << "MadrixN SYNC PRE ";
            return;
        case kOpSyncPost:
            noticeOnce(SyncPostNotice, "receiving Art-Net SYNC POST ...");
            receiveSync(datagram);
            qDebug() << "MadrixN SYNC PRO ";
            return;
        case kOpTimeCode:
            storeTimecode(datagram, sender);
            return;
        default:
            ArtNetOutput::text(QStringLiteral("receive not implemented OpCode at time 0x%1\n")
                                   .arg(QString::number(op, 16).toUpper()),
                               true);
            return;
        }
    case PacketId::Madrix:
        switch (op) {
        case kOpSyncPre:
            receiveSync(datagram);
            qDebug() << "MadrixN SYNC PRE ";
            return;
        case kOpSyncPost:
            noticeOnce(MadrixSyncPostNotice, "receiving MadrixN SYNC POST ...");
            receiveSync(datagram);
            qDebug() << "MadrixN SYNC POST ";
            return;
        default:
            return;
        }
    case PacketId::None:
        return;
    }
}

void artnet::receiveSync(const QByteArray& datagram)
{
    // The hold byte is signed on the wire: 0xFF is -1, which holds like any non-zero value.
    dmxHold = qint16(qint8(datagram.at(kSyncHoldOffset)));
    commitDmx();
}

void artnet::storeTimecode(const QByteArray& datagram, const QHostAddress& sender)
{
    noticeOnce(TimecodeNotice, "receiving Art-Net TIMECODE ...");

    // A short packet leaves its missing fields zero; no value is limited or rejected.
    std::array<quint8, kTimeCodeSize> packet{};
    std::memcpy(packet.data(), datagram.constData(), size_t(qMin(datagram.size(), kTimeCodeSize)));
    TimecodeRecord record;
    record.frames = packet[kTimeCodeFramesOffset];
    record.seconds = packet[kTimeCodeSecondsOffset];
    record.minutes = packet[kTimeCodeMinutesOffset];
    record.hours = packet[kTimeCodeHoursOffset];
    record.type = packet[kTimeCodeTypeOffset];

    if (!timecodeSources)
        timecodeSources = new QList<TimecodeSource>;

    bool matched = false;
    for (TimecodeSource& source : *timecodeSources) {
        if (source.sender == sender) {
            source.timecode = record;
            matched = true;
        }
    }
    if (!matched) {
        timecodeSources->append(TimecodeSource{record, sender});
        timecodeReceived = true;
    }
}
