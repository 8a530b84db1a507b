// The sending side as a host on the veth networks receives it: datagrams to an address or to the
// local broadcast addresses, ArtDmx with its 500 ms repeat, ArtTimeCode, and what happens when
// the node has no socket.
#include "artnet.h"
#include "capture.h"
#include "peernet.h"
#include "probes.h"
#include "sandbox.h"
#include "traffic.h"

#include <QTimer>
#include <QtTest>

#include <algorithm>

using namespace TestSupport;

namespace {

const QHostAddress kNone; // "no destination": the operations get a null pointer for it

const QHostAddress* destinationOf(const QHostAddress& address)
{
    return address.isNull() ? nullptr : &address;
}

QString describe(const QNetworkDatagram& datagram)
{
    return QStringLiteral("%1:%2 -> %3 %4")
        .arg(datagram.senderAddress().toString())
        .arg(datagram.senderPort())
        .arg(datagram.destinationAddress().toString(),
             QString::fromLatin1(datagram.data().toHex()));
}

QStringList describe(const QList<QNetworkDatagram>& datagrams)
{
    QStringList result;
    for (const QNetworkDatagram& datagram : datagrams)
        result.append(describe(datagram));
    return result;
}

// A datagram from the node's address on the network of the destination, from port 6454.
QString expected(const QHostAddress& to, const QByteArray& data)
{
    const QHostAddress from = to.isInSubnet(kVeth0.local, 24) ? kVeth0.local : kVeth1.local;
    return QStringLiteral("%1:6454 -> %2 %3")
        .arg(from.toString(), to.toString(), QString::fromLatin1(data.toHex()));
}

QStringList sorted(QStringList list)
{
    std::sort(list.begin(), list.end());
    return list;
}

// DMX slots with a pattern that shows every byte in its place.
QByteArray dmxSlots(int count)
{
    QByteArray data;
    for (int i = 0; i < count; ++i)
        data.append(char((i * 7 + 1) & 0xFF));
    return data;
}

// ArtDmx: ID, OpCode 0x5000 low byte first, ProtVer 0 14, Sequence 0, Physical 0, then SubUni
// and Net, Length high byte first, and the slots.
QByteArray artDmxPacket(const char* subUniNetLengthHex, const QByteArray& data)
{
    return QByteArray("Art-Net\0", 8) + QByteArray::fromHex("0050000e0000") +
           QByteArray::fromHex(subUniNetLengthHex) + data;
}

const quint8* bytes(const QByteArray& data)
{
    return reinterpret_cast<const quint8*>(data.constData());
}

// The node's repeat timer, made fast so that a test sees several repeats at once. That it runs
// every 500 ms is checked apart.
void shortenRepeat(artnet& node)
{
    QTimer* timer = ArtnetProbe::sendTimer(node);
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 500);
    timer->setInterval(20);
}

qint64 invokeSendDataTimeout(artnet& node)
{
    qint64 result = 0;
    QMetaObject::invokeMethod(&node, "sendDataTimeout", Qt::DirectConnection,
                              Q_RETURN_ARG(qint64, result));
    return result;
}

enum class Operation {
    SendPoll,
    SendDatagramTo,
    SendDatagramToFirstNetwork,
    SendDmx,
    SendDmxUniverse,
    SendTimecode
};

} // namespace

Q_DECLARE_METATYPE(Operation)

