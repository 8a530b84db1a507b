// The node's one table of senders as plain rows: first-heard order and the limit, silence, two
// sources behind one entry, and which name each ArtPollReply gives which stream.
#include "packets.h"
#include "senders.h"
#include "timecode.h"

#include <QtTest>

namespace {

const QHostAddress kSender(QStringLiteral("10.0.0.5"));
constexpr qint64 kPeriod = 40'000'000; // 25 fps
constexpr qint64 kSecond = 1'000'000'000;

TimecodeRecord frame(qint64 n)
{
    return Timecode::fromFrameNumber(n, Timecode::kEbu);
}

// An ArtPollReply written byte by byte: the IP field, the names and the OEM code, the rest zero.
QByteArray reply(quint32 ip, const QByteArray& shortName, const QByteArray& longName = "desk",
                 quint8 oemLo = 0xFF, int size = 240)
{
    QByteArray bytes(size, '\0');
    bytes.replace(0, 10, QByteArray("Art-Net\0\x00\x21", 10));
    for (int i = 0; i < 4; ++i)
        bytes[10 + i] = char(ip >> (24 - 8 * i));
    bytes[21] = char(oemLo);
    bytes.replace(26, qMin(shortName.size(), qsizetype(size - 26)), shortName);
    if (size > 44)
        bytes.replace(44, qMin(longName.size(), qsizetype(size - 44)), longName);
    return bytes.left(size);
}

SenderNaming::OwnReply own()
{
    SenderNaming::OwnReply mine;
    mine.longName = QStringLiteral("own");
    mine.oemLo = 0x12;
    return mine;
}

// Frames of two programs under one address and stream: one from frame 0 on, the other from
// `offset` on, interleaved `count` times each, 40 ms apart.
int twoNumberings(Timecode::Numbering& numbering, qint64 offset, int count, qint64* at)
{
    int seconds = 0;
    for (int i = 0; i < count; ++i) {
        numbering.take(frame(i), *at);
        *at += kPeriod / 2;
        seconds += numbering.take(frame(offset + i), *at).kind == Timecode::HeardKind::Second;
        *at += kPeriod / 2;
    }
    return seconds;
}

} // namespace

class SendersTest : public QObject
{
    Q_OBJECT

private slots:
    // First-heard order, a sender by address and stream, the 256th kept and the 257th not.
    void orderAndLimit_data()
    {
        QTest::addColumn<int>("senders");
        QTest::addColumn<int>("kept");
        QTest::newRow("255: all kept") << 255 << 255;
        QTest::newRow("256: the limit, all kept") << 256 << 256;
        QTest::newRow("257: one past it, ignored") << 257 << 256;
    }
    void orderAndLimit()
    {
        QFETCH(int, senders);
        QFETCH(int, kept);
        SenderTable table;
        QList<SenderTable::Taken> taken;
        for (int i = 0; i < senders; ++i) {
            // Streams of one address count as senders each: 10.0.0.0 stream 0..., 10.0.1.0 ...
            const QHostAddress address(quint32(0x0A000000 + (i / 200) * 256));
            taken.append(table.take(frame(i), address, quint8(i % 200), i, nullptr));
        }
        QCOMPARE(table.size(), kept);
        QCOMPARE(taken.count(SenderTable::Taken::Added), kept);
        QCOMPARE(taken.count(SenderTable::Taken::Full), senders - kept);
        QCOMPARE(table.at(kept - 1).order, kept - 1);
        QCOMPARE(int(table.at(kept - 1).stream), (kept - 1) % 200);
        // A known sender is updated in its place even when the table is full.
        int order = -1;
        QCOMPARE(
            table.take(frame(7), QHostAddress(QStringLiteral("::ffff:10.0.0.0")), 3, 999, &order),
            SenderTable::Taken::Updated);
        QCOMPARE(order, 3);
        QCOMPARE(table.at(3).arrivalNs, qint64(999));
        QCOMPARE(table.find(0x0A000000, 3), 3);
        QCOMPARE(table.find(0x0A000000, 201), -1);
        QCOMPARE(table.take(frame(0), QHostAddress(QStringLiteral("::1")), 0, 0),
                 SenderTable::Taken::NotIpv4);
    }

