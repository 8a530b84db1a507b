// The receive path over real UDP on loopback: header checks, the timecode store, the sync hold
// and the lines the node writes for what it receives.
#include "artnet.h"
#include "capture.h"
#include "probes.h"
#include "sandbox.h"
#include "traffic.h"

#include <QRegularExpression>
#include <QtTest>

#include <memory>
#include <vector>

using namespace TestSupport;

namespace {

const QHostAddress kA(QStringLiteral("127.0.0.2"));
const QHostAddress kB(QStringLiteral("127.0.0.3"));
const QByteArray kMadrix("MadrixN\0", 8);

} // namespace

class ReceiveTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    // Each row sends its datagrams in turn, then reads the timecode store as the window walks it,
    // the standard output lines (first-reception notices left out), the debug lines and the hold.
    void datagramsReachTheirHandlers_data()
    {
        QTest::addColumn<QByteArrayList>("datagrams");
        // "sender: frames seconds minutes hours type", the sender "address/stream" past stream 0
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("debug");
        QTest::addColumn<int>("hold");
        QTest::addColumn<QList<int>>("senders"); // per datagram: 0 kA, 1 kB, 2 another port on kA
        const auto row = [](const char* name, const QByteArrayList& datagrams,
                            const QStringList& stored, const QStringList& lines = {},
                            const QStringList& debug = {}, int hold = 0,
                            const QList<int>& senders = {}) {
            QTest::newRow(name) << datagrams << stored << lines << debug << hold << senders;
        };

        row("senders keep the order first heard in; values are kept unchecked",
            {artTimeCode(4, 3, 2, 1, 1), artTimeCode(29, 59, 0, 10, 2),
             artTimeCode(200, 255, 99, 123, 9)},
            {"127.0.0.2: 200 255 99 123 9", "127.0.0.3: 29 59 0 10 2"}, {}, {}, 0, {0, 1, 0});
        row("two programs on one host share an entry",
            {artTimeCode(1, 1, 1, 1, 0), artTimeCode(2, 2, 2, 2, 3)}, {"127.0.0.2: 2 2 2 2 3"}, {},
            {}, 0, {0, 2});
        const auto stream = [](const QByteArray& datagram, char id) {
            return patched(datagram, 13, QByteArray(1, id));
        };
        row("a sender is an address and a stream: each stream its own entry, updated alone",
            {stream(artTimeCode(1, 1, 1, 1, 1), 0), stream(artTimeCode(2, 2, 2, 2, 3), 1),
             stream(artTimeCode(3, 3, 3, 3, 0), char(255)), stream(artTimeCode(4, 4, 4, 4, 1), 0),
             stream(artTimeCode(5, 5, 5, 5, 2), 1), stream(artTimeCode(6, 6, 6, 6, 2), 1)},
            {"127.0.0.2: 4 4 4 4 1", "127.0.0.2/1: 5 5 5 5 2", "127.0.0.2/255: 3 3 3 3 0",
             "127.0.0.3/1: 6 6 6 6 2"},
            {}, {}, 0, {0, 0, 0, 2, 0, 1});
        const QByteArray tc = artTimeCode(5, 6, 7, 8, 1);
        // Type is the last field, in byte 18: anything shorter is a fragment.
        row("a timecode without its Type byte makes no entry and changes none",
            {tc, artTimeCode(9, 9, 9, 9, 2).left(18), tc.left(12), tc.left(13), tc.left(18)},
            {"127.0.0.2: 5 6 7 8 1"}, {}, {}, 0, {0, 0, 1, 1, 1});
        row("19 bytes are a whole timecode, a 20th byte is not read",
            {tc.left(19), patched(artTimeCode(9, 8, 7, 6, 3), 19, "\xEE")},
            {"127.0.0.3: 5 6 7 8 1", "127.0.0.2: 9 8 7 6 3"}, {}, {}, 0, {1, 0});
        // No NUL after the id, lower case id, an upper case letter, the last letter, no id.
        row("an id wrong in any byte is dropped without a trace",
            {patched(tc, 7, " "), patched(tc, 0, "a"), patched(tc, 1, "R"), patched(tc, 6, "x"),
             patched(tc, 0, QByteArray(8, '\0'))},
            {});
        const QByteArray artSyncOp = header(0x5200) + QByteArray(2, '\0');
        row("OpCodes without handling are named every time, in hex without leading zeros",
            {artSyncOp, artSyncOp, header(0x00AB) + QByteArray(2, '\0')}, {},
            {"receive not implemented OpCode at time 0x5200",
             "receive not implemented OpCode at time 0x5200",
             "receive not implemented OpCode at time 0xAB"});
        // Received replies are not parsed beyond the OpCode, so a stub of one will do.
        row("every PollReply is noted",
            {header(0x2100) + QByteArray(4, '\0'), header(0x2100) + QByteArray(228, '\0')}, {},
            {"Art-Net PollReply", "Art-Net PollReply"});
        row("pre: 0xFF is -1, bytes after the hold are not read",
            {artSync(0x5101, 0xFF) + QByteArray(100, char(0xEE))}, {}, {}, {"MadrixN SYNC PRE "},
            -1);
        row("post: 1", {artSync(0x5202, 0x01)}, {}, {}, {"MadrixN SYNC PRO "}, 1);
        row("MadrixN pre: 0x80 is -128", {artSync(0x5101, 0x80, kMadrix)}, {}, {},
            {"MadrixN SYNC PRE "}, -128);
        row("MadrixN post: 0x7F", {artSync(0x5202, 0x7F, kMadrix)}, {}, {}, {"MadrixN SYNC POST "},
            127);
        row("the MadrixN id carries sync packets only",
            {artSync(0x5101, 0x03), artSync(0x5200, 0x00, kMadrix),
             header(0x2000, kMadrix) + QByteArray(2, '\0'), artSync(0x9700, 0x00, kMadrix)},
            {}, {}, {"MadrixN SYNC PRE "}, 3);
    }

    void datagramsReachTheirHandlers()
    {
        QFETCH(QByteArrayList, datagrams);
        QFETCH(QStringList, stored);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, debug);
        QFETCH(int, hold);
        QFETCH(QList<int>, senders);

        artnet node;
        TimecodeRecord record;
        QHostAddress sender;
        // Reading the table opens no socket: a null record is refused, and with nothing stored
        // yet getTimecode answers false.
        QVERIFY(!node.getTimecode(nullptr, &sender, 0));
        QVERIFY(!node.getTimecode(&record, &sender, 0));
        QVERIFY(!ArtnetProbe::socket(node));
        QVERIFY(node.openSocket());

        Controller a(kA), b(kB), a2(kA);
        Controller* from[] = {&a, &b, &a2};
        OutputCapture capture;
        for (int i = 0; i < datagrams.size(); ++i)
            QCOMPARE(from[senders.value(i)]->send(datagrams[i]), qint64(datagrams[i].size()));
        QVERIFY(settle(node));
        QCOMPARE(capture.lines().filter(QRegularExpression("^(?!receiving )")), lines);
        QCOMPARE(capture.debugMessages(), debug);
        QCOMPARE(int(ArtnetProbe::dmxHold(node)), hold);

        QStringList seen;
        quint8 stream = 0;
        for (int i = 0; node.getTimecode(&record, &sender, i, &stream); ++i) {
            record = TimecodeRecord();
            QVERIFY(node.getTimecode(&record, nullptr, i)); // the sender is optional
            const QString who =
                sender.toString() + (stream ? QStringLiteral("/%1").arg(stream) : QString());
            seen << QString::asprintf("%s: %d %d %d %d %d", qPrintable(who), record.frames,
                                      record.seconds, record.minutes, record.hours, record.type);
        }
        QCOMPARE(seen, stored);
        QVERIFY(!node.getTimecode(&record, &sender, -1));
    }

    // A flood of new addresses cannot take the node over: it keeps 256 senders in the order
    // first heard, drops a timecode from any new address after them while the known ones go on
    // updating, and says so once per run, however many nodes reach the limit.
    void sendersStopAt256()
    {
        constexpr quint32 kFirst = 0x7F000100; // 127.0.1.0, then 257 more addresses
        constexpr int kAddresses = 258;
        std::vector<std::unique_ptr<Controller>> senders;
        for (int i = 0; i < kAddresses; ++i) {
            senders.push_back(std::make_unique<Controller>(QHostAddress(kFirst + quint32(i))));
            QVERIFY(senders.back()->isBound());
        }
        // What each sender sent last: frames and seconds carry its number.
        const auto timecode = [](int i, quint8 minutes) {
            return artTimeCode(quint8(i), quint8(i >> 8), minutes, 0, 1);
        };
        QStringList kept;
        for (int i = 0; i < 256; ++i) {
            kept << QString::asprintf("127.0.1.%d: %d %d %d 0 1", i, i % 256, i / 256,
                                      i == 0 || i == 255 ? 7 : 0);
        }

        // Two nodes in turn; the limit line is written once per run of the program.
        QList<QStringList> seen(2);
        qint64 sent = 0;
        OutputCapture capture;
        for (QStringList& entries : seen) {
            artnet node;
            node.openSocket();
            // In parts, so the node's receive buffer never overflows.
            for (int i = 0; i < kAddresses; ++i) {
                sent += senders[size_t(i)]->send(timecode(i, 0));
                if (i % 64 == 63)
                    QVERIFY(settle(node));
            }
            for (int i : {0, 255, 256})
                sent += senders[size_t(i)]->send(timecode(i, 7));
            QVERIFY(settle(node));

            TimecodeRecord record;
            QHostAddress sender;
            for (int i = 0; node.getTimecode(&record, &sender, i); ++i) {
                entries << QString::asprintf("%s: %d %d %d %d %d", qPrintable(sender.toString()),
                                             record.frames, record.seconds, record.minutes,
                                             record.hours, record.type);
            }
        }
        const QStringList lines = capture.lines();
        QCOMPARE(sent, qint64(2 * 20 * (kAddresses + 3)));
        QCOMPARE(seen[0], kept);
        QCOMPARE(seen[1], kept);
        QCOMPARE(lines.filter(QStringLiteral("limit")),
                 QStringList{"timecode sender limit of 256 reached, new senders ignored"});
    }

    // The limit counts entries, not addresses: one address's streams fill it as well.
    void limitCountsEntries_data()
    {
        QTest::addColumn<int>("streams"); // entries from 127.0.0.2, streams 0 up
        QTest::addColumn<bool>("kept");   // whether 127.0.0.3 gets an entry after them
        QTest::newRow("255 streams: room for one more") << 255 << true;
        QTest::newRow("256 streams: full") << 256 << false;
    }

    void limitCountsEntries()
    {
        QFETCH(int, streams);
        QFETCH(bool, kept);
        artnet node;
        for (int i = 0; i < streams; ++i) {
            const QByteArray datagram =
                patched(artTimeCode(1, 2, 3, 4, 1), 13, QByteArray(1, char(i)));
            node.takeDatagram(datagram.constData(), int(datagram.size()), kA, 0);
        }
        const QByteArray other = artTimeCode(9, 9, 9, 9, 2);
        node.takeDatagram(other.constData(), int(other.size()), kB, 0);

        const SenderTable& entries = node.senders();
        QCOMPARE(entries.size(), kept ? streams + 1 : streams);
        QCOMPARE(entries.all().last().address == kB, kept);
        QCOMPARE(int(entries.at(streams - 1).stream), streams - 1);
    }

    // A poll is kept, zero-filled to its full size, only while the node answers polls.
    void pollIsKeptOnlyWhileAnswering()
    {
        artnet node;
        QVERIFY(node.openSocket());
        Controller a(kA);
        const QByteArray poll = patched(artPoll(), 12, "\x02\x10"); // TalkToMe, Priority

        OutputCapture capture;
        a.send(poll);
        QVERIFY(settle(node));
        QCOMPARE(capture.lines(), QStringList());
        QVERIFY(!ArtnetProbe::lastPoll(node));

        node.setPollReplyEnabled(true);
        for (const QByteArray& received : {poll, poll.left(13)}) {
            a.send(received);
            QVERIFY(settle(node));
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(ArtnetProbe::lastPoll(node)), 14),
                     received.leftJustified(14, '\0'));
        }
    }
};

QTEST_GUILESS_MAIN(ReceiveTest)
#include "tst_receive.moc"