class SendTest : public QObject
{
    Q_OBJECT

private:
    // Every node of these tests writes its discovery lines at construction; they are checked
    // elsewhere and kept out of the log here.
    static artnet* quietNode()
    {
        OutputCapture discovery;
        return new artnet;
    }

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    void sendDatagram_data()
    {
        QTest::addColumn<bool>("withData");
        QTest::addColumn<int>("length");
        QTest::addColumn<QHostAddress>("destination");
        QTest::addColumn<qint64>("result");
        QTest::addColumn<QStringList>("received");

        const QByteArray data = QByteArray::fromHex("0102030405");
        QTest::newRow("no data") << false << 5 << kVeth1.peer << qint64(-2) << QStringList{};
        QTest::newRow("length 0") << true << 0 << kVeth1.peer << qint64(-3) << QStringList{};
        QTest::newRow("to an address")
            << true << 5 << kVeth1.peer << qint64(5) << QStringList{expected(kVeth1.peer, data)};
        QTest::newRow("without destination: the first network's broadcast address only")
            << true << 5 << kNone << qint64(5) << QStringList{expected(kVeth0.broadcast, data)};
    }

    void sendDatagram()
    {
        QFETCH(bool, withData);
        QFETCH(int, length);
        QFETCH(QHostAddress, destination);
        QFETCH(qint64, result);
        QFETCH(QStringList, received);

        PeerSocket peer;
        QVERIFY2(peer.isOpen(), qPrintable(peer.error()));
        QScopedPointer<artnet> node(quietNode());
        QVERIFY(node->openSocket());

        const QByteArray data = QByteArray::fromHex("0102030405");
        QCOMPARE(node->sendDatagram(withData ? data.constData() : nullptr, quint16(length),
                                    destinationOf(destination)),
                 result);
        QCOMPARE(describe(peer.receiveFor(100)), received);
    }

    void sendDmx_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<qint64>("result");
        QTest::addColumn<QByteArray>("packet");

