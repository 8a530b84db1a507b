// The receive path: draining the socket, checking the Art-Net header and dispatching on the
// OpCode, and the timecode store the window reads.
#include "artnet.h"
#include "diagnostics.h"
#include "drain.h"
#include "packets.h"

#include <QDebug>
#include <QMutexLocker>

#include <atomic>
#include <cstring>

using namespace ArtNetPacket;

namespace {

// Each notice is written once per process run, however many nodes there are.
enum Notice {
    SyncPreNotice,
    SyncPostNotice,
    TimecodeNotice,
    MadrixSyncPostNotice,
    SenderLimitNotice,
    NoticeCount // also: no notice
};
std::atomic<bool> firstNotice[NoticeCount] = {true, true, true, true, true};

void noticeOnce(Notice notice, const char* text)
{
    // Called for every timecode: once the notice is written, a read settles it without writing
    // the flag's cache line again.
    if (notice != NoticeCount && firstNotice[notice].load(std::memory_order_relaxed) &&
        firstNotice[notice].exchange(false))
        ArtNetOutput::line(QString::fromLatin1(text));
}

// What a sync packet writes: a notice at its first arrival (not every kind has one), and a debug
// line every time. The texts differ from kind to kind as they always have.
struct SyncTexts
{
    Notice notice;
    const char* noticeText;
    const char* debugText;
};

SyncTexts syncTexts(PacketId id, quint16 opCode)
{
    const bool pre = opCode == kOpSyncPre;
    if (id == PacketId::ArtNet) {
        return pre ? SyncTexts{SyncPreNotice, "receiving Art-Net SYNC PRE ...", "MadrixN SYNC PRE "}
                   : SyncTexts{SyncPostNotice, "receiving Art-Net SYNC POST ...",
                               "MadrixN SYNC PRO "};
    }
    return pre ? SyncTexts{NoticeCount, nullptr, "MadrixN SYNC PRE "}
               : SyncTexts{MadrixSyncPostNotice, "receiving MadrixN SYNC POST ...",
                           "MadrixN SYNC POST "};
}

} // namespace

void artnet::readPackage()
{
    if (!transport || !socketReady)
        return;
    const quint64 generation = socketGeneration;
    transport->drain([this, generation](const char* data, int size, const QHostAddress& sender,
                                        qint64 arrivalNs) {
        QByteArray datagram = QByteArray::fromRawData(data, size);
        handlePackage(datagram, sender, arrivalNs);
        // An observer closed the socket: what else this wakeup read is no longer the
        // node's.
        return socketGeneration == generation;
    });
}

void artnet::takeDatagram(const char* data, int size, const QHostAddress& sender, qint64 arrivalNs)
{
    QByteArray datagram = QByteArray::fromRawData(data, size);
    handlePackage(datagram, sender, arrivalNs);
}

void artnet::handlePackage(QByteArray& datagram, const QHostAddress& sender, qint64 arrivalNs)
{
    // Every later read of the datagram stays within what this check admits.
    if (datagram.size() <= kLargestIgnoredSize)
        return;

    if (!receiveHeader)
        receiveHeader = new quint8[kReceiveHeaderSize]();
    std::memcpy(receiveHeader, datagram.constData(), kHeaderSize);
    const Header header = readHeader(reinterpret_cast<const char*>(receiveHeader), kHeaderSize);
    const char* data = datagram.constData();
    const int size = int(datagram.size());

    switch (header.id) {
    case PacketId::ArtNet:
        switch (header.opCode) {
        case kOpPoll:
            if (!pollReplyEnabled)
                return;
            if (!lastPoll)
                lastPoll = new quint8[kPollSize];
            readPoll(data, size, lastPoll);
            sendPollReply(sender);
            return;
        case kOpPollReply: {
            ArtNetOutput::line(QStringLiteral("Art-Net PollReply"));
            const QList<int> renamed = timecodeSources->takeReply(datagram, sender, ownReply());
            if (observer)
                observer->pollReplyReceived(datagram, sender);
            // Asked again each time: an observer may remove itself in its call.
            for (const int order : renamed) {
                if (observer)
                    observer->senderNamed(timecodeSources->at(order));
            }
            return;
        }
        case kOpDmx: {
            if (!universeData)
                return;
            quint8 image[kDmxImageSize];
            const std::optional<DmxFrame> frame = readDmx(data, size, image);
            if (!frame)
                return;
            // One lock for all three: the caller may register, replace or read its buffers from
            // another thread, and every size used must belong to what is written.
            QMutexLocker lock(dmxMutex);
            receiveOwnUniverse(*frame);
            receiveDmx(*frame);
            receivePixels(*frame);
            return;
        }
        case kOpSyncPre:
        case kOpSyncPost:
            receiveSync(header.id, header.opCode, datagram);
            return;
        case kOpTimeCode:
            if (const std::optional<TimecodeRecord> record = readTimeCode(data, size))
                storeTimecode(*record, sender, readTimeCodeStream(data, size), arrivalNs);
            return;
        default:
            // Every such datagram: under a flood of them, no text for lines nobody writes.
            if (ArtNetOutput::linesWritten())
                ArtNetOutput::text(QStringLiteral("receive not implemented OpCode at time 0x%1\n")
                                       .arg(QString::number(header.opCode, 16).toUpper()),
                                   true);
            return;
        }
    case PacketId::Madrix:
        if (header.opCode == kOpSyncPre || header.opCode == kOpSyncPost)
            receiveSync(header.id, header.opCode, datagram);
        return;
    case PacketId::None:
        return;
    }
}

void artnet::receiveSync(PacketId id, quint16 opCode, const QByteArray& datagram)
{
    const SyncTexts texts = syncTexts(id, opCode);
    noticeOnce(texts.notice, texts.noticeText);
    dmxHold = readSyncHold(datagram.constData(), int(datagram.size()));
    commitDmx();
    qDebug() << texts.debugText;
}

void artnet::storeTimecode(const TimecodeRecord& record, const QHostAddress& sender, quint8 stream,
                           qint64 arrivalNs)
{
    // The arrival, not a change of value: a paused playback repeating its frame still sends.
    int order = 0;
    const SenderTable::Taken taken =
        timecodeSources->take(record, sender, stream, timecodeClock->arrivalNs(arrivalNs), &order);
    if (taken == SenderTable::Taken::NotIpv4)
        return;
    // Written for the first timecode taken: the limit drops none before 256 were.
    noticeOnce(TimecodeNotice, "receiving Art-Net TIMECODE ...");
    if (taken == SenderTable::Taken::Full) {
        noticeOnce(SenderLimitNotice, "timecode sender limit of 256 reached, new senders ignored");
        return;
    }
    if (observer)
        observer->timecodeReceived(timecodeSources->at(order));
}

qint64 artNetNowNs()
{
    return ArtNetReceive::steadyNowNs();
}

ArtNetObserver::~ArtNetObserver() = default;

void ArtNetObserver::timecodeReceived(const SenderEntry&) {}

void ArtNetObserver::pollReplyReceived(const QByteArray&, const QHostAddress&) {}

void ArtNetObserver::senderNamed(const SenderEntry&) {}

void artnet::setObserver(ArtNetObserver* newObserver)
{
    observer = newObserver;
}