    // Silent once nothing came for more than a second; a repeated frame still counts as sending.
    void silence_data()
    {
        QTest::addColumn<qint64>("since");
        QTest::addColumn<bool>("silent");
        QTest::newRow("just arrived") << qint64(0) << false;
        QTest::newRow("exactly a second: still sending") << kSecond << false;
        QTest::newRow("a nanosecond more: silent") << kSecond + 1 << true;
    }
    void silence()
    {
        QFETCH(qint64, since);
        QFETCH(bool, silent);
        SenderTable table;
        table.take(frame(5), kSender, 0, 100);
        table.take(frame(5), kSender, 0, 200); // the same frame again: a paused playback
        QCOMPARE(table.at(0).silentAt(200 + since), silent);
    }

    // What a datagram was in its sender's numbering: the first, a copy, the next frame, or the
    // first after a silence, which asks the sender for its name again.
    void heard_data()
    {
        QTest::addColumn<qint64>("gap");
        QTest::addColumn<qint64>("next");
        QTest::addColumn<int>("kind");
        using K = Timecode::HeardKind;
        QTest::newRow("the next frame") << kPeriod << qint64(1) << int(K::Next);
        QTest::newRow("the same frame half a period on: a copy")
            << kPeriod / 2 << qint64(0) << int(K::Duplicate);
        QTest::newRow("the same frame just past half a period: held")
            << kPeriod / 2 + 1 << qint64(0) << int(K::Repeat);
        QTest::newRow("back exactly at the silence limit: still sending")
            << kSecond << qint64(1) << int(K::Next);
        QTest::newRow("a nanosecond past it: resumed")
            << kSecond + 1 << qint64(1) << int(K::Resumed);
    }
    void heard()
    {
        QFETCH(qint64, gap);
        QFETCH(qint64, next);
        QFETCH(int, kind);
        Timecode::Numbering numbering;
        QCOMPARE(numbering.take(frame(100), 0).kind, Timecode::HeardKind::First);
        QCOMPARE(int(numbering.take(frame(100 + next), gap).kind), kind);
    }

