// The receive path over real UDP on loopback: header checks, the timecode store and the lines
// the node writes for what it receives.
#include "artnet.h"
#include "capture.h"
#include "probes.h"
#include "sandbox.h"
#include "traffic.h"

#include <QtTest>

using namespace TestSupport;

namespace {

const QHostAddress kA(QStringLiteral("127.0.0.2"));
const QHostAddress kB(QStringLiteral("127.0.0.3"));

struct Entry
{
    TimecodeRecord record;
    QHostAddress sender;
};

// Every entry getTimecode answers for, walked as the window walks it.
QList<Entry> entries(artnet& node)
{
    QList<Entry> result;
    Entry entry;
    while (node.getTimecode(&entry.record, &entry.sender, int(result.size())))
        result.append(entry);
    return result;
}

void compareRecord(const TimecodeRecord& record, quint8 frames, quint8 seconds, quint8 minutes,
                   quint8 hours, quint8 type)
{
    QCOMPARE(record.frames, frames);
    QCOMPARE(record.seconds, seconds);
    QCOMPARE(record.minutes, minutes);
    QCOMPARE(record.hours, hours);
    QCOMPARE(record.type, type);
}

} // namespace

class ReceiveTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    void sendersKeepTheOrderTheyWereFirstHeardIn()
    {
        artnet node;
        QVERIFY(node.openSocket());
        Controller a(kA), b(kB);
        QVERIFY(a.isBound() && b.isBound());

        a.send(artTimeCode(4, 3, 2, 1, 1));
        b.send(artTimeCode(29, 59, 0, 10, 2));
        settle(node);
        QList<Entry> seen = entries(node);
        QCOMPARE(seen.size(), 2);
        compareRecord(seen[0].record, 4, 3, 2, 1, 1);
        QCOMPARE(seen[0].sender, kA);
        compareRecord(seen[1].record, 29, 59, 0, 10, 2);
        QCOMPARE(seen[1].sender, kB);

        // A later packet of the first sender changes its own entry only; values are kept as
        // received, without range checks.
        a.send(artTimeCode(200, 255, 99, 123, 9));
        settle(node);
        seen = entries(node);
        QCOMPARE(seen.size(), 2);
        compareRecord(seen[0].record, 200, 255, 99, 123, 9);
        QCOMPARE(seen[0].sender, kA);
        compareRecord(seen[1].record, 29, 59, 0, 10, 2);
        QCOMPARE(seen[1].sender, kB);
    }

    void twoProgramsOnOneHostShareAnEntry()
    {
        artnet node;
        QVERIFY(node.openSocket());
        Controller first(kA), second(kA);
        QVERIFY(first.socket.localPort() != second.socket.localPort());

        first.send(artTimeCode(1, 1, 1, 1, 0));
        second.send(artTimeCode(2, 2, 2, 2, 3));
        settle(node);
        const QList<Entry> seen = entries(node);
        QCOMPARE(seen.size(), 1);
        compareRecord(seen[0].record, 2, 2, 2, 2, 3);
        QCOMPARE(seen[0].sender, kA);
    }

    void shortTimecodeKeepsItsMissingFieldsZero()
    {
        artnet node;
        QVERIFY(node.openSocket());
        Controller a(kA), b(kB);
        const QByteArray full = artTimeCode(5, 6, 7, 8, 1);

        a.send(full.left(12)); // too short to be examined at all
        settle(node);
        QCOMPARE(entries(node).size(), 0);

        b.send(full.left(13)); // header and one byte: an entry of zeros
        a.send(full.left(16)); // frames and seconds present, the rest zero
        settle(node);
        const QList<Entry> seen = entries(node);
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[0].sender, kB);
        compareRecord(seen[0].record, 0, 0, 0, 0, 0);
        QCOMPARE(seen[1].sender, kA);
        compareRecord(seen[1].record, 5, 6, 0, 0, 0);
    }

    void packetIdIsCheckedToTheByte_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("stored");

        const QByteArray good = artTimeCode(1, 2, 3, 4, 1);
        auto patched = [&good](int offset, char value) {
            QByteArray copy = good;
            copy[offset] = value;
            return copy;
        };
        QTest::newRow("Art-Net and NUL") << good << true;
        QTest::newRow("no NUL after the id") << patched(7, ' ') << false;
        QTest::newRow("lower case id") << patched(0, 'a') << false;
        QTest::newRow("upper case letter") << patched(1, 'R') << false;
        QTest::newRow("last letter differs") << patched(6, 'x') << false;
        QTest::newRow("empty id") << (QByteArray(8, '\0') + good.mid(8)) << false;
    }

    void packetIdIsCheckedToTheByte()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, stored);
        artnet node;
        QVERIFY(node.openSocket());
        Controller a(kA);

        OutputCapture capture;
        a.send(datagram);
        settle(node);
        const QStringList lines = capture.lines();

        QCOMPARE(entries(node).size(), stored ? 1 : 0);
        if (!stored)
            QCOMPARE(lines, QStringList()); // dropped without a trace
    }

    void opCodesWithoutHandlingAreNamedEveryTime_data()
    {
        QTest::addColumn<quint16>("opCode");
        QTest::addColumn<QString>("line");
        QTest::newRow("ArtSync") << quint16(0x5200)
                                 << QStringLiteral("receive not implemented OpCode at time 0x5200");
        QTest::newRow("small value, no leading zeros")
            << quint16(0x00AB) << QStringLiteral("receive not implemented OpCode at time 0xAB");
    }

    void opCodesWithoutHandlingAreNamedEveryTime()
    {
        QFETCH(quint16, opCode);
        QFETCH(QString, line);
        artnet node;
        QVERIFY(node.openSocket());
        Controller a(kA);

        OutputCapture capture;
        for (int i = 0; i < 3; ++i)
            a.send(header(opCode) + QByteArray(2, '\0'));
        settle(node);
        QCOMPARE(capture.lines(), QStringList({line, line, line}));
        QCOMPARE(entries(node).size(), 0);
    }

    void everyPollReplyIsNoted()
    {
        artnet node;
        QVERIFY(node.openSocket());
        Controller a(kA);
        OutputCapture capture;
        // Received replies are not parsed beyond the OpCode, so a stub of one will do.
        a.send(header(0x2100) + QByteArray(4, '\0'));
        a.send(header(0x2100) + QByteArray(228, '\0'));
        settle(node);
        QCOMPARE(capture.lines(), QStringList({QStringLiteral("Art-Net PollReply"),
                                               QStringLiteral("Art-Net PollReply")}));
    }

    void getTimecodeAnswersOnlyForStoredEntries()
    {
        artnet node;
        TimecodeRecord record;
        QHostAddress sender;

        // A null record is refused before the socket is touched.
        QVERIFY(!node.getTimecode(nullptr, &sender, 0));
        QVERIFY(!ArtnetProbe::socket(node));

        // Nothing received yet: false, though the socket is opened for reception now.
        QVERIFY(!node.getTimecode(&record, &sender, 0));
        QVERIFY(ArtnetProbe::socketReady(node));

        Controller a(kA);
        a.send(artTimeCode(9, 8, 7, 6, 3));
        settle(node);
        QVERIFY(!node.getTimecode(&record, &sender, -1));
        QVERIFY(!node.getTimecode(&record, &sender, 1)); // index equal to the count
        QVERIFY(node.getTimecode(&record, nullptr, 0));  // the sender is optional
        compareRecord(record, 9, 8, 7, 6, 3);
        QVERIFY(node.getTimecode(&record, &sender, 0));
        QCOMPARE(sender, kA);
    }

    void syncPacketsSetTheHold_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("hold");
        QTest::addColumn<QString>("debugText");

        const QByteArray madrix("MadrixN\0", 8);
        QTest::newRow("pre, 0xFF is -1")
            << artSync(0x5101, 0xFF) << -1 << QStringLiteral("MadrixN SYNC PRE ");
        QTest::newRow("post, 1") << artSync(0x5202, 0x01) << 1
                                 << QStringLiteral("MadrixN SYNC PRO ");
        QTest::newRow("MadrixN pre, 0x80 is -128")
            << artSync(0x5101, 0x80, madrix) << -128 << QStringLiteral("MadrixN SYNC PRE ");
        QTest::newRow("MadrixN post, 0x7F")
            << artSync(0x5202, 0x7F, madrix) << 127 << QStringLiteral("MadrixN SYNC POST ");
        QTest::newRow("bytes after the hold are not read")
            << (artSync(0x5101, 0x05) + QByteArray(100, char(0xEE))) << 5
            << QStringLiteral("MadrixN SYNC PRE ");
    }

    void syncPacketsSetTheHold()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(int, hold);
        QFETCH(QString, debugText);
        artnet node;
        QVERIFY(node.openSocket());
        Controller a(kA);

        OutputCapture capture;
        a.send(datagram);
        settle(node);
        capture.finish();
        QCOMPARE(int(ArtnetProbe::dmxHold(node)), hold);
        QCOMPARE(capture.debugMessages(), QStringList{debugText});
    }

    void madrixIdCarriesOnlySyncPackets()
    {
        artnet node;
        QVERIFY(node.openSocket());
        Controller a(kA);
        a.send(artSync(0x5101, 0x03));
        settle(node);
        QCOMPARE(int(ArtnetProbe::dmxHold(node)), 3);

        OutputCapture capture;
        const QByteArray madrix("MadrixN\0", 8);
        a.send(artSync(0x5200, 0x00, madrix));
        a.send(header(0x2000, madrix) + QByteArray(2, '\0'));
        a.send(artSync(0x9700, 0x00, madrix));
        settle(node);
        QCOMPARE(capture.lines(), QStringList());
        QCOMPARE(capture.debugMessages(), QStringList());
        QCOMPARE(int(ArtnetProbe::dmxHold(node)), 3);
    }

    void pollIsKeptOnlyWhileAnswering()
    {
        artnet node;
        QVERIFY(node.openSocket());
        Controller a(kA);

        OutputCapture capture;
        a.send(artPoll());
        settle(node);
        QCOMPARE(capture.lines(), QStringList());
        QVERIFY(!ArtnetProbe::lastPoll(node));

        node.setPollReplyEnabled(true);
        QByteArray poll = artPoll();
        poll[12] = char(0x02); // TalkToMe
        poll[13] = char(0x10); // Priority
        a.send(poll);
        settle(node);
        QVERIFY(ArtnetProbe::lastPoll(node));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(ArtnetProbe::lastPoll(node)), 14), poll);

        // A short poll is kept zero-filled.
        a.send(poll.left(13));
        settle(node);
        QByteArray expected = poll;
        expected[13] = '\0';
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(ArtnetProbe::lastPoll(node)), 14),
                 expected);
    }
};

QTEST_GUILESS_MAIN(ReceiveTest)
#include "tst_receive.moc"
