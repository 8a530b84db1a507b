// The sending side as a host on the veth networks receives it: datagrams to an address or to the
// local broadcast addresses, ArtDmx with its 500 ms repeat, ArtTimeCode, and what happens when
// the node has no socket.
#include "artnet.h"
#include "capture.h"
#include "peernet.h"
#include "probes.h"
#include "sandbox.h"

#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <memory>

using namespace TestSupport;

namespace {

// Two slots that show their place, then enough for the longest send tried (513).
const QByteArray kData = QByteArray::fromHex("0108") + QByteArray(511, '\x7f');
const quint8* const kSlots = reinterpret_cast<const quint8*>(kData.constData());

// A null address stands for "no destination".
const QHostAddress* destinationOf(const QHostAddress& address)
{
    return address.isNull() ? nullptr : &address;
}

QStringList sorted(QStringList list)
{
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace

class SendTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<PeerSocket> peer;
    std::unique_ptr<artnet> node;

private slots:
    void init()
    {
        REQUIRE_PRIVATE_NETWORK();
        const QString error = openPeerAndNode(peer, node);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void sendDatagramRefusesNoDataAndNoLength()
    {
        QVERIFY(node->openSocket());
        QCOMPARE(node->sendDatagram(nullptr, 5, &kVeth1.peer), qint64(-2));
        QCOMPARE(node->sendDatagram("\1\2\3\4\5", 0, &kVeth1.peer), qint64(-3));
        QCOMPARE(describe(peer->receive(0)), QStringList());
    }

    void sendDmx_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QByteArray>("packet");
        QTest::newRow("length 1: nothing") << 1 << QByteArray();
        QTest::newRow("length 513: nothing") << 513 << QByteArray();
        QTest::newRow("length 2: 20 bytes") << 2 << artDmx(0x1234, kData.left(2));
    }

    void sendDmx()
    {
        QFETCH(int, length);
        QFETCH(QByteArray, packet);
        QCOMPARE(node->sendDmx(kSlots, quint16(length), 0x34, 0x12, &kVeth0.peer),
                 packet.isEmpty() ? qint64(-1) : qint64(packet.size()));
        QCOMPARE(describe(peer->receive(packet.isEmpty() ? 0 : 1)),
                 packet.isEmpty() ? QStringList() : QStringList{fromNode(kVeth0.peer, packet)});
        QCOMPARE(ArtnetProbe::lastPacketValid(*node), !packet.isEmpty()); // and nothing to repeat
    }

    void sendDmxUniverse()
    {
        // Universes count from 1 here and from 0 on the wire: 257 is SubUni 0, Net 1.
        QCOMPARE(node->sendDmxUniverse(kSlots, 2, 0, &kVeth1.peer), qint64(0));
        QCOMPARE(node->sendDmxUniverse(kSlots, 2, 257, &kVeth1.peer), qint64(20));
        QCOMPARE(describe(peer->receive(1)),
                 QStringList{fromNode(kVeth1.peer, artDmx(256, kData.left(2)))});
    }

    void repeat_data()
    {
        QTest::addColumn<QHostAddress>("destination");
        QTest::addColumn<QStringList>("received"); // the send, then two repeats
        const QByteArray packet = artDmx(5, kData.left(2));
        const QString peer = fromNode(kVeth1.peer, packet);
        const QString first = fromNode(kVeth0.broadcast, packet);
        const QString second = fromNode(kVeth1.broadcast, packet);
        QTest::newRow("to the stored destination") << kVeth1.peer << QStringList{peer, peer, peer};
        QTest::newRow("without destination: sent to the first network, repeated to every one")
            << QHostAddress() << QStringList{first, first, second, first, second};
    }

    void repeat()
    {
        QFETCH(QHostAddress, destination);
        QFETCH(QStringList, received);
        QCOMPARE(node->sendDmx(kSlots, 2, 5, 0, destinationOf(destination)), qint64(20));
        QTimer* timer = ArtnetProbe::sendTimer(*node);
        QVERIFY(timer);
        QCOMPARE(timer->interval(), 500);
        timer->setInterval(20); // several repeats at once
        const QStringList got = describe(peer->receive(int(received.size()), 0));
        QCOMPARE(sorted(got.mid(0, received.size())), sorted(received));
        QCOMPARE(got.first(), received.first());
    }

    void sendTimecode_data()
    {
        QTest::addColumn<QHostAddress>("destination");
        QTest::addColumn<QStringList>("received");
        const QByteArray packet = artTimeCode(24, 59, 58, 23, 3);
        QTest::newRow("to an address: exactly one")
            << kVeth1.peer << QStringList{fromNode(kVeth1.peer, packet)};
        QTest::newRow("without destination: one per network")
            << QHostAddress()
            << QStringList{fromNode(kVeth0.broadcast, packet), fromNode(kVeth1.broadcast, packet)};
    }

    void sendTimecode()
    {
        QFETCH(QHostAddress, destination);
        QFETCH(QStringList, received);
        const TimecodeRecord record{24, 59, 58, 23, 3};
        QCOMPARE(node->sendTimecode(&record, destinationOf(destination)),
                 qint64(20 * received.size()));
        QCOMPARE(sorted(describe(peer->receive(int(received.size())))), sorted(received));
    }

    // ::ffff:a.b.c.d, the form dual-stack sockets give their callers, reaches the same host as
    // a.b.c.d; a real IPv6 address cannot be reached from the node's IPv4 socket and fails as a
    // socket error.
    void destinationForms_data()
    {
        QTest::addColumn<QHostAddress>("destination");
        QTest::addColumn<bool>("reached");
        QTest::newRow("IPv4") << kVeth1.peer << true;
        QTest::newRow("IPv4-mapped IPv6")
            << QHostAddress(QStringLiteral("::ffff:10.60.0.1")) << true;
        QTest::newRow("IPv6 loopback") << QHostAddress(QHostAddress::LocalHostIPv6) << false;
        QTest::newRow("IPv6") << QHostAddress(QStringLiteral("2001:db8::1")) << false;
    }

    void destinationForms()
    {
        QFETCH(QHostAddress, destination);
        QFETCH(bool, reached);
        const QByteArray timecode = artTimeCode(24, 59, 58, 23, 3);
        const TimecodeRecord record{24, 59, 58, 23, 3};
        const qint64 sent = reached ? 20 : -1;
        QVERIFY(node->openSocket());
        QCOMPARE(node->sendDatagram(timecode.constData(), 20, &destination), sent);
        QCOMPARE(node->sendDmx(kSlots, 2, 5, 0, &destination), sent);
        QCOMPARE(node->sendTimecode(&record, &destination), sent);
        const QStringList received{fromNode(kVeth1.peer, timecode),
                                   fromNode(kVeth1.peer, artDmx(5, kData.left(2))),
                                   fromNode(kVeth1.peer, timecode)};
        QCOMPARE(describe(peer->receive(reached ? 3 : 0)), reached ? received : QStringList());
    }

    void withoutSocketEverySendFails()
    {
        // Port 6454 is taken without sharing, so the node cannot open its socket.
        QUdpSocket blocker;
        QVERIFY(blocker.bind(QHostAddress::AnyIPv4, kArtNetPort));
        QVERIFY(!node->openSocket());
        const TimecodeRecord record;
        OutputCapture capture;
        const QList<qint64> results{node->sendPoll(),
                                    node->sendDatagram(kData.constData(), 14, &kVeth1.peer),
                                    node->sendDatagram(kData.constData(), 14, nullptr),
                                    node->sendDmx(kSlots, 14, 0, 0, &kVeth1.peer),
                                    node->sendDmxUniverse(kSlots, 14, 1, nullptr),
                                    node->sendTimecode(&record, nullptr)};
        const QByteArray written = capture.finish();
        QCOMPARE(results, QList<qint64>({0, -1, -1, -1, -1, -1}));
        QCOMPARE(written, QByteArray());
        QCOMPARE(describe(peer->receive(0)), QStringList());
        QVERIFY(!ArtnetProbe::socket(*node));
    }
};

QTEST_GUILESS_MAIN(SendTest)
#include "tst_send.moc"