    // Two programs under one address and stream: found once the second numbering stepped
    // forward twice beside the first, and shown only while both still send.
    void twoSources_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<qint64>("later");
        QTest::addColumn<bool>("seen");
        QTest::addColumn<bool>("now");
        // The first interleaved frame of the second starts its numbering; each one after steps it.
        QTest::newRow("one step beside: not yet") << 2 << qint64(0) << false << false;
        QTest::newRow("two steps: two sources") << 3 << qint64(0) << true << true;
        // The second's last frame came a period before the end, the first's half a period.
        QTest::newRow("the second silent for exactly a second: still two")
            << 3 << kSecond - kPeriod << true << true;
        QTest::newRow("a nanosecond more: cleared, but seen")
            << 3 << kSecond - kPeriod + 1 << true << false;
    }
    void twoSources()
    {
        QFETCH(int, count);
        QFETCH(qint64, later);
        QFETCH(bool, seen);
        QFETCH(bool, now);
        Timecode::Numbering numbering;
        qint64 at = 0;
        twoNumberings(numbering, 500, count, &at);
        QCOMPARE(numbering.twoSourcesSeen(), seen);
        QCOMPARE(numbering.twoSourcesAt(at + later), now);
    }

    // One of the two stops: the flag clears a second after its last frame while the other goes
    // on; a second numbering that appears once, a locate, is no second source.
    void twoSourcesClear()
    {
        Timecode::Numbering numbering;
        qint64 at = 0;
        twoNumberings(numbering, 500, 5, &at);
        QVERIFY(numbering.twoSourcesAt(at));
        // The jump to the second numbering made it the one followed; the first goes quiet.
        const qint64 stopped = at - kPeriod;
        for (int i = 505; at <= stopped + kSecond + kPeriod; ++i, at += kPeriod)
            QCOMPARE(numbering.take(frame(i), at).kind, Timecode::HeardKind::Next);
        QVERIFY(numbering.twoSourcesSeen());
        QVERIFY(!numbering.twoSourcesAt(at));

        Timecode::Numbering located;
        at = 0;
        for (int i = 0; i < 10; ++i, at += kPeriod)
            located.take(frame(i), at);
        QCOMPARE(located.take(frame(1000), at).kind, Timecode::HeardKind::Jump);
        for (int i = 1001; i < 1010; ++i)
            located.take(frame(i), at += kPeriod);
        QVERIFY(!located.twoSourcesSeen());
    }

    // Which ArtPollReply names a sender at all.
    void replier_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("name"); // null: names no sender
        QTest::addColumn<int>("stream");
        const quint32 ip = kSender.toIPv4Address();
        const auto row = [](const char* what, const QByteArray& datagram, const char* source,
                            const QString& name, int stream = -1) {
            QTest::newRow(what) << datagram << QString::fromLatin1(source) << name << stream;
        };
        row("the short name of a reply from its own address", reply(ip, "FOH desk"), "10.0.0.5",
            "FOH desk");
        row("from an IPv4-mapped source", reply(ip, "FOH desk"), "::ffff:10.0.0.5", "FOH desk");
        row("an empty short name is a name of none", reply(ip, ""), "10.0.0.5", "");
        row("IP Address field one below the source", reply(ip - 1, "FOH desk"), "10.0.0.5",
            QString());
        row("IP Address field one above the source", reply(ip + 1, "FOH desk"), "10.0.0.5",
            QString());
        row("18 bytes without a NUL: the first 17 are shown", reply(ip, QByteArray(18, 'N')),
            "10.0.0.5", QString(17, 'N'));
        row("control characters as the node list shows them",
            reply(ip, "A\x01\x7f"
                      "B"),
            "10.0.0.5", "A\\x01\\x7fB");
        row("the node's own reply", reply(ip, "Tempolis", "own", 0x12), "10.0.0.5", QString());
        row("own long name, another OEM: a sender", reply(ip, "X", "own", 0x13), "10.0.0.5", "X");
        row("own OEM, another long name: a sender", reply(ip, "Y", "owns", 0x12), "10.0.0.5", "Y");
        row("one byte short of a reply",
            reply(ip, "FOH desk", "desk", 0xFF, ArtNetPacket::kPollReplyMinimumSize - 1),
            "10.0.0.5", QString());
        row("a reply just long enough",
            reply(ip, "FOH desk", "desk", 0xFF, ArtNetPacket::kPollReplyMinimumSize), "10.0.0.5",
            "FOH desk");
        row("not a reply", QByteArray(240, 'x'), "10.0.0.5", QString());
        row("a long name that says its stream",
            reply(ip, "Chronolume LTC", "ArtTimeCode stream 6 from LTC"), "10.0.0.5",
            "Chronolume LTC", 6);
    }
    void replier()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, source);
        QFETCH(QString, name);
        QFETCH(int, stream);
        const std::optional<SenderNaming::Replier> found =
            SenderNaming::replier(datagram, QHostAddress(source), own());
        QCOMPARE(found.has_value(), !name.isNull());
        if (!found)
            return;
        QCOMPARE(found->name, name);
        QCOMPARE(found->stream, stream);
    }

    void streamInLongName_data()
    {
        QTest::addColumn<QString>("longName");
        QTest::addColumn<int>("stream");
        QTest::newRow("none") << "ArtTimeCode at 25 fps to 10.0.0.255" << -1;
        QTest::newRow("stream 0") << "ArtTimeCode stream 0 at 25 fps" << 0;
        QTest::newRow("stream 255, the largest") << "stream 255" << 255;
        QTest::newRow("stream 256: none") << "stream 256" << -1;
        QTest::newRow("followed by a comma") << "LTC bridge, stream 7, to 10.0.0.255" << 7;
        QTest::newRow("part of a word: none") << "upstream 3" << -1;
        QTest::newRow("digits running on: none") << "stream 12ab" << -1;
    }
    void streamInLongName()
    {
        QFETCH(QString, longName);
        QFETCH(int, stream);
        QCOMPARE(SenderNaming::streamInLongName(longName), stream);
    }

    // Several programs answering from one address: a name is shown on a stream only where the
    // replies tell whose stream it is.
    void severalRepliesPerAddress_data()
    {
        QTest::addColumn<QList<int>>("streams");
        QTest::addColumn<QByteArrayList>("replies"); // short name '|' long name
        QTest::addColumn<QStringList>("names");      // one per stream
        const QByteArray send = "Chronolume send|ArtTimeCode stream 0 at 25 fps";
        const QByteArray ltc = "Chronolume LTC|ArtTimeCode stream 6 from LTC";
        QTest::newRow("one program, one stream: named")
            << QList<int>{0} << QByteArrayList{"Desk|desk"} << QStringList{"Desk"};
        QTest::newRow("one program answering twice: still one")
            << QList<int>{0} << QByteArrayList{"Desk|desk", "Desk|desk"} << QStringList{"Desk"};
        QTest::newRow("one program saying no stream, two streams: neither named")
            << QList<int>{0, 1} << QByteArrayList{"Desk|desk"} << QStringList{"", ""};
        QTest::newRow("two programs saying no stream: nobody named")
            << QList<int>{0} << QByteArrayList{"Desk|desk", "Server|media"} << QStringList{""};
        QTest::newRow("each says its stream: each names its own, the third none")
            << QList<int>{0, 6, 9} << QByteArrayList{send, ltc}
            << QStringList{"Chronolume send", "Chronolume LTC", ""};
        QTest::newRow("one says stream 6, the other none: the one stream left is the other's")
            << QList<int>{0, 6} << QByteArrayList{"Desk|desk", ltc}
            << QStringList{"Desk", "Chronolume LTC"};
        QTest::newRow("... and with two streams left, neither is")
            << QList<int>{0, 6, 9} << QByteArrayList{"Desk|desk", ltc}
            << QStringList{"", "Chronolume LTC", ""};
        QTest::newRow("before the generator answers, the desk names neither")
            << QList<int>{0, 6} << QByteArrayList{"Desk|desk"} << QStringList{"", ""};
        QTest::newRow("a Chronolume window on the generator's machine names nothing")
            << QList<int>{0} << QByteArrayList{"Tempolis|Chronolume 1.0.2 by example|window"}
            << QStringList{""};
    }
    void severalRepliesPerAddress()
    {
        QFETCH(QList<int>, streams);
        QFETCH(QByteArrayList, replies);
        QFETCH(QStringList, names);
        SenderTable table;
        for (const int stream : streams)
            table.take(frame(0), kSender, quint8(stream), 0);
        for (const QByteArray& text : replies) {
            const QByteArrayList parts = text.split('|');
            const quint8 oemLo = parts.size() > 2 ? 0x12 : 0xFF;
            QByteArray datagram = reply(kSender.toIPv4Address(), parts[0], parts[1], oemLo);
            if (parts.size() > 2)
                datagram[20] = char(SenderNaming::kWindowOemHi);
            table.takeReply(datagram, kSender, own());
        }
        QStringList shown;
        for (const SenderEntry& entry : table.all())
            shown << entry.name;
        QCOMPARE(shown, names);
    }

    // A stream that joins an address can take the name a reply that says no stream gave another.
    void aStreamJoining()
    {
        SenderTable table;
        table.take(frame(0), kSender, 0, 0);
        table.takeReply(reply(kSender.toIPv4Address(), "Desk"), kSender, own());
        QCOMPARE(table.at(0).name, QStringLiteral("Desk"));
        const quint64 before = table.nameChanges();
        table.take(frame(0), kSender, 6, 0);
        QCOMPARE(table.at(0).name, QString());
        QCOMPARE(table.nameChanges(), before + 1);
    }

    // A name that comes before the sender's first timecode waits for it; a change is counted
    // and said for the entries it changes.
    void namesBeforeAndAfter()
    {
        SenderTable table;
        const quint32 ip = kSender.toIPv4Address();
        QVERIFY(table.takeReply(reply(ip, "Desk"), kSender, own()).isEmpty());
        table.take(frame(0), kSender, 0, 0);
        QCOMPARE(table.at(0).name, QStringLiteral("Desk"));
        const quint64 before = table.nameChanges();
        QCOMPARE(table.takeReply(reply(ip, "Desk 2", "other"), kSender, own()), QList<int>{0});
        QCOMPARE(table.at(0).name, QString()); // two programs now
        QCOMPARE(table.nameChanges(), before + 1);
        QVERIFY(table.takeReply(reply(ip, "Desk 2", "other"), kSender, own()).isEmpty());
        QCOMPARE(table.nameChanges(), before + 1);
    }
};

QTEST_MAIN(SendersTest)
#include "tst_senders.moc"
