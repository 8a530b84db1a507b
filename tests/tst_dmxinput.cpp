// DMX input over real UDP on loopback: the caller's buffer and pixels, the sync-driven hold, the
// own universe, buffer registration from another thread, and the ports ArtPollReply counts.
#include "artnet.h"
#include "sandbox.h"
#include "steppedclock.h"
#include "traffic.h"

#include <QColor>
#include <QNetworkDatagram>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace TestSupport;

namespace {

const QHostAddress kController(QStringLiteral("127.0.0.2"));

// What the caller's bytes hold before the node writes into them.
constexpr char kUntouched = char(0xAA);

// Data that differs from kUntouched, from 0 and from that of every other seed from 1 to 9.
QByteArray pattern(int seed, int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(0x10 * seed + 1 + i % 13);
    return data;
}

// The caller's bytes live in a vector of exactly their size, so the sanitizer sees any write
// past their end.
QByteArray bytes(const std::vector<quint8>& buffer)
{
    return QByteArray(reinterpret_cast<const char*>(buffer.data()), qsizetype(buffer.size()));
}

// Red, green and blue of every pixel, one byte each.
QByteArray rgb(const std::vector<QColor>& pixels)
{
    QByteArray result;
    for (const QColor& pixel : pixels)
        result.append(char(pixel.red())).append(char(pixel.green())).append(char(pixel.blue()));
    return result;
}

// What rgb() gives for pixels the node left in their first colour, 0xAABBCC.
QByteArray untouched(int pixels)
{
    return QByteArray("\xAA\xBB\xCC", 3).repeated(pixels);
}

// While it exists, the process may map at most 512 MiB more than it has mapped now.
class AddressSpaceLimit
{
public:
    AddressSpaceLimit()
    {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly) || getrlimit(RLIMIT_AS, &saved) != 0)
            return;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (!line.startsWith("VmSize:"))
                continue;
            const rlim_t mapped = line.mid(7).trimmed().split(' ').first().toULongLong() * 1024;
            rlimit limited = saved;
            limited.rlim_cur = mapped + (rlim_t(512) << 20);
            set = setrlimit(RLIMIT_AS, &limited) == 0;
        }
    }
    ~AddressSpaceLimit()
    {
        if (set)
            setrlimit(RLIMIT_AS, &saved);
    }
    AddressSpaceLimit(const AddressSpaceLimit&) = delete;
    AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;
    bool isSet() const { return set; }

private:
    rlimit saved{};
    bool set = false;
};

// Sends every datagram from the controller address and lets the node handle them; false if a
// datagram could not be sent whole or the node did not read them.
[[nodiscard]] bool deliver(artnet& node, const QByteArrayList& datagrams)
{
    Controller controller(kController);
    for (const QByteArray& datagram : datagrams) {
        if (controller.send(datagram) != datagram.size())
            return false;
    }
    return settle(node);
}

} // namespace

class DmxInputTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    // Universe k after the node's own lands in block k of the caller's bytes (at k·W, from
    // W = 512 on at k·512) and from pixel k·(W / 3) on. Pixels are registered at 3 channels
    // per universe: that number counts ports only, the mapping never reads it. The caller then
    // reads its bytes back through getDmxValue and the own universe's last data through
    // readUniverse.
    void universesArePlacedAndRead_data()
    {
        QTest::addColumn<int>("universeNumber");
        QTest::addColumn<int>("size");       // 0: no DMX buffer, W stays 512
        QTest::addColumn<int>("channels");   // W
        QTest::addColumn<int>("pixelCount"); // 0: no pixels
        QTest::addColumn<QByteArrayList>("datagrams");
        QTest::addColumn<QByteArray>("expectedBytes");
        QTest::addColumn<QByteArray>("expectedPixels");
        QTest::addColumn<QByteArray>("own");
        QTest::addColumn<QList<int>>("values"); // universe index, channel, position or -1
        QTest::addColumn<bool>("inputOff");
        const auto row =
            [](const char* name, int universeNumber, int size, int channels, int pixelCount,
               const QByteArrayList& datagrams, const QByteArray& bytes, const QByteArray& pixels,
               const QByteArray& own, const QList<int>& values = {}, bool inputOff = false) {
                QTest::newRow(name) << universeNumber << size << channels << pixelCount << datagrams
                                    << bytes << pixels << own << values << inputOff;
            };

        const QByteArray none, p1 = pattern(1, 512), p2 = pattern(2, 512), p3 = pattern(3, 512);
        const QByteArray u1024(1024, kUntouched);
        row("W 512: universe 1 fills bytes 512 to 1023, universe 2 is dropped", 1, 1024, 512, 0,
            {artDmx(1, p1), artDmx(2, p2)}, patched(u1024, 512, p1), none, none,
            {1, 511, 1023, 2, 0, -1});
        row("Length 0 copies nothing, Length 3 three bytes", 1, 1024, 512, 0,
            {artDmx(1, p2, 0), artDmx(0, p1, 3)}, patched(u1024, 0, p1.left(3)), none, p1.left(3));
        // The node reuses one receive buffer: the longer datagram before must not show through.
        row("Length 600 copies one universe, a Length past the datagram's end only what came", 1,
            1024, 512, 0, {artDmx(0, pattern(1, 600)), artDmx(1, p2.left(10), 20)},
            patched(patched(u1024, 0, p1), 512, p2.left(10)), none, p1);
        // Slots that never arrived keep what the frame before wrote, in the caller's bytes, the
        // pixels and the own universe, whose length is what came.
        const QByteArray fullFrames = patched(patched(u1024, 0, p1), 512, p3);
        const QByteArray fullPixels =
            patched(patched(untouched(200), 0, p1.left(510)), 3 * 170, p3.left(90));
        row("a 20-byte ArtDmx that claims 512 slots writes its two", 1, 1024, 512, 200,
            {artDmx(0, p1), artDmx(1, p3), artDmx(0, p2.left(2), 512), artDmx(1, p2.left(4), 512)},
            patched(patched(fullFrames, 0, p2.left(2)), 512, p2.left(4)),
            patched(patched(fullPixels, 0, p2.left(2)), 3 * 170, p2.left(4)), p2.left(2));
        row("an ArtDmx cut inside its header is dropped; the bare header brings no slot", 1, 1024,
            512, 0,
            {artDmx(0, p1), artDmx(0, p2).left(13), artDmx(0, p2).left(17), artDmx(1, p2).left(18)},
            patched(u1024, 0, p1), none, p1, {0, 0, 0, 1, 0, 512});
        // Universe 2 first, so that two bytes too many from universe 1 would show.
        row("W 510: universe k fills from byte 510·k and pixel 170·k", 1, 1530, 510, 600,
            {artDmx(2, p2), artDmx(1, p1)},
            patched(patched(QByteArray(1530, kUntouched), 510, p1.left(510)), 1020, p2.left(510)),
            patched(patched(untouched(600), 3 * 170, p1.left(510)), 3 * 340, p2.left(510)), none,
            {0, 510, -1});
        row("W 2: two bytes per universe, the last cut, no pixel", 1, 5, 2, 8,
            {artDmx(0, p1), artDmx(1, p2), artDmx(2, p3)}, QByteArray("\x11\x12\x21\x22\x31", 5),
            untouched(8), p1);
        // getDmxValue reads where the blocks were placed, and no channel past a universe's 512.
        row("W 600: blocks every 512 bytes, pixels every 200, both cut at the end", 1, 1200, 600,
            300, {artDmx(1, p1), artDmx(2, p2)},
            patched(patched(QByteArray(1200, kUntouched), 512, p1), 1024, p2.left(176)),
            patched(untouched(300), 3 * 200, p1.left(300)), none,
            {1, 38, 550, 0, 550, -1, 1, 511, 1023, 2, 175, 1199, 2, 176, -1, 0, 511, 511});
        row("Length 7: pixels 0 and 1 in full, only red of 2; Length 8 adds green", 1, 0, 0, 180,
            {artDmx(0, p1, 7), artDmx(1, p2, 8)}, none,
            patched(patched(untouched(180), 0, p1.left(7)), 3 * 170, p2.left(8)), p1.left(7),
            {0, 0, -1});
        // The own SubUni under Net 0 comes last: a universe below the own, dropped and not kept.
        row("own universe Net 1 SubUni 2 is block 0, SubUni 4 block 2", 0x0103, 1536, 512, 400,
            {artDmx(0x0102, p2), artDmx(0x0104, p3), artDmx(0x0002, p1)},
            patched(patched(QByteArray(1536, kUntouched), 0, p2), 1024, p3),
            patched(patched(untouched(400), 0, p2.left(510)), 3 * 340, p3.left(180)), p2,
            {0, 7, 7, 2, 511, 1535});
        // Switched off, DMX input drops ArtDmx but keeps the registrations for when it is back.
        row("input switched off", 1, 512, 512, 1, {artDmx(0, p1)}, QByteArray(512, kUntouched),
            untouched(1), none, {}, true);
    }

    void universesArePlacedAndRead()
    {
        QFETCH(int, universeNumber);
        QFETCH(int, size);
        QFETCH(int, channels);
        QFETCH(int, pixelCount);
        QFETCH(QByteArrayList, datagrams);
        QFETCH(QByteArray, expectedBytes);
        QFETCH(QByteArray, expectedPixels);
        QFETCH(QByteArray, own);
        QFETCH(QList<int>, values);
        QFETCH(bool, inputOff);

        artnet node;
        QVERIFY(node.setUniverse(quint16(universeNumber)));
        QVERIFY(!node.setUniverse(0)); // refused: the universe stays
        std::vector<quint8> buffer(static_cast<size_t>(size), quint8(kUntouched));
        // QColor's setters lie beyond the sanitizer's reach: eight more pixels show any write
        // past the registered ones.
        std::vector<QColor> colors(static_cast<size_t>(pixelCount) + 8, QColor(0xAA, 0xBB, 0xCC));
        node.setDmxBuffer(size ? buffer.data() : nullptr, quint32(size), quint16(channels));
        node.setPixelBuffer(pixelCount ? colors.data() : nullptr, quint32(pixelCount), 3);
        if (inputOff)
            node.disableDmxInput();

        QVERIFY(deliver(node, datagrams));
        QCOMPARE(bytes(buffer), expectedBytes);
        QCOMPARE(rgb(colors), expectedPixels + untouched(8));

        // getDmxValue reads any universe whose byte lies in the buffer, counted from its start
        // whatever the node's own universe, and no channel past W.
        for (int i = 0; i + 2 < values.size(); i += 3) {
            quint8 value = 0xEE;
            const int position = values[i + 2];
            QCOMPARE(node.getDmxValue(quint16(values[i]), quint16(values[i + 1]), &value),
                     position >= 0);
            QCOMPARE(value, quint8(position >= 0 ? expectedBytes[position] : char(0xEE)));
        }

        // No more than was asked; reading turns a switched-off input back on.
        for (int asked : {600, 3}) {
            QByteArray read(600, char(0xEE));
            quint16 length = quint16(asked);
            QVERIFY(node.readUniverse(reinterpret_cast<quint8*>(read.data()), &length));
            QCOMPARE(length, quint16(own.left(asked).size()));
            QCOMPARE(read, patched(QByteArray(600, char(0xEE)), 0, own.left(asked)));
        }

        // Outside a hold the shadow takes the same bytes, so a sync publishes no older data;
        // bytes no packet reached are the zeros the shadow started with.
        QVERIFY(deliver(node, {artSync(0x5101, 0)}));
        QCOMPARE(bytes(buffer), expectedBytes.replace(kUntouched, '\0'));
    }

    // A sync holds the caller's bytes until the next one; a hold no sync renews for more than
    // 3000 ms is given up at the next ArtDmx. No sync puts older data over newer.
    void holdLastsUntilTheNextSync_data()
    {
        QTest::addColumn<int>("hold"); // of the first sync
        QTest::addColumn<qint64>("sinceCommit");
        QTest::addColumn<QByteArray>("beforeSync");

        const QByteArray zeros(512, '\0');
        QTest::newRow("hold 0 holds nothing")
            << 0 << qint64(0) << pattern(2, 512) + pattern(1, 512);
        QTest::newRow("0xFF holds 2999 ms") << 0xFF << qint64(2999) << zeros + zeros;
        QTest::newRow("0xFF holds 3000 ms") << 0xFF << qint64(3000) << zeros + zeros;
        QTest::newRow("3001 ms: given up, the newer data stays")
            << 0xFF << qint64(3001) << pattern(2, 512) + zeros;
    }

    void holdLastsUntilTheNextSync()
    {
        QFETCH(int, hold);
        QFETCH(qint64, sinceCommit);
        QFETCH(QByteArray, beforeSync);

        artnet node;
        // Long after the node started its own clock.
        auto* clock = new SteppedClock(100000);
        node.setSyncClock(clock);
        std::vector<quint8> buffer(1024, 0);
        node.setDmxBuffer(buffer.data(), 1024, 512);

        // Only the restart by the sync's commit keeps the hold.
        QVERIFY(deliver(node, {artSync(0x5101, quint8(hold)), artDmx(0, pattern(1, 512)),
                               artDmx(1, pattern(1, 512))}));
        clock->step(sinceCommit);
        QVERIFY(deliver(node, {artDmx(0, pattern(2, 512))}));
        QCOMPARE(bytes(buffer), beforeSync);
        QVERIFY(deliver(node, {artSync(0x5202, 0)}));
        QCOMPARE(bytes(buffer), pattern(2, 512) + pattern(1, 512));
    }

    // The caller replaces its DMX buffer from a thread of its own while the node's thread
    // copies received data into it. Every universe of a frame carries one value, the next frame
    // another, so each universe's block that the node wrote whole holds one value. Once
    // setDmxBuffer has returned, the replaced buffer is the caller's again: no block in it is
    // half written, and nothing writes to it any more. It is then freed: the sanitizer sees any
    // later write.
    void buffersCanBeReplacedFromAnotherThread()
    {
        artnet node;
        QVERIFY(node.enableDmxInput());
        Controller controller(kController);
        std::atomic<bool> done{false};
        std::atomic<int> written{0}, halfWritten{0}, writtenAfterwards{0};
        std::thread caller([&] {
            // The buffer's size, its channels per universe, and how far apart the universes'
            // blocks lie in it.
            struct Shape
            {
                quint32 size;
                quint16 channels;
                size_t block;
            };
            const Shape shapes[] = {{512, 512, 512},  {5120, 512, 512}, {100, 510, 510},
                                    {2048, 510, 510}, {8, 1, 1},        {1536, 600, 512}};
            constexpr quint8 kCallers = 0xEE; // a value no frame carries
            const auto anyBut = [](auto first, auto last, quint8 value) {
                return std::any_of(first, last, [value](quint8 b) { return b != value; });
            };
            std::vector<quint8> current;
            size_t block = 1;
            for (int round = 0; round < 2000; ++round) {
                // Every tenth round removes the buffer instead, at 0 channels.
                const Shape& shape = shapes[round % 6];
                std::vector<quint8> next(round % 10 == 9 ? 0 : shape.size);
                node.setDmxBuffer(next.empty() ? nullptr : next.data(), shape.size,
                                  next.empty() ? 0 : shape.channels);
                written += anyBut(current.begin(), current.end(), 0);
                for (size_t first = 0; first < current.size(); first += block) {
                    const auto from = current.begin() + qsizetype(first);
                    const auto to =
                        current.begin() + qsizetype(qMin(first + block, current.size()));
                    halfWritten += anyBut(from, to, *from);
                }
                std::fill(current.begin(), current.end(), kCallers);
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                writtenAfterwards += anyBut(current.begin(), current.end(), kCallers);
                current = std::move(next); // frees the replaced buffer
                block = shape.block;
            }
            node.setDmxBuffer(nullptr, 0, 0);
            done = true;
        });

        // Frames of twelve universes with holds that come and go, so that the direct copy, the
        // shadow copy, the expiry check and the commit all meet the replacements. A node that
        // stops reading ends the frames; the caller's thread ends by itself.
        bool settled = true;
        for (int frames = 0; !done && settled; ++frames) {
            const QByteArray frame(512, char(1 + frames % 200));
            for (quint16 universe = 0; universe < 12; ++universe)
                controller.send(artDmx(universe, frame));
            controller.send(artSync(frames % 3 == 0 ? 0x5101 : 0x5202, frames % 2 ? 0x01 : 0x00));
            settled = settle(node);
        }
        caller.join();
        QVERIFY(settled);
        QCOMPARE(halfWritten.load(), 0);
        QCOMPARE(writtenAfterwards.load(), 0);
        QVERIFY2(written > 0, "no replaced buffer ever received data: the race was not run");
    }

    // A buffer whose shadow cannot be allocated is refused, without an exception, and the
    // earlier registration goes on receiving. The address space is limited for the call, so
    // nearly 4 GiB cannot be had on any machine.
    void unallocatableBufferIsRefused()
    {
        artnet node;
        std::vector<quint8> buffer(1024, quint8(kUntouched)), other(16, quint8(kUntouched));
        node.setDmxBuffer(buffer.data(), 1024, 512);
        {
            const AddressSpaceLimit limit;
            QVERIFY2(limit.isSet(), "the address space could not be limited");
            node.setDmxBuffer(other.data(), 0xFFFFFFF0u, 512);
        }
        quint8* registered = nullptr;
        quint32 size = 0;
        node.getDmxBuffer(&registered, &size);
        QCOMPARE(registered, buffer.data());
        QCOMPARE(size, 1024u);
        QVERIFY(deliver(node, {artDmx(1, pattern(1, 512))}));
        QCOMPARE(bytes(buffer), patched(QByteArray(1024, kUntouched), 512, pattern(1, 512)));
        QCOMPARE(bytes(other), QByteArray(16, kUntouched));
    }

    // ArtPollReply counts the ports of the registered buffers, four to a reply, numbered from the
    // node's universe 5. Every row then offers other buffers at 0 channels per universe: refused,
    // they change no count.
    void pollReplyPortsFollowTheBuffers_data()
    {
        QTest::addColumn<bool>("dmxInput");
        QTest::addColumn<int>("dmxSize");        // at 512 channels; 0: no DMX buffer
        QTest::addColumn<int>("pixelCount");     // at 512 channels; 0: no pixels
        QTest::addColumn<QByteArray>("replies"); // NumPortsLo, BindIndex, SwOut of each in turn

        QTest::newRow("no DMX input: one reply without ports")
            << false << 0 << 0 << QByteArray::fromHex("0000 00000000");
        QTest::newRow("DMX input without buffers: one port")
            << true << 0 << 0 << QByteArray::fromHex("0100 05000000");
        QTest::newRow("5120 bytes: replies of 4, 4 and 2 ports")
            << true << 5120 << 0
            << QByteArray::fromHex("0400 05060708  0401 090A0B0C  0202 0D0E0000");
        QTest::newRow("513 bytes: two ports")
            << true << 513 << 0 << QByteArray::fromHex("0200 05060000");
        QTest::newRow("200 pixels: two ports")
            << true << 0 << 200 << QByteArray::fromHex("0200 05060000");
    }

    void pollReplyPortsFollowTheBuffers()
    {
        QFETCH(bool, dmxInput);
        QFETCH(int, dmxSize);
        QFETCH(int, pixelCount);
        QFETCH(QByteArray, replies);

        artnet node;
        node.setPollReplyEnabled(true);
        QVERIFY(node.setUniverse(6));
        if (dmxInput)
            QVERIFY(node.enableDmxInput());
        std::vector<quint8> buffer(static_cast<size_t>(dmxSize)), refused(2048);
        std::vector<QColor> pixels(static_cast<size_t>(pixelCount)), refusedPixels(2000);
        node.setDmxBuffer(dmxSize ? buffer.data() : nullptr, quint32(dmxSize), 512);
        node.setPixelBuffer(pixelCount ? pixels.data() : nullptr, quint32(pixelCount), 512);
        node.setDmxBuffer(refused.data(), 2048, 0);
        node.setPixelBuffer(refusedPixels.data(), 2000, 0);

        Poller poller(kController);
        QVERIFY(poller.isBound());
        QVERIFY(poller.poll());
        QVERIFY(settle(node));

        QByteArray seen;
        while (poller.socket.hasPendingDatagrams()) {
            const QByteArray reply = poller.socket.receiveDatagram().data();
            QCOMPARE(reply.size(), qsizetype(240));
            QCOMPARE(reply.left(10), QByteArray("Art-Net\0\x00\x21", 10));
            seen += reply.mid(173, 1) + reply.mid(211, 1) + reply.mid(190, 4);
        }
        QCOMPARE(seen, replies);
    }
};

QTEST_GUILESS_MAIN(DmxInputTest)
#include "tst_dmxinput.moc"
