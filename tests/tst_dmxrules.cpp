// Where received DMX goes, as plain numbers: the block of the caller's buffer, the pixels, the
// byte getDmxValue reads, the hold's expiry and the universe numbers counted from 1. No network.
#include "dmxrules.h"
#include "pixels.h"

#include <QColor>
#include <QtTest>

using namespace DmxRules;

using Numbers = QList<qint64>;

class DmxRulesTest : public QObject
{
    Q_OBJECT

private slots:
    // universe, own universe, W (channels per universe), Length, buffer size ->
    // start and count, or nothing below the own universe.
    void placesUniverses_data()
    {
        QTest::addColumn<Numbers>("in");
        QTest::addColumn<Numbers>("placed");

        QTest::newRow("below the own universe") << Numbers{4, 5, 512, 512, 4096} << Numbers{};
        QTest::newRow("the own universe is block 0")
            << Numbers{5, 5, 512, 512, 4096} << Numbers{0, 512};
        QTest::newRow("W 512: universe 1 at 512")
            << Numbers{1, 0, 512, 512, 1024} << Numbers{512, 512};
        QTest::newRow("W 512: universe 2 past a 1024-byte buffer")
            << Numbers{2, 0, 512, 512, 1024} << Numbers{1024, 0};
        // The stride changes between W 511 and W 512: 511 bytes apart, then 512.
        QTest::newRow("W 511: blocks 511 bytes apart, 511 bytes each")
            << Numbers{2, 0, 511, 512, 2048} << Numbers{1022, 511};
        QTest::newRow("W 510: 510 bytes, the packet's last two unused")
            << Numbers{2, 0, 510, 512, 1530} << Numbers{1020, 510};
        QTest::newRow("W 600: blocks 512 apart, cut at the buffer's end")
            << Numbers{2, 0, 600, 512, 1200} << Numbers{1024, 176};
        QTest::newRow("W 2: two bytes, the last block cut to one")
            << Numbers{2, 0, 2, 512, 5} << Numbers{4, 1};
        QTest::newRow("Length 3 copies three") << Numbers{0, 0, 512, 3, 1024} << Numbers{0, 3};
        QTest::newRow("Length 0 copies nothing") << Numbers{0, 0, 512, 0, 1024} << Numbers{0, 0};
    }

    void placesUniverses()
    {
        QFETCH(Numbers, in);
        QFETCH(Numbers, placed);
        const Placement p = placeUniverse(quint16(in[0]), quint16(in[1]), quint16(in[2]),
                                          quint16(in[3]), quint32(in[4]));
        QCOMPARE(p.addressed ? Numbers({qint64(p.start), qint64(p.count)}) : Numbers(), placed);
    }

    // universe (the own universe is 1), W, Length, pixels in the array -> first pixel and count.
    void placesPixels_data()
    {
        QTest::addColumn<Numbers>("in");
        QTest::addColumn<Numbers>("placed");

        QTest::newRow("below the own universe: none") << Numbers{0, 512, 512, 1000} << Numbers{};
        QTest::newRow("W 512: 170 pixels a universe")
            << Numbers{2, 512, 512, 1000} << Numbers{170, 170};
        QTest::newRow("W 511 alike") << Numbers{2, 511, 512, 1000} << Numbers{170, 170};
        QTest::newRow("W 2: no pixel") << Numbers{1, 2, 512, 1000} << Numbers{};
        QTest::newRow("W 2000: at most 512 a universe, 171 in a packet")
            << Numbers{2, 2000, 512, 1000} << Numbers{512, 171};
        QTest::newRow("Length 7: three pixels, the last in part")
            << Numbers{1, 512, 7, 10} << Numbers{0, 3};
        QTest::newRow("Length 6: two") << Numbers{1, 512, 6, 10} << Numbers{0, 2};
        QTest::newRow("Length 0: none") << Numbers{1, 512, 0, 10} << Numbers{};
        QTest::newRow("cut at the array's end") << Numbers{2, 512, 512, 200} << Numbers{170, 30};
        QTest::newRow("past the array's end: none") << Numbers{3, 512, 512, 340} << Numbers{};
    }

    void placesPixels()
    {
        QFETCH(Numbers, in);
        QFETCH(Numbers, placed);
        const PixelSpan span =
            placePixels(quint16(in[0]), 1, quint16(in[1]), quint16(in[2]), quint32(in[3]));
        QCOMPARE(span.count ? Numbers({qint64(span.first), span.count}) : Numbers(), placed);
    }

    // Red first; an incomplete last triple sets red, or red and green.
    void writesPixels()
    {
        const quint8 data[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        for (const auto& [length, last] :
             {std::pair{7, QColor(7, 0xBB, 0xCC)}, std::pair{8, QColor(7, 8, 0xCC)},
              std::pair{9, QColor(7, 8, 9)}}) {
            QList<QColor> pixels(4, QColor(0xAA, 0xBB, 0xCC));
            writePixels(pixels.data(), 3, data, quint16(length));
            QCOMPARE(pixels, (QList<QColor>{QColor(1, 2, 3), QColor(4, 5, 6), last,
                                            QColor(0xAA, 0xBB, 0xCC)}));
        }
    }

    void readsValuesAndNumbers()
    {
        // universe index, channel, W, buffer size -> position, -1 for none
        const auto position = [](quint16 universe, quint16 channel, quint16 w, quint32 size) {
            const std::optional<quint64> at = valuePosition(universe, channel, w, size);
            return at ? int(*at) : -1;
        };
        QCOMPARE(position(0, 511, 512, 512), 511);   // the last channel of W 512
        QCOMPARE(position(0, 512, 512, 1024), -1);   // no channel 512
        QCOMPARE(position(1, 509, 510, 1020), 1019); // universe 1 at W 510
        QCOMPARE(position(2, 0, 512, 1024), -1);     // past the buffer
        // Past 511 channels a universe's block is 512 bytes apart, where placeUniverse puts it.
        QCOMPARE(position(1, 38, 600, 1200), 550);  // universe 1, channel 38 of W 600
        QCOMPARE(position(0, 511, 600, 1200), 511); // the last of its 512 channels
        QCOMPARE(position(0, 550, 600, 1200), -1);  // no channel 550

        QCOMPARE((QList<bool>{holdExpired(2999), holdExpired(3000), holdExpired(3001)}),
                 (QList<bool>{false, false, true}));
        QVERIFY(!portAddressOf(0));
        QCOMPARE((QList<quint16>{*portAddressOf(1), *portAddressOf(257), *portAddressOf(65535)}),
                 (QList<quint16>{0, 256, 65534}));
    }
};

QTEST_GUILESS_MAIN(DmxRulesTest)
#include "tst_dmxrules.moc"