        QTest::newRow("length 0: nothing") << 0 << qint64(-1) << QByteArray();
        QTest::newRow("length 1: nothing") << 1 << qint64(-1) << QByteArray();
        QTest::newRow("length 513: nothing") << 513 << qint64(-1) << QByteArray();
        QTest::newRow("length 2: 20 bytes")
            << 2 << qint64(20) << artDmxPacket("34120002", dmxSlots(2));
        QTest::newRow("odd length 3: 21 bytes")
            << 3 << qint64(21) << artDmxPacket("34120003", dmxSlots(3));
        QTest::newRow("length 512: 530 bytes")
            << 512 << qint64(530) << artDmxPacket("34120200", dmxSlots(512));
    }

    void sendDmx()
    {
        QFETCH(int, length);
        QFETCH(qint64, result);
        QFETCH(QByteArray, packet);

        PeerSocket peer;
        QVERIFY2(peer.isOpen(), qPrintable(peer.error()));
        QScopedPointer<artnet> node(quietNode());

        const QByteArray data = dmxSlots(513);
        QCOMPARE(node->sendDmx(bytes(data), quint16(length), 0x34, 0x12, &kVeth0.peer), result);
        const QStringList received = describe(peer.receiveFor(100));
        if (packet.isEmpty()) {
            QCOMPARE(received, QStringList());
            QVERIFY(!ArtnetProbe::lastPacketValid(*node)); // nothing to repeat either
        } else {
            QCOMPARE(received, QStringList{expected(kVeth0.peer, packet)});
            QVERIFY(ArtnetProbe::lastPacketValid(*node));
        }
    }

    void sendDmxWithoutData()
    {
        PeerSocket peer;
        QVERIFY2(peer.isOpen(), qPrintable(peer.error()));
        QScopedPointer<artnet> node(quietNode());
        QCOMPARE(node->sendDmx(nullptr, 2, 0, 0, &kVeth0.peer), qint64(-1));
        QCOMPARE(describe(peer.receiveFor(100)), QStringList());
    }

    void sendDmxUniverse_data()
    {
        QTest::addColumn<int>("universe");
        QTest::addColumn<qint64>("result");
        QTest::addColumn<QByteArray>("packet");

        // Universes count from 1 here and from 0 on the wire: SubUni the low, Net the high byte.
        QTest::newRow("universe 0: nothing") << 0 << qint64(0) << QByteArray();
        QTest::newRow("universe 1: SubUni 0, Net 0")
            << 1 << qint64(20) << artDmxPacket("00000002", dmxSlots(2));
        QTest::newRow("universe 256: SubUni 255, Net 0")
            << 256 << qint64(20) << artDmxPacket("ff000002", dmxSlots(2));
        QTest::newRow("universe 257: SubUni 0, Net 1")
            << 257 << qint64(20) << artDmxPacket("00010002", dmxSlots(2));
        QTest::newRow("universe 32768: SubUni 255, Net 127")
            << 32768 << qint64(20) << artDmxPacket("ff7f0002", dmxSlots(2));
    }

    void sendDmxUniverse()
    {
        QFETCH(int, universe);
        QFETCH(qint64, result);
        QFETCH(QByteArray, packet);

        PeerSocket peer;
        QVERIFY2(peer.isOpen(), qPrintable(peer.error()));
        QScopedPointer<artnet> node(quietNode());

        const QByteArray data = dmxSlots(2);
        QCOMPARE(node->sendDmxUniverse(bytes(data), 2, quint16(universe), &kVeth1.peer), result);
        const QStringList received = describe(peer.receiveFor(100));
        if (packet.isEmpty())
            QCOMPARE(received, QStringList());
        else
            QCOMPARE(received, QStringList{expected(kVeth1.peer, packet)});
    }

    void repeatRunsEvery500msAndHasNothingToRepeatAtFirst()
    {
        PeerSocket peer;
        QVERIFY2(peer.isOpen(), qPrintable(peer.error()));
        QScopedPointer<artnet> node(quietNode());
        QVERIFY(!ArtnetProbe::sendTimer(*node));

        QVERIFY(node->enableSending());
        QTimer* timer = ArtnetProbe::sendTimer(*node);
        QVERIFY(timer);
        QCOMPARE(timer->interval(), 500);
        QVERIFY(timer->isActive());
        QVERIFY(!timer->isSingleShot());

        QCOMPARE(invokeSendDataTimeout(*node), qint64(-1));
        shortenRepeat(*node);
        QCOMPARE(describe(peer.receiveFor(200)), QStringList());
    }

    void repeatGoesToTheStoredDestination()
    {
        PeerSocket peer;
        QVERIFY2(peer.isOpen(), qPrintable(peer.error()));
        QScopedPointer<artnet> node(quietNode());

        const QByteArray data = dmxSlots(2);
        QCOMPARE(node->sendDmx(bytes(data), 2, 0x01, 0x00, &kVeth1.peer), qint64(20));
        QVERIFY(ArtnetProbe::lastDestination(*node));
        QCOMPARE(*ArtnetProbe::lastDestination(*node), kVeth1.peer);
        shortenRepeat(*node);
        const QList<QNetworkDatagram> received = peer.receive(4);

        // The first send and three repeats, all alike and all to the stored address.
        const QString one = expected(kVeth1.peer, artDmxPacket("01000002", data));
        QVERIFY(received.size() >= 4);
        QCOMPARE(describe(received.mid(0, 4)), QStringList({one, one, one, one}));
        QCOMPARE(invokeSendDataTimeout(*node), qint64(20));
    }

    void repeatGoesToEveryBroadcastAfterASendWithoutDestination_data()
    {
        QTest::addColumn<bool>("firstWithDestination");
        QTest::newRow("only a send without destination") << false;
        // The last successful send decides where the repeats go.
        QTest::newRow("a send with destination, then one without") << true;
    }

    void repeatGoesToEveryBroadcastAfterASendWithoutDestination()
    {
        QFETCH(bool, firstWithDestination);
        PeerSocket peer;
        QVERIFY2(peer.isOpen(), qPrintable(peer.error()));
        QScopedPointer<artnet> node(quietNode());

        if (firstWithDestination) {
            const QByteArray earlier = dmxSlots(4);
            QCOMPARE(node->sendDmx(bytes(earlier), 4, 0, 0, &kVeth1.peer), qint64(22));
            QCOMPARE(peer.receive(1).size(), 1);
        }
        const QByteArray data = dmxSlots(2);
        QCOMPARE(node->sendDmx(bytes(data), 2, 0x05, 0x00, nullptr), qint64(20));
        QVERIFY(!ArtnetProbe::lastDestination(*node));
        shortenRepeat(*node);
        const QList<QNetworkDatagram> received = peer.receive(7);

        // Sent once to the first network, then repeated to both on every tick.
        const QByteArray packet = artDmxPacket("05000002", data);
        const QString first = expected(kVeth0.broadcast, packet);
        const QString second = expected(kVeth1.broadcast, packet);
        QVERIFY(received.size() >= 7);
        QCOMPARE(describe(received.at(0)), first);
        QCOMPARE(sorted(describe(received.mid(1, 6))),
                 sorted({first, second, first, second, first, second}));
        QCOMPARE(invokeSendDataTimeout(*node), qint64(-1));
    }

    void sendDmxUniverseWithoutDestinationRepeatsToTheFirstNetwork()
    {
        PeerSocket peer;
        QVERIFY2(peer.isOpen(), qPrintable(peer.error()));
        QScopedPointer<artnet> node(quietNode());

        const QByteArray data = dmxSlots(2);
        QCOMPARE(node->sendDmxUniverse(bytes(data), 2, 257, nullptr), qint64(20));
        // The first network's broadcast address is stored as the repeat destination.
        QVERIFY(ArtnetProbe::lastDestination(*node));
        QCOMPARE(*ArtnetProbe::lastDestination(*node), kVeth0.broadcast);
        shortenRepeat(*node);
        const QList<QNetworkDatagram> received = peer.receive(4);

        const QString one = expected(kVeth0.broadcast, artDmxPacket("00010002", data));
        QVERIFY(received.size() >= 4);
        QCOMPARE(describe(received.mid(0, 4)), QStringList({one, one, one, one}));
    }

    void failedSendKeepsThePreviousRepeat()
    {
        PeerSocket peer;
        QVERIFY2(peer.isOpen(), qPrintable(peer.error()));
        QScopedPointer<artnet> node(quietNode());

        const QByteArray data = dmxSlots(2);
        QCOMPARE(node->sendDmx(bytes(data), 2, 0, 0, &kVeth1.peer), qint64(20));
        QCOMPARE(peer.receive(1).size(), 1);
        // No route leads there: the socket refuses the datagram.
        const QHostAddress unreachable(QStringLiteral("172.16.0.1"));
        const QByteArray other = dmxSlots(3);
        QCOMPARE(node->sendDmx(bytes(other), 3, 9, 9, &unreachable), qint64(-1));
        QCOMPARE(*ArtnetProbe::lastDestination(*node), kVeth1.peer);

        shortenRepeat(*node);
        const QList<QNetworkDatagram> received = peer.receive(2);
        const QString one = expected(kVeth1.peer, artDmxPacket("00000002", data));
        QVERIFY(received.size() >= 2);
        QCOMPARE(describe(received.mid(0, 2)), QStringList({one, one}));
    }

    void sendTimecode_data()
    {
        QTest::addColumn<QHostAddress>("destination");
        QTest::addColumn<qint64>("result");
        QTest::addColumn<QStringList>("destinations");

        QTest::newRow("to an address: exactly one")
            << kVeth1.peer << qint64(20) << QStringList{kVeth1.peer.toString()};
        QTest::newRow("without destination: one per network")
            << kNone << qint64(40)
            << QStringList{kVeth0.broadcast.toString(), kVeth1.broadcast.toString()};
    }

    void sendTimecode()
    {
        QFETCH(QHostAddress, destination);
        QFETCH(qint64, result);
        QFETCH(QStringList, destinations);

        PeerSocket peer;
        QVERIFY2(peer.isOpen(), qPrintable(peer.error()));
        QScopedPointer<artnet> node(quietNode());

        TimecodeRecord record;
        record.frames = 24;
        record.seconds = 59;
        record.minutes = 58;
        record.hours = 23;
        record.type = 3;
        QCOMPARE(node->sendTimecode(&record, destinationOf(destination)), result);
        QList<QNetworkDatagram> received = peer.receive(int(destinations.size()));
        // ArtTimeCode is neither stored nor repeated.
        shortenRepeat(*node);
        received += peer.receiveFor(150);

        // ID, OpCode 0x9700 low byte first, ProtVer 0 14, Filler1, StreamId, frames, seconds,
        // minutes, hours, type, pad.
        const QByteArray packet =
            QByteArray("Art-Net\0", 8) + QByteArray::fromHex("0097000e0000183b3a170300");
        QStringList expectedDatagrams;
        for (const QString& to : destinations)
            expectedDatagrams.append(expected(QHostAddress(to), packet));
        QCOMPARE(sorted(describe(received)), sorted(expectedDatagrams));
    }

    void sendTimecodeWithoutRecord()
    {
        PeerSocket peer;
        QVERIFY2(peer.isOpen(), qPrintable(peer.error()));
        QScopedPointer<artnet> node(quietNode());
        QCOMPARE(node->sendTimecode(nullptr, nullptr), qint64(-1));
        QCOMPARE(node->sendTimecode(nullptr, &kVeth1.peer), qint64(-1));
        QCOMPARE(describe(peer.receiveFor(100)), QStringList());
    }

    void withoutSocketNothingIsSent_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<qint64>("result");

        QTest::newRow("sendPoll") << Operation::SendPoll << qint64(0);
        QTest::newRow("sendDatagram to an address") << Operation::SendDatagramTo << qint64(-1);
        QTest::newRow("sendDatagram to the first network")
            << Operation::SendDatagramToFirstNetwork << qint64(-1);
        QTest::newRow("sendDmx") << Operation::SendDmx << qint64(-1);
        QTest::newRow("sendDmxUniverse") << Operation::SendDmxUniverse << qint64(-1);
        QTest::newRow("sendTimecode") << Operation::SendTimecode << qint64(-1);
    }

    void withoutSocketNothingIsSent()
    {
        QFETCH(Operation, operation);
        QFETCH(qint64, result);

        PeerSocket peer;
        QVERIFY2(peer.isOpen(), qPrintable(peer.error()));
        // Port 6454 is taken without sharing, so the node cannot open its socket.
        QUdpSocket blocker;
        QVERIFY(blocker.bind(QHostAddress::AnyIPv4, kArtNetPort));
        QScopedPointer<artnet> node(quietNode());
        QVERIFY(!node->openSocket());

        const QByteArray data = dmxSlots(14);
        TimecodeRecord record;
        OutputCapture capture;
        qint64 got = 0;
        switch (operation) {
        case Operation::SendPoll:
            got = node->sendPoll();
            break;
        case Operation::SendDatagramTo:
            got = node->sendDatagram(data.constData(), 14, &kVeth1.peer);
            break;
        case Operation::SendDatagramToFirstNetwork:
            got = node->sendDatagram(data.constData(), 14, nullptr);
            break;
        case Operation::SendDmx:
            got = node->sendDmx(bytes(data), 14, 0, 0, &kVeth1.peer);
            break;
        case Operation::SendDmxUniverse:
            got = node->sendDmxUniverse(bytes(data), 14, 1, nullptr);
            break;
        case Operation::SendTimecode:
            got = node->sendTimecode(&record, nullptr);
            break;
        }
        const QList<QNetworkDatagram> received = peer.receiveFor(100);
        const QByteArray written = capture.finish();

        QCOMPARE(got, result);
        QCOMPARE(describe(received), QStringList());
        QCOMPARE(written, QByteArray());
        QVERIFY(!ArtnetProbe::socket(*node));
    }
};

QTEST_GUILESS_MAIN(SendTest)
#include "tst_send.moc"
