// libFuzzer target: arbitrary datagrams from arbitrary IPv4 senders into the node's handling of
// one received datagram, with every branch live: answering ArtPoll through an open socket, DMX
// input into a registered DMX buffer and pixel array, and holds that sync packets set and clear
// while the hold clock is stepped by the input.
//
// The node answers ArtPoll to the sender's address, so this program refuses to start where any
// network but loopback exists: run it only through tests/support/netns-run.
//
// Input layout (all numbers little-endian; bytes past the end read as 0):
//   set-up, 10 bytes
//     0-1  universe number handed to setUniverse (0 is refused there and leaves universe 1)
//     2-3  DMX channels per universe (0 taken as 1)
//     4-5  DMX buffer size in bytes, 1 + the number modulo 8192 (up to 16 full universes)
//     6-7  pixel count, 1 + the number modulo 2048 (a pixel costs a constructor per input)
//     8-9  pixel channels per universe (0 taken as 1)
//   then datagram records until the input ends, each
//     0-3  sender IPv4 address, first octet first
//     4    hold clock step before this datagram, in units of 16 ms (255 steps past the expiry)
//     5-6  datagram length in the low 15 bits; a length beyond the input's end takes what is
//          left. The top bit gives the sender in its IPv4-mapped IPv6 form, ::ffff:a.b.c.d.
//     7-   the datagram
#include "artnet.h"
#include "probes.h"
#include "steppedclock.h"

#include <QByteArray>
#include <QColor>
#include <QCoreApplication>
#include <QHostAddress>
#include <QtGlobal>

#include <net/if.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr qint64 kClockStepMs = 16;
constexpr quint16 kMappedSender = 0x8000;

// Reads little-endian numbers and byte runs; past the end it yields zeros and empty runs.
class Reader
{
public:
    Reader(const uint8_t* data, size_t size) : data(data), size(size) {}
    bool atEnd() const { return position >= size; }
    quint8 byte() { return position < size ? data[position++] : 0; }
    quint16 le16()
    {
        const quint8 low = byte();
        return quint16(low | (byte() << 8));
    }
    quint32 ipv4()
    {
        quint32 value = 0;
        for (int i = 0; i < 4; ++i)
            value = (value << 8) | byte();
        return value;
    }
    // At most length bytes, fewer at the end of the input.
    size_t take(size_t length, const uint8_t** bytes)
    {
        const size_t available = qMin(length, size - qMin(position, size));
        *bytes = data + qMin(position, size);
        position += available;
        return available;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t position = 0;
};

// Any interface but loopback could carry a poll reply off this machine.
void refuseUnlessLoopbackOnly()
{
    struct if_nameindex* names = if_nameindex();
    if (!names) {
        std::fprintf(stderr, "fuzz_datagram: cannot list the network interfaces; refusing to "
                             "run outside a private network namespace\n");
        std::abort();
    }
    for (struct if_nameindex* name = names; name->if_index != 0; ++name) {
        if (std::strcmp(name->if_name, "lo") != 0) {
            std::fprintf(stderr,
                         "fuzz_datagram: network interface %s exists; this target answers "
                         "ArtPoll to arbitrary addresses and runs only where loopback is the "
                         "only network (tests/support/netns-run)\n",
                         name->if_name);
            if_freenameindex(names);
            std::abort();
        }
    }
    if_freenameindex(names);
}

void dropDebugMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // The node's sync lines would drown libFuzzer's own report; everything else is kept.
    if (type == QtDebugMsg)
        return;
    std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().data());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    refuseUnlessLoopbackOnly();
    qInstallMessageHandler(dropDebugMessages);
    // The node's socket and timers need an application object; it lives for the whole run.
    static QCoreApplication application(*argc, *argv);
    return 0;
}

// Every ArtPollReply the node hands on goes through the reader that lists nodes, so that reader
// meets the same hostile input; every timecode it reports must come from an IPv4 sender.
class ReplyReader : public ArtNetObserver
{
public:
    void timecodeReceived(const SenderEntry& sender) override
    {
        bool isIpv4 = false;
        sender.address.toIPv4Address(&isIpv4);
        if (!isIpv4)
            std::abort();
    }
    void pollReplyReceived(const QByteArray& datagram, const QHostAddress&) override
    {
        if (const auto reply =
                ArtNetPacket::readPollReply(datagram.constData(), int(datagram.size()))) {
            if (reply->inputUniverses.size() > reply->numPorts ||
                reply->outputUniverses.size() > reply->numPorts)
                std::abort();
        }
    }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader input(data, size);
    const quint16 universe = input.le16();
    const quint16 dmxChannels = qMax<quint16>(input.le16(), 1);
    const quint16 dmxSize = quint16(1 + input.le16() % 8192);
    const quint16 pixels = quint16(1 + input.le16() % 2048);
    const quint16 pixelChannels = qMax<quint16>(input.le16(), 1);

    // Exactly sized, so that AddressSanitizer sees any write past what was registered.
    std::unique_ptr<quint8[]> dmx(new quint8[dmxSize]());
    std::vector<QColor> pixelArray(pixels);

    {
        ReplyReader replyReader;
        artnet node;
        node.setObserver(&replyReader);
        auto* clock = new TestSupport::SteppedClock;
        node.setSyncClock(clock);
        node.setPollReplyEnabled(true);
        if (!ArtnetProbe::pollReplyEnabled(node) || !ArtnetProbe::socket(node)) {
            std::fprintf(stderr, "fuzz_datagram: the node could not open its socket\n");
            std::abort();
        }
        node.enableDmxInput();
        node.setUniverse(universe);
        node.setDmxBuffer(dmx.get(), dmxSize, dmxChannels);
        node.setPixelBuffer(pixelArray.data(), pixels, pixelChannels);

        while (!input.atEnd()) {
            const quint32 ipv4 = input.ipv4();
            clock->step(input.byte() * kClockStepMs);
            const quint16 lengthField = input.le16();
            QHostAddress sender(ipv4);
            if (lengthField & kMappedSender) {
                Q_IPV6ADDR mapped{};
                mapped[10] = mapped[11] = 0xFF;
                for (int i = 0; i < 4; ++i)
                    mapped[12 + i] = quint8(ipv4 >> (24 - 8 * i));
                sender.setAddress(mapped);
            }
            const uint8_t* bytes = nullptr;
            const size_t length = input.take(lengthField & ~kMappedSender, &bytes);
            // A copy of its own, exactly sized: a read past the datagram's end is caught
            // instead of landing in the next record.
            std::unique_ptr<char[]> copy(new char[length]);
            if (length)
                std::memcpy(copy.get(), bytes, length);
            QByteArray datagram = QByteArray::fromRawData(copy.get(), qsizetype(length));
            ArtnetProbe::handleDatagram(node, datagram, sender);
        }

        // What the own universe received must read back within its 512 slots.
        quint8 readBack[512];
        quint16 readLength = sizeof readBack;
        node.readUniverse(readBack, &readLength);

        // The caller's buffers are released only after the node is gone.
        node.setPixelBuffer(nullptr, 0, 0);
        node.setDmxBuffer(nullptr, 0, 0);
    }
    return 0;
}
