// DMX input over real UDP on loopback: the own universe, the caller's multi-universe buffer with
// its sync-driven hold, the pixel mapping, buffer registration from another thread, and the port
// count that ArtPollReply derives from the registered buffers.
#include "artnet.h"
#include "probes.h"
#include "sandbox.h"
#include "traffic.h"

#include <QColor>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

using namespace TestSupport;

namespace {

const QHostAddress kController(QStringLiteral("127.0.0.2"));

// What a caller's buffer holds before the node writes into it. No data pattern below uses it.
constexpr char kUntouched = char(0xAA);
const QColor kUntouchedPixel(0xAA, 0xBB, 0xCC);

// The node's sync clock, set by hand. A commit restarts it to 0.
class ManualClock : public ElapsedClock
{
public:
    void restart() override
    {
        now = 0;
        ++restarts;
    }
    qint64 elapsed() const override { return now; }

    qint64 now = 0;
    int restarts = 0;
};

// DMX data that differs from kUntouched, from 0 and from the data of every other seed (1 to 9).
QByteArray pattern(int seed, int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(0x10 * seed + 1 + i % 13);
    return data;
}

QByteArray placed(QByteArray buffer, int offset, const QByteArray& data)
{
    buffer.replace(offset, int(data.size()), data);
    return buffer;
}

// The caller's bytes are kept in a vector of exactly their size, so that the sanitizer sees
// every write past the end.
QByteArray bytes(const std::vector<quint8>& buffer)
{
    return QByteArray(reinterpret_cast<const char*>(buffer.data()), qsizetype(buffer.size()));
}

QByteArray bytes(const quint8* buffer, int size)
{
    if (!buffer)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(buffer), size);
}

// Red, green and blue of every pixel, one byte each.
QByteArray rgb(const std::vector<QColor>& pixels)
{
    QByteArray result;
    for (const QColor& pixel : pixels) {
        result.append(char(pixel.red()));
        result.append(char(pixel.green()));
        result.append(char(pixel.blue()));
    }
    return result;
}

QByteArray untouchedPixels(int count)
{
    return QByteArray("\xAA\xBB\xCC", 3).repeated(count);
}

// Sends every datagram from the controller address and lets the node handle them.
void deliver(artnet& node, const QByteArrayList& datagrams)
{
    Controller controller(kController);
    QVERIFY(controller.isBound());
    for (const QByteArray& datagram : datagrams)
        QCOMPARE(controller.send(datagram), qint64(datagram.size()));
    settle(node);
}

void deliver(artnet& node, const QByteArray& datagram)
{
    deliver(node, QByteArrayList{datagram});
}

// Of one ArtPollReply: NumPortsLo, BindIndex and the four SwOut bytes.
QByteArray portFields(quint8 ports, quint8 bindIndex, const QByteArray& swOut)
{
    QByteArray fields;
    fields.append(char(ports));
    fields.append(char(bindIndex));
    fields.append(swOut.leftJustified(4, '\0', true));
    return fields;
}

QByteArray swOut(std::initializer_list<int> universes)
{
    QByteArray result;
    for (int universe : universes)
        result.append(char(universe));
    return result;
}

} // namespace

class DmxInputTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    // Where each block of a received universe lands in the caller's buffer.
    void blocksArePlacedByUniverse_data()
    {
        QTest::addColumn<int>("universeNumber"); // given to setUniverse; 0 keeps the default
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QByteArrayList>("datagrams");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray k1024(1024, kUntouched);
        QTest::newRow("W 512: universe 1 fills bytes 512 to 1023")
            << 0 << 1024 << 512 << QByteArrayList{artDmx(1, pattern(1, 512))}
            << placed(k1024, 512, pattern(1, 512));
        QTest::newRow("W 512: universe 2 lies past a 1024-byte buffer")
            << 0 << 1024 << 512 << QByteArrayList{artDmx(2, pattern(2, 512))} << k1024;
        QTest::newRow("Length 0 copies nothing")
            << 0 << 1024 << 512 << QByteArrayList{artDmx(0, pattern(1, 512), 0)} << k1024;
        QTest::newRow("Length 3 copies three bytes")
            << 0 << 1024 << 512 << QByteArrayList{artDmx(0, pattern(1, 512), 3)}
            << placed(k1024, 0, pattern(1, 3));
        QTest::newRow("Length 600 copies one universe")
            << 0 << 1024 << 512 << QByteArrayList{artDmx(0, pattern(1, 600))}
            << placed(k1024, 0, pattern(1, 512));
        QTest::newRow("Length past the datagram's end reads zeros")
            << 0 << 1024 << 512
            << QByteArrayList{artDmx(1, pattern(1, 512)), artDmx(0, pattern(2, 10), 20)}
            << placed(placed(k1024, 512, pattern(1, 512)), 0, pattern(2, 10) + QByteArray(10, 0));

        const QByteArray k1530(1530, kUntouched);
        QTest::newRow("W 510: universe 1 starts at byte 510, two data bytes unused")
            << 0 << 1530 << 510 << QByteArrayList{artDmx(1, pattern(1, 512))}
            << placed(k1530, 510, pattern(1, 510));
        QTest::newRow("W 510: universe 2 fills the last block")
            << 0 << 1530 << 510 << QByteArrayList{artDmx(2, pattern(2, 512))}
            << placed(k1530, 1020, pattern(2, 510));

        QTest::newRow("W 1: one byte per universe")
            << 0 << 4 << 1
            << QByteArrayList{artDmx(0, pattern(1, 512)), artDmx(1, pattern(2, 512)),
                              artDmx(2, pattern(3, 512)), artDmx(3, pattern(4, 512)),
                              artDmx(4, pattern(5, 512))}
            << QByteArray("\x11\x21\x31\x41", 4);
        QTest::newRow("W 2: two bytes per universe, the last block cut")
            << 0 << 5 << 2
            << QByteArrayList{artDmx(0, pattern(1, 512)), artDmx(1, pattern(2, 512)),
                              artDmx(2, pattern(3, 512))}
            << QByteArray("\x11\x12\x21\x22\x31", 5);

        const QByteArray k1200(1200, kUntouched);
        QTest::newRow("W 600: blocks start every 512 bytes, the last one cut")
            << 0 << 1200 << 600
            << QByteArrayList{artDmx(1, pattern(1, 512)), artDmx(2, pattern(2, 512))}
            << placed(placed(k1200, 512, pattern(1, 512)), 1024, pattern(2, 176));
        QTest::newRow("W 512: a block partly past the buffer is cut at its end")
            << 0 << 700 << 512 << QByteArrayList{artDmx(1, pattern(1, 512))}
            << placed(QByteArray(700, kUntouched), 512, pattern(1, 188));

        QTest::newRow("own universe 3: universe 2 dropped, 3 is block 0, 5 is block 2")
            << 4 << 1536 << 512
            << QByteArrayList{artDmx(2, pattern(1, 512)), artDmx(3, pattern(2, 512)),
                              artDmx(5, pattern(3, 512))}
            << placed(placed(QByteArray(1536, kUntouched), 0, pattern(2, 512)), 1024,
                      pattern(3, 512));
        QTest::newRow("Net is the high byte: 0x0101 is block 1 of 0x0100, 0x0001 dropped")
            << 0x0101 << 1024 << 512
            << QByteArrayList{artDmx(0x0001, pattern(1, 512)), artDmx(0x0101, pattern(2, 512))}
            << placed(k1024, 512, pattern(2, 512));
    }

    void blocksArePlacedByUniverse()
    {
        QFETCH(int, universeNumber);
        QFETCH(int, size);
        QFETCH(int, channels);
        QFETCH(QByteArrayList, datagrams);
        QFETCH(QByteArray, expected);

        artnet node;
        if (universeNumber != 0)
            QVERIFY(node.setUniverse(quint16(universeNumber)));
        std::vector<quint8> buffer(static_cast<size_t>(size), quint8(kUntouched));
        node.setDmxBuffer(buffer.data(), quint32(size), quint16(channels));
        QCOMPARE(ArtnetProbe::dmxChannelsPerUniverse(node), quint16(channels));

        deliver(node, datagrams);
        QCOMPARE(bytes(buffer), expected);

        // Outside a hold the shadow takes the same blocks, so a sync publishes exactly what was
        // collected. Bytes no packet reached are the zeros the shadow started with.
        QByteArray collected = expected;
        collected.replace(kUntouched, QByteArray(1, '\0'));
        QCOMPARE(bytes(ArtnetProbe::shadowBuffer(node), size), collected);
        deliver(node, artSync(0x5101, 0));
        QCOMPARE(bytes(buffer), collected);
    }

    void tinyUniversesFillTheBufferButSetNoPixel_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("W 1") << 1 << QByteArray("\x11\x21\xAA\xAA", 4);
        QTest::newRow("W 2") << 2 << QByteArray("\x11\x12\x21\x22", 4);
    }

    void tinyUniversesFillTheBufferButSetNoPixel()
    {
        QFETCH(int, channels);
        QFETCH(QByteArray, expected);

        artnet node;
        std::vector<quint8> buffer(4, quint8(kUntouched));
        std::vector<QColor> pixels(8, kUntouchedPixel);
        node.setDmxBuffer(buffer.data(), 4, quint16(channels));
        node.setPixelBuffer(pixels.data(), 8, 512);

        deliver(node, {artDmx(0, pattern(1, 512)), artDmx(1, pattern(2, 512))});
        QCOMPARE(bytes(buffer), expected);
        QCOMPARE(rgb(pixels), untouchedPixels(8));
    }

    // Received data as red, green and blue of the caller's pixels.
    void pixelsAreMappedByUniverse_data()
    {
        QTest::addColumn<int>("universeNumber"); // given to setUniverse; 0 keeps the default
        QTest::addColumn<int>("dmxChannels");    // 0 registers no DMX buffer: W stays 512
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("pixelChannels");
        QTest::addColumn<QByteArrayList>("datagrams");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray p400 = untouchedPixels(400);
        QTest::newRow("W 512: universe 0 sets pixels 0 to 169, two data bytes unused")
            << 0 << 0 << 400 << 512 << QByteArrayList{artDmx(0, pattern(1, 512))}
            << placed(p400, 0, pattern(1, 510));
        QTest::newRow("W 512: universe 1 starts at pixel 170")
            << 0 << 0 << 400 << 512 << QByteArrayList{artDmx(1, pattern(1, 512))}
            << placed(p400, 3 * 170, pattern(1, 510));
        QTest::newRow("W 510: universe 2 starts at pixel 340")
            << 0 << 510 << 600 << 512 << QByteArrayList{artDmx(2, pattern(1, 512))}
            << placed(untouchedPixels(600), 3 * 340, pattern(1, 510));
        QTest::newRow("7 bytes: pixels 0 and 1 in full, only red of pixel 2")
            << 0 << 0 << 10 << 512 << QByteArrayList{artDmx(0, pattern(1, 7))}
            << placed(untouchedPixels(10), 0, pattern(1, 7));
        QTest::newRow("8 bytes: red and green of pixel 2")
            << 0 << 0 << 10 << 512 << QByteArrayList{artDmx(0, pattern(1, 8))}
            << placed(untouchedPixels(10), 0, pattern(1, 8));
        QTest::newRow("Length 0 sets no pixel")
            << 0 << 0 << 10 << 512 << QByteArrayList{artDmx(0, pattern(1, 512), 0)}
            << untouchedPixels(10);
        QTest::newRow("Length 3 on a datagram of 512 sets one pixel")
            << 0 << 0 << 10 << 512 << QByteArrayList{artDmx(0, pattern(1, 512), 3)}
            << placed(untouchedPixels(10), 0, pattern(1, 3));
        QTest::newRow("W 1600: 512 pixels per universe, Length 600 reads 512 bytes")
            << 0 << 1600 << 700 << 512 << QByteArrayList{artDmx(0, pattern(1, 600))}
            << placed(untouchedPixels(700), 0, pattern(1, 512));
        QTest::newRow("W 1600: universe 1 starts at pixel 512")
            << 0 << 1600 << 700 << 512 << QByteArrayList{artDmx(1, pattern(1, 512))}
            << placed(untouchedPixels(700), 3 * 512, pattern(1, 512));
        QTest::newRow("the array ends inside the universe")
            << 0 << 0 << 100 << 512 << QByteArrayList{artDmx(0, pattern(1, 512))}
            << placed(untouchedPixels(100), 0, pattern(1, 300));
        QTest::newRow("the universe starts past the array")
            << 0 << 0 << 170 << 512 << QByteArrayList{artDmx(1, pattern(1, 512))}
            << untouchedPixels(170);
        QTest::newRow("the pixel channels play no part in the mapping")
            << 0 << 0 << 400 << 3 << QByteArrayList{artDmx(1, pattern(1, 512))}
            << placed(p400, 3 * 170, pattern(1, 510));
        QTest::newRow("own universe 5: universe 4 dropped, 6 starts at pixel 170")
            << 6 << 0 << 400 << 512
            << QByteArrayList{artDmx(4, pattern(1, 512)), artDmx(6, pattern(2, 512))}
            << placed(p400, 3 * 170, pattern(2, 510));
    }

    void pixelsAreMappedByUniverse()
    {
        QFETCH(int, universeNumber);
        QFETCH(int, dmxChannels);
        QFETCH(int, count);
        QFETCH(int, pixelChannels);
        QFETCH(QByteArrayList, datagrams);
        QFETCH(QByteArray, expected);

        artnet node;
        if (universeNumber != 0)
            QVERIFY(node.setUniverse(quint16(universeNumber)));
        std::vector<quint8> buffer(1);
        if (dmxChannels != 0)
            node.setDmxBuffer(buffer.data(), 1, quint16(dmxChannels));
        std::vector<QColor> pixels(static_cast<size_t>(count), kUntouchedPixel);
        node.setPixelBuffer(pixels.data(), quint32(count), quint16(pixelChannels));
        QCOMPARE(ArtnetProbe::pixelCount(node), quint32(count));

        deliver(node, datagrams);
        QCOMPARE(rgb(pixels), expected);
    }

    // A hold is given up at the first ArtDmx more than 3000 ms after the last commit.
    void holdExpiresAfter3000ms_data()
    {
        QTest::addColumn<qint64>("sinceCommit");
        QTest::addColumn<bool>("held");
        QTest::newRow("2999 ms holds") << qint64(2999) << true;
        QTest::newRow("3000 ms still holds") << qint64(3000) << true;
        QTest::newRow("3001 ms publishes at once") << qint64(3001) << false;
    }

    void holdExpiresAfter3000ms()
    {
        QFETCH(qint64, sinceCommit);
        QFETCH(bool, held);

        artnet node;
        ManualClock* clock = new ManualClock;
        node.setSyncClock(clock);
        std::vector<quint8> buffer(1024, quint8(kUntouched));
        node.setDmxBuffer(buffer.data(), 1024, 512);

        // Long past any expiry: the sync itself must restart the clock.
        clock->now = 100000;
        deliver(node, artSync(0x5101, 0xFF));
        QCOMPARE(clock->restarts, 1);
        QCOMPARE(clock->now, qint64(0));
        QCOMPARE(ArtnetProbe::dmxHold(node), qint16(-1));
        const QByteArray published(1024, '\0'); // the zeroed shadow of the new registration
        QCOMPARE(bytes(buffer), published);

        clock->now = sinceCommit;
        deliver(node, artDmx(0, pattern(1, 512)));
        const QByteArray frame = placed(published, 0, pattern(1, 512));
        QCOMPARE(bytes(ArtnetProbe::shadowBuffer(node), 1024), frame);
        if (held) {
            QCOMPARE(bytes(buffer), published);
            QCOMPARE(ArtnetProbe::dmxHold(node), qint16(-1));
            deliver(node, artSync(0x5101, 0));
            QCOMPARE(clock->restarts, 2);
        } else {
            QCOMPARE(ArtnetProbe::dmxHold(node), qint16(0));
        }
        QCOMPARE(bytes(buffer), frame);
        QCOMPARE(ArtnetProbe::dmxHold(node), qint16(0));
    }

    void holdCollectsAFrameUntilTheNextSync()
    {
        artnet node;
        ManualClock* clock = new ManualClock;
        node.setSyncClock(clock);
        std::vector<quint8> buffer(1024, quint8(kUntouched));
        std::vector<QColor> pixels(340, kUntouchedPixel);
        node.setDmxBuffer(buffer.data(), 1024, 512);
        node.setPixelBuffer(pixels.data(), 340, 512);
        const QByteArray zeros(1024, '\0');

        deliver(node, artSync(0x5202, 0xFF));
        QCOMPARE(ArtnetProbe::dmxHold(node), qint16(-1));
        QCOMPARE(bytes(buffer), zeros);

        // Both universes of the frame wait in the shadow; pixels and the own universe do not
        // wait for the sync.
        deliver(node, {artDmx(0, pattern(1, 512)), artDmx(1, pattern(2, 512))});
        QCOMPARE(bytes(buffer), zeros);
        QCOMPARE(rgb(pixels),
                 placed(placed(untouchedPixels(340), 0, pattern(1, 510)), 510, pattern(2, 510)));
        QCOMPARE(ArtnetProbe::universeDataLength(node), quint16(512));
        QCOMPARE(bytes(ArtnetProbe::universeData(node), 512), pattern(1, 512));

        // A sync that holds again publishes the collected frame and starts the next one.
        deliver(node, artSync(0x5202, 0x01));
        const QByteArray first = placed(placed(zeros, 0, pattern(1, 512)), 512, pattern(2, 512));
        QCOMPARE(bytes(buffer), first);
        QCOMPARE(ArtnetProbe::dmxHold(node), qint16(1));
        QCOMPARE(clock->restarts, 2);

        deliver(node, artDmx(0, pattern(3, 512)));
        QCOMPARE(bytes(buffer), first);

        deliver(node, artSync(0x5202, 0x00));
        const QByteArray second = placed(first, 0, pattern(3, 512));
        QCOMPARE(bytes(buffer), second);
        QCOMPARE(ArtnetProbe::dmxHold(node), qint16(0));

        // Without a hold the data goes straight in, and a commit keeps it there.
        deliver(node, artDmx(1, pattern(4, 512)));
        const QByteArray third = placed(second, 512, pattern(4, 512));
        QCOMPARE(bytes(buffer), third);
        clock->now = 1234;
        node.commitDmx();
        QCOMPARE(clock->restarts, 4);
        QCOMPARE(clock->now, qint64(0));
        QCOMPARE(bytes(buffer), third);
    }

    // A sync never puts older data over what the caller's buffer already holds.
    void syncKeepsNewerData_data()
    {
        QTest::addColumn<bool>("holdFirst");
        QTest::addColumn<qint64>("sinceCommit"); // when the newer data arrives
        QTest::addColumn<QByteArray>("block1BeforeSync");

        QTest::newRow("sender never holds") << false << qint64(0) << pattern(1, 512);
        QTest::newRow("hold expired") << true << qint64(3001) << QByteArray(512, '\0');
    }

    void syncKeepsNewerData()
    {
        QFETCH(bool, holdFirst);
        QFETCH(qint64, sinceCommit);
        QFETCH(QByteArray, block1BeforeSync);

        artnet node;
        ManualClock* clock = new ManualClock;
        node.setSyncClock(clock);
        std::vector<quint8> buffer(1024, 0);
        node.setDmxBuffer(buffer.data(), 1024, 512);

        if (holdFirst)
            deliver(node, artSync(0x5101, 0x05));
        deliver(node, {artDmx(0, pattern(1, 512)), artDmx(1, pattern(1, 512))});
        clock->now = sinceCommit;
        deliver(node, artDmx(0, pattern(2, 512)));
        QCOMPARE(ArtnetProbe::dmxHold(node), qint16(0));
        QCOMPARE(bytes(buffer), pattern(2, 512) + block1BeforeSync);

        deliver(node, artSync(0x5101, 0x00));
        QCOMPARE(bytes(buffer), pattern(2, 512) + pattern(1, 512));
    }

    void everySyncKindPublishes_data()
    {
        QTest::addColumn<QByteArray>("sync");
        QTest::addColumn<bool>("publishes");

        const QByteArray madrix("MadrixN\0", 8);
        QTest::newRow("Art-Net sync pre") << artSync(0x5101, 0) << true;
        QTest::newRow("Art-Net sync post") << artSync(0x5202, 0) << true;
        QTest::newRow("MadrixN sync pre") << artSync(0x5101, 0, madrix) << true;
        QTest::newRow("MadrixN sync post") << artSync(0x5202, 0, madrix) << true;
        QTest::newRow("ArtSync 0x5200 is not handled") << artSync(0x5200, 0) << false;
        QTest::newRow("MadrixN 0x5200 is dropped") << artSync(0x5200, 0, madrix) << false;
    }

    void everySyncKindPublishes()
    {
        QFETCH(QByteArray, sync);
        QFETCH(bool, publishes);

        artnet node;
        ManualClock* clock = new ManualClock;
        node.setSyncClock(clock);
        std::vector<quint8> buffer(512, 0);
        node.setDmxBuffer(buffer.data(), 512, 512);
        deliver(node, {artSync(0x5101, 0x7F), artDmx(0, pattern(1, 512))});
        QCOMPARE(bytes(buffer), QByteArray(512, '\0'));

        deliver(node, sync);
        QCOMPARE(bytes(buffer), publishes ? pattern(1, 512) : QByteArray(512, '\0'));
        QCOMPARE(clock->restarts, publishes ? 2 : 1);
        QCOMPARE(ArtnetProbe::dmxHold(node), qint16(publishes ? 0 : 0x7F));
    }

    void dmxIsIgnoredWithoutUniverseData()
    {
        artnet node;
        std::vector<quint8> buffer(1024, quint8(kUntouched));
        std::vector<QColor> pixels(10, kUntouchedPixel);
        node.setDmxBuffer(buffer.data(), 1024, 512);
        node.setPixelBuffer(pixels.data(), 10, 512);
        node.disableDmxInput();
        QVERIFY(!ArtnetProbe::universeData(node));

        deliver(node, artDmx(0, pattern(1, 512)));
        QCOMPARE(bytes(buffer), QByteArray(1024, kUntouched));
        QCOMPARE(bytes(ArtnetProbe::shadowBuffer(node), 1024), QByteArray(1024, '\0'));
        QCOMPARE(rgb(pixels), untouchedPixels(10));
        QCOMPARE(ArtnetProbe::universeDataLength(node), quint16(0));

        // The registrations outlive the switch: enabled again, the same datagram arrives.
        QVERIFY(node.enableDmxInput());
        deliver(node, artDmx(0, pattern(1, 512)));
        QCOMPARE(bytes(buffer).left(512), pattern(1, 512));
        QCOMPARE(rgb(pixels), pattern(1, 30));
        QCOMPARE(ArtnetProbe::universeDataLength(node), quint16(512));
    }

    void setUniverseCountsFromOne_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("universe");

        QTest::newRow("0 is refused, the universe stays") << 0 << false << 5;
        QTest::newRow("1 is universe 0") << 1 << true << 0;
        QTest::newRow("257 is Net 1, SubUni 0") << 257 << true << 256;
        QTest::newRow("65535 is the highest") << 65535 << true << 65534;
    }

    void setUniverseCountsFromOne()
    {
        QFETCH(int, number);
        QFETCH(bool, accepted);
        QFETCH(int, universe);

        artnet node;
        QVERIFY(node.setUniverse(6));
        QCOMPARE(node.setUniverse(quint16(number)), accepted);
        QCOMPARE(ArtnetProbe::universe(node), quint16(universe));
    }

    void ownUniverseKeepsTheLastPacket_data()
    {
        QTest::addColumn<int>("universeNumber");
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QByteArray>("kept");

        QTest::newRow("512 bytes") << 1 << artDmx(0, pattern(1, 512)) << pattern(1, 512);
        QTest::newRow("Length 3") << 1 << artDmx(0, pattern(1, 512), 3) << pattern(1, 3);
        QTest::newRow("Length 600 keeps 512") << 1 << artDmx(0, pattern(1, 600)) << pattern(1, 512);
        QTest::newRow("Length 0 keeps nothing")
            << 1 << artDmx(0, pattern(1, 512), 0) << QByteArray();
        QTest::newRow("another universe is not kept")
            << 1 << artDmx(1, pattern(1, 512)) << QByteArray();
        QTest::newRow("own universe 0x0102")
            << 0x0103 << artDmx(0x0102, pattern(2, 100)) << pattern(2, 100);
    }

    void ownUniverseKeepsTheLastPacket()
    {
        QFETCH(int, universeNumber);
        QFETCH(QByteArray, datagram);
        QFETCH(QByteArray, kept);

        artnet node;
        QVERIFY(node.setUniverse(quint16(universeNumber)));
        QVERIFY(node.enableDmxInput());
        deliver(node, datagram);
        QCOMPARE(ArtnetProbe::universeDataLength(node), quint16(kept.size()));
        QCOMPARE(bytes(ArtnetProbe::universeData(node), int(kept.size())), kept);
    }

    void readUniverseCopiesWhatWasReceived()
    {
        artnet node;
        quint8 destination[600];
        std::memset(destination, 0xEE, sizeof destination);
        const QByteArray untouched(600, char(0xEE));

        // Enabled by the first read; nothing received yet.
        quint16 length = 10;
        QVERIFY(node.readUniverse(destination, &length));
        QVERIFY(ArtnetProbe::dmxInputReady(node));
        QCOMPARE(length, quint16(0));
        QCOMPARE(bytes(destination, 600), untouched);

        length = 10;
        QVERIFY(!node.readUniverse(nullptr, &length));
        length = 0;
        QVERIFY(!node.readUniverse(destination, &length));

        deliver(node, artDmx(0, pattern(1, 512)));
        length = 600;
        QVERIFY(node.readUniverse(destination, &length));
        QCOMPARE(length, quint16(512));
        QCOMPARE(bytes(destination, 600), pattern(1, 512) + QByteArray(88, char(0xEE)));

        std::memset(destination, 0xEE, sizeof destination);
        length = 3;
        QVERIFY(node.readUniverse(destination, &length));
        QCOMPARE(length, quint16(3));
        QCOMPARE(bytes(destination, 600), pattern(1, 3) + QByteArray(597, char(0xEE)));

        // The same universe again keeps the data; another one forgets it.
        QVERIFY(node.setUniverse(1));
        length = 600;
        QVERIFY(node.readUniverse(destination, &length));
        QCOMPARE(length, quint16(512));
        QVERIFY(node.setUniverse(2));
        length = 600;
        QVERIFY(node.readUniverse(destination, &length));
        QCOMPARE(length, quint16(0));
    }

    void getDmxValueReadsAnyUniverseInTheBuffer_data()
    {
        QTest::addColumn<int>("universeNumber");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("universeIndex");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("position"); // -1: refused

        QTest::newRow("last byte of a one-universe buffer") << 1 << 512 << 512 << 0 << 511 << 511;
        QTest::newRow("channel 512 is past the universe") << 1 << 512 << 512 << 0 << 512 << -1;
        QTest::newRow("universe 1 is past a 512-byte buffer") << 1 << 512 << 512 << 1 << 0 << -1;
        QTest::newRow("universe 1 is readable while the node's universe is 0")
            << 1 << 1024 << 512 << 1 << 511 << 1023;
        QTest::newRow("universe 9 of ten") << 1 << 5120 << 512 << 9 << 0 << 4608;
        QTest::newRow("the node's universe does not shift the index")
            << 6 << 1024 << 512 << 0 << 7 << 7;
        QTest::newRow("last byte of a partial universe") << 1 << 1000 << 512 << 1 << 487 << 999;
        QTest::newRow("one past the last byte") << 1 << 1000 << 512 << 1 << 488 << -1;
        QTest::newRow("W 510: channel 509 of universe 1 is byte 1019")
            << 1 << 1020 << 510 << 1 << 509 << 1019;
        QTest::newRow("W 510: channel 510 is refused") << 1 << 1020 << 510 << 0 << 510 << -1;
        QTest::newRow("W 510: universe 2 is past the buffer") << 1 << 1020 << 510 << 2 << 0 << -1;
    }

    void getDmxValueReadsAnyUniverseInTheBuffer()
    {
        QFETCH(int, universeNumber);
        QFETCH(int, size);
        QFETCH(int, channels);
        QFETCH(int, universeIndex);
        QFETCH(int, channel);
        QFETCH(int, position);

        artnet node;
        QVERIFY(node.setUniverse(quint16(universeNumber)));
        std::vector<quint8> buffer(static_cast<size_t>(size));
        for (size_t i = 0; i < buffer.size(); ++i)
            buffer[i] = quint8(i * 7 + 3 + i / 256);
        node.setDmxBuffer(buffer.data(), quint32(size), quint16(channels));

        const quint8 sentinel = 0xEE;
        quint8 value = sentinel;
        const bool found = node.getDmxValue(quint16(universeIndex), quint16(channel), &value);
        QCOMPARE(found, position >= 0);
        QCOMPARE(value, position >= 0 ? buffer[size_t(position)] : sentinel);
    }

    void getDmxValueWithoutBuffer()
    {
        artnet node;
        quint8 value = 0xEE;
        QVERIFY(!node.getDmxValue(0, 0, &value));
        QCOMPARE(value, quint8(0xEE));

        std::vector<quint8> buffer(512, 0x42);
        node.setDmxBuffer(buffer.data(), 512, 512);
        node.setDmxBuffer(nullptr, 512, 512);
        QVERIFY(!node.getDmxValue(0, 0, &value));
        QCOMPARE(value, quint8(0xEE));
    }

    void registrationKeepsTheCallersBytes()
    {
        artnet node;
        std::vector<quint8> first(1024, quint8(kUntouched));
        node.setDmxBuffer(first.data(), 1024, 512);
        QVERIFY(ArtnetProbe::dmxInputReady(node));
        QCOMPARE(bytes(ArtnetProbe::universeData(node), 512), QByteArray(512, '\0'));
        quint8* buffer = nullptr;
        quint32 size = 0;
        node.getDmxBuffer(&buffer, &size);
        QCOMPARE(buffer, first.data());
        QCOMPARE(size, quint32(1024));
        QCOMPARE(bytes(first), QByteArray(1024, kUntouched));
        QCOMPARE(bytes(ArtnetProbe::shadowBuffer(node), 1024), QByteArray(1024, '\0'));

        // A smaller buffer gets a shadow of its own size: a full universe is cut to fit both.
        deliver(node, artDmx(0, pattern(1, 512)));
        std::vector<quint8> second(100, quint8(kUntouched));
        node.setDmxBuffer(second.data(), 100, 510);
        node.getDmxBuffer(&buffer, &size);
        QCOMPARE(buffer, second.data());
        QCOMPARE(size, quint32(100));
        QCOMPARE(bytes(ArtnetProbe::shadowBuffer(node), 100), QByteArray(100, '\0'));
        deliver(node, artDmx(0, pattern(2, 512)));
        QCOMPARE(bytes(second), pattern(2, 100));
        QCOMPARE(bytes(ArtnetProbe::shadowBuffer(node), 100), pattern(2, 100));
        QCOMPARE(bytes(first), placed(QByteArray(1024, kUntouched), 0, pattern(1, 512)));

        // Removal forgets the channels given with it.
        node.setDmxBuffer(nullptr, 100, 7);
        node.getDmxBuffer(&buffer, &size);
        QVERIFY(!buffer);
        QCOMPARE(size, quint32(0));
        QVERIFY(!ArtnetProbe::shadowBuffer(node));
        QCOMPARE(ArtnetProbe::dmxChannelsPerUniverse(node), quint16(512));
        deliver(node, artDmx(0, pattern(3, 512)));
        QCOMPARE(bytes(second), pattern(2, 100));

        std::vector<QColor> pixels(10, kUntouchedPixel);
        node.setPixelBuffer(pixels.data(), 10, 510);
        QCOMPARE(ArtnetProbe::pixelBuffer(node), pixels.data());
        QCOMPARE(ArtnetProbe::pixelChannelsPerUniverse(node), quint16(510));
        QCOMPARE(rgb(pixels), untouchedPixels(10));
        node.setPixelBuffer(nullptr, 10, 7);
        QVERIFY(!ArtnetProbe::pixelBuffer(node));
        QCOMPARE(ArtnetProbe::pixelCount(node), quint32(0));
        QCOMPARE(ArtnetProbe::pixelChannelsPerUniverse(node), quint16(512));
    }

    void zeroChannelsPerUniverseAreRefused()
    {
        artnet node;
        std::vector<quint8> buffer(1024);
        std::vector<QColor> pixels(10);

        // Refused before anything else: not even DMX input is switched on.
        node.setDmxBuffer(buffer.data(), 1024, 0);
        node.setPixelBuffer(pixels.data(), 10, 0);
        QVERIFY(!ArtnetProbe::dmxInputReady(node));
        QVERIFY(!ArtnetProbe::universeData(node));
        quint8* registered = nullptr;
        quint32 size = 0;
        node.getDmxBuffer(&registered, &size);
        QVERIFY(!registered);
        QCOMPARE(size, quint32(0));
        QVERIFY(!ArtnetProbe::shadowBuffer(node));
        QVERIFY(!ArtnetProbe::pixelBuffer(node));
        QCOMPARE(ArtnetProbe::pixelCount(node), quint32(0));
        QCOMPARE(ArtnetProbe::dmxChannelsPerUniverse(node), quint16(512));
        QCOMPARE(ArtnetProbe::pixelChannelsPerUniverse(node), quint16(512));

        // A registration in place stays as it was.
        node.setDmxBuffer(buffer.data(), 1024, 510);
        node.setPixelBuffer(pixels.data(), 10, 300);
        const quint8* shadow = ArtnetProbe::shadowBuffer(node);
        std::vector<quint8> other(2048);
        std::vector<QColor> otherPixels(20);
        node.setDmxBuffer(other.data(), 2048, 0);
        node.setPixelBuffer(otherPixels.data(), 20, 0);
        node.getDmxBuffer(&registered, &size);
        QCOMPARE(registered, buffer.data());
        QCOMPARE(size, quint32(1024));
        QCOMPARE(ArtnetProbe::shadowBuffer(node), shadow);
        QCOMPARE(ArtnetProbe::dmxChannelsPerUniverse(node), quint16(510));
        QCOMPARE(ArtnetProbe::pixelBuffer(node), pixels.data());
        QCOMPARE(ArtnetProbe::pixelCount(node), quint32(10));
        QCOMPARE(ArtnetProbe::pixelChannelsPerUniverse(node), quint16(300));
    }

    // The caller replaces its DMX buffer from a thread of its own while the node's thread
    // copies received data into it. Once setDmxBuffer has returned, the replaced buffer is the
    // caller's again and may be read and freed: the sanitizer sees any later write.
    void buffersCanBeReplacedFromAnotherThread()
    {
        artnet node;
        QVERIFY(node.enableDmxInput());
        Controller controller(kController);
        QVERIFY(controller.isBound());

        std::atomic<bool> done{false};
        std::atomic<int> written{0};
        int replaced = 0;
        std::thread caller([&] {
            struct Shape
            {
                quint32 size;
                quint16 channels;
            };
            const Shape shapes[] = {{512, 512},  {5120, 512}, {100, 510},
                                    {2048, 510}, {8, 1},      {1536, 600}};
            std::vector<quint8>* current = nullptr;
            auto release = [&] {
                if (!current)
                    return;
                for (quint8 byte : *current) {
                    if (byte != 0) {
                        ++written;
                        break;
                    }
                }
                delete current;
                current = nullptr;
                ++replaced;
            };
            for (int round = 0; round < 600; ++round) {
                const Shape& shape = shapes[round % 6];
                auto* next = new std::vector<quint8>(shape.size, 0);
                node.setDmxBuffer(next->data(), shape.size, shape.channels);
                release();
                current = next;
                std::this_thread::sleep_for(std::chrono::microseconds(300));
                if (round % 10 == 9) {
                    node.setDmxBuffer(nullptr, 0, 0);
                    release();
                }
            }
            node.setDmxBuffer(nullptr, 0, 0);
            release();
            done = true;
        });

        // Frames of twelve universes with holds that come and go, so that the direct copy, the
        // shadow copy, the expiry check and the commit all meet the replacements.
        int frames = 0;
        while (!done) {
            for (quint16 universe = 0; universe < 12; ++universe)
                controller.send(artDmx(universe, QByteArray(512, char(1 + universe))));
            controller.send(artSync(frames % 3 == 0 ? 0x5101 : 0x5202, frames % 2 ? 0x01 : 0x00));
            ++frames;
            settle(node);
        }
        caller.join();
        QCOMPARE(replaced, 600);
        QVERIFY2(written > 0, "no replaced buffer ever received data: the race was not run");
        quint8* registered = nullptr;
        node.getDmxBuffer(&registered, nullptr);
        QVERIFY(!registered);
        QVERIFY(!ArtnetProbe::shadowBuffer(node));
    }

    // ArtPollReply counts the ports of the registered buffers, four to a reply.
    void pollReplyPortsFollowTheBuffers_data()
    {
        QTest::addColumn<int>("universeNumber");
        QTest::addColumn<bool>("enableInput");
        QTest::addColumn<int>("dmxSize"); // 0: no DMX buffer
        QTest::addColumn<int>("dmxChannels");
        QTest::addColumn<int>("laterSize"); // a second setDmxBuffer; -1: none, 0: removal
        QTest::addColumn<int>("laterChannels");
        QTest::addColumn<int>("pixelCount"); // 0: no pixel array
        QTest::addColumn<int>("pixelChannels");
        QTest::addColumn<QByteArrayList>("replies");

        QTest::newRow("no DMX input: one reply without ports")
            << 0 << false << 0 << 0 << -1 << 0 << 0 << 0
            << QByteArrayList{portFields(0, 0, QByteArray())};
        QTest::newRow("DMX input without buffers: one port at the node's universe")
            << 6 << true << 0 << 0 << -1 << 0 << 0 << 0
            << QByteArrayList{portFields(1, 0, swOut({5}))};
        QTest::newRow("5120 bytes at 512: three replies of 4, 4 and 2 ports")
            << 0 << false << 5120 << 512 << -1 << 0 << 0 << 0
            << QByteArrayList{portFields(4, 0, swOut({0, 1, 2, 3})),
                              portFields(4, 1, swOut({4, 5, 6, 7})),
                              portFields(2, 2, swOut({8, 9}))};
        QTest::newRow("SwOut carries the low byte of each universe")
            << 255 << false << 5120 << 512 << -1 << 0 << 0 << 0
            << QByteArrayList{portFields(4, 0, swOut({254, 255, 0, 1})),
                              portFields(4, 1, swOut({2, 3, 4, 5})),
                              portFields(2, 2, swOut({6, 7}))};
        QTest::newRow("513 bytes at 512: two ports")
            << 0 << false << 513 << 512 << -1 << 0 << 0 << 0
            << QByteArrayList{portFields(2, 0, swOut({0, 1}))};
        QTest::newRow("200 pixels at 512: two ports")
            << 0 << false << 0 << 0 << -1 << 0 << 200 << 512
            << QByteArrayList{portFields(2, 0, swOut({0, 1}))};
        QTest::newRow("more pixel ports than DMX ports: the pixels count")
            << 0 << false << 1024 << 512 << -1 << 0 << 1000 << 510
            << QByteArrayList{portFields(4, 0, swOut({0, 1, 2, 3})),
                              portFields(2, 1, swOut({4, 5}))};
        QTest::newRow("refused 0 channels keep the three replies")
            << 0 << false << 5120 << 512 << 2048 << 0 << 0 << 0
            << QByteArrayList{portFields(4, 0, swOut({0, 1, 2, 3})),
                              portFields(4, 1, swOut({4, 5, 6, 7})),
                              portFields(2, 2, swOut({8, 9}))};
        QTest::newRow("removed with 0 channels: back to one port")
            << 0 << false << 5120 << 512 << 0 << 0 << 0 << 0
            << QByteArrayList{portFields(1, 0, swOut({0}))};
        QTest::newRow("pixels refused at 0 channels: one port")
            << 0 << true << 0 << 0 << -1 << 0 << 200 << 0
            << QByteArrayList{portFields(1, 0, swOut({0}))};
    }

    void pollReplyPortsFollowTheBuffers()
    {
        QFETCH(int, universeNumber);
        QFETCH(bool, enableInput);
        QFETCH(int, dmxSize);
        QFETCH(int, dmxChannels);
        QFETCH(int, laterSize);
        QFETCH(int, laterChannels);
        QFETCH(int, pixelCount);
        QFETCH(int, pixelChannels);
        QFETCH(QByteArrayList, replies);

        artnet node;
        node.setPollReplyEnabled(true);
        if (universeNumber != 0)
            QVERIFY(node.setUniverse(quint16(universeNumber)));
        if (enableInput)
            QVERIFY(node.enableDmxInput());
        std::vector<quint8> buffer(size_t(qMax(dmxSize, 1)));
        if (dmxSize != 0)
            node.setDmxBuffer(buffer.data(), quint32(dmxSize), quint16(dmxChannels));
        std::vector<quint8> later(size_t(qMax(laterSize, 1)));
        if (laterSize == 0)
            node.setDmxBuffer(nullptr, 0, quint16(laterChannels));
        else if (laterSize > 0)
            node.setDmxBuffer(later.data(), quint32(laterSize), quint16(laterChannels));
        std::vector<QColor> pixels(size_t(qMax(pixelCount, 1)));
        if (pixelCount != 0)
            node.setPixelBuffer(pixels.data(), quint32(pixelCount), quint16(pixelChannels));

        // The reply goes to the poller's address and port 6454; a socket bound to exactly that
        // address gets it, not the node's own wildcard socket.
        QUdpSocket poller;
        QVERIFY(poller.bind(kController, kArtNetPort,
                            QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
        QCOMPARE(
            poller.writeDatagram(artPoll(), QHostAddress(QHostAddress::LocalHost), kArtNetPort),
            qint64(14));
        settle(node);

        QByteArrayList seen;
        while (poller.hasPendingDatagrams()) {
            QByteArray reply(qsizetype(poller.pendingDatagramSize()), '\0');
            poller.readDatagram(reply.data(), reply.size());
            QCOMPARE(reply.size(), qsizetype(240));
            QCOMPARE(reply.left(10), QByteArray("Art-Net\0\x00\x21", 10));
            seen.append(portFields(quint8(reply[173]), quint8(reply[211]), reply.mid(190, 4)));
        }
        QCOMPARE(seen, replies);
    }
};

QTEST_GUILESS_MAIN(DmxInputTest)
#include "tst_dmxinput.moc"
