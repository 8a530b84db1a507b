// Where received DMX goes, as plain numbers: the block of the caller's buffer, the pixels, the
// byte getDmxValue reads, the hold's expiry and the universe numbers counted from 1. No network.
#include "dmxrules.h"

#include <QColor>
#include <QtTest>

using namespace DmxRules;

class DmxRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void placesUniverses_data()
    {
        QTest::addColumn<int>("universe");
        QTest::addColumn<int>("own");
        QTest::addColumn<int>("channels"); // W
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("addressed");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");

        QTest::newRow("below the own universe") << 4 << 5 << 512 << 512 << 4096 << false << 0 << 0;
        QTest::newRow("the own universe is block 0")
            << 5 << 5 << 512 << 512 << 4096 << true << 0 << 512;
        QTest::newRow("W 512: universe 1 at 512")
            << 1 << 0 << 512 << 512 << 1024 << true << 512 << 512;
        QTest::newRow("W 512: universe 2 past a 1024-byte buffer")
            << 2 << 0 << 512 << 512 << 1024 << true << 1024 << 0;
        // The stride changes between these two: 511 bytes apart, then 512.
        QTest::newRow("W 511: blocks 511 bytes apart, 511 bytes each")
            << 2 << 0 << 511 << 512 << 2048 << true << 1022 << 511;
        QTest::newRow("W 510: 510 bytes, the packet's last two unused")
            << 2 << 0 << 510 << 512 << 1530 << true << 1020 << 510;
        QTest::newRow("W 600: blocks 512 apart, cut at the buffer's end")
            << 2 << 0 << 600 << 512 << 1200 << true << 1024 << 176;
        QTest::newRow("W 2: two bytes, the last block cut to one")
            << 2 << 0 << 2 << 512 << 5 << true << 4 << 1;
        QTest::newRow("Length 3 copies three") << 0 << 0 << 512 << 3 << 1024 << true << 0 << 3;
        QTest::newRow("Length 0 copies nothing") << 0 << 0 << 512 << 0 << 1024 << true << 0 << 0;
    }

    void placesUniverses()
    {
        QFETCH(int, universe);
        QFETCH(int, own);
        QFETCH(int, channels);
        QFETCH(int, length);
        QFETCH(int, size);
        QFETCH(bool, addressed);
        QFETCH(int, start);
        QFETCH(int, count);
        const Placement placement = placeUniverse(
            quint16(universe), quint16(own), quint16(channels), quint16(length), quint32(size));
        QCOMPARE(placement.addressed, addressed);
        if (addressed)
            QCOMPARE((QList<quint64>{placement.start, placement.count}),
                     (QList<quint64>{quint64(start), quint64(count)}));
    }

    void placesPixels_data()
    {
        QTest::addColumn<int>("universe");
        QTest::addColumn<int>("channels"); // W; the own universe is 1
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("count");

        QTest::newRow("below the own universe: none") << 0 << 512 << 512 << 1000 << 0 << 0;
        QTest::newRow("W 512: 170 pixels a universe") << 2 << 512 << 512 << 1000 << 170 << 170;
        QTest::newRow("W 511 and W 510 alike") << 2 << 511 << 512 << 1000 << 170 << 170;
        QTest::newRow("W 2: no pixel") << 1 << 2 << 512 << 1000 << 0 << 0;
        QTest::newRow("W 2000: at most 512 a universe, 171 in a packet")
            << 2 << 2000 << 512 << 1000 << 512 << 171;
        QTest::newRow("Length 7: three pixels, the last in part") << 1 << 512 << 7 << 10 << 0 << 3;
        QTest::newRow("Length 6: two") << 1 << 512 << 6 << 10 << 0 << 2;
        QTest::newRow("Length 0: none") << 1 << 512 << 0 << 10 << 0 << 0;
        QTest::newRow("cut at the array's end") << 2 << 512 << 512 << 200 << 170 << 30;
        QTest::newRow("past the array's end: none") << 3 << 512 << 512 << 340 << 340 << 0;
    }

    void placesPixels()
    {
        QFETCH(int, universe);
        QFETCH(int, channels);
        QFETCH(int, length);
        QFETCH(int, pixels);
        QFETCH(int, first);
        QFETCH(int, count);
        const PixelSpan span =
            placePixels(quint16(universe), 1, quint16(channels), quint16(length), quint32(pixels));
        QCOMPARE(span.count, quint32(count));
        if (count)
            QCOMPARE(span.first, quint64(first));
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

    void readsValues_data()
    {
        QTest::addColumn<int>("universe");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("position"); // -1: none

        QTest::newRow("the last channel of W 512") << 0 << 511 << 512 << 512 << 511;
        QTest::newRow("channel 512 of W 512: none") << 0 << 512 << 512 << 1024 << -1;
        QTest::newRow("universe 1 at W 510") << 1 << 509 << 510 << 1020 << 1019;
        QTest::newRow("past the buffer: none") << 2 << 0 << 512 << 1024 << -1;
    }

    void readsValues()
    {
        QFETCH(int, universe);
        QFETCH(int, channel);
        QFETCH(int, channels);
        QFETCH(int, size);
        QFETCH(int, position);
        const std::optional<quint64> at =
            valuePosition(quint16(universe), quint16(channel), quint16(channels), quint32(size));
        QCOMPARE(at.has_value(), position >= 0);
        if (at)
            QCOMPARE(*at, quint64(position));
    }

    void holdAndUniverseNumbers()
    {
        QCOMPARE((QList<bool>{holdExpired(2999), holdExpired(3000), holdExpired(3001)}),
                 (QList<bool>{false, false, true}));
        QVERIFY(!portAddressOf(0));
        QCOMPARE((QList<quint16>{*portAddressOf(1), *portAddressOf(257), *portAddressOf(65535)}),
                 (QList<quint16>{0, 256, 65534}));
    }
};

QTEST_APPLESS_MAIN(DmxRulesTest)
#include "tst_dmxrules.moc"
