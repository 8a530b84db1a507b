// Answering ArtPoll: which network answers, how many replies with which ports, every byte of the
// reply as a controller on the veth networks receives it, and the node's own ArtPoll.
#include "artnet.h"
#include "capture.h"
#include "peernet.h"
#include "poll.h"
#include "pollreply.h"
#include "probes.h"
#include "sandbox.h"
#include "traffic.h"

#include <QColor>
#include <QtTest>

#include <cstring>
#include <vector>

using namespace TestSupport;

namespace {

const QByteArray kIp0 = QByteArray::fromHex("c0a83205"); // 192.168.50.5
const QByteArray kIp1 = QByteArray::fromHex("0a3c0002"); // 10.60.0.2

// The sender, port 6454, the receiver and the bytes of a datagram, so that a failure shows all.
QString describe(const QNetworkDatagram& datagram)
{
    return QStringLiteral("%1:%2 -> %3:%4 %5")
        .arg(datagram.senderAddress().toString())
        .arg(datagram.senderPort())
        .arg(datagram.destinationAddress().toString())
        .arg(datagram.destinationPort())
        .arg(QString::fromLatin1(datagram.data().toHex()));
}

QStringList describe(const QList<QNetworkDatagram>& datagrams)
{
    QStringList result;
    for (const QNetworkDatagram& datagram : datagrams)
        result.append(describe(datagram));
    return result;
}

QString expected(const QHostAddress& from, const QHostAddress& to, const QByteArray& data)
{
    return QStringLiteral("%1:6454 -> %2:6454 %3")
        .arg(from.toString(), to.toString(), QString::fromLatin1(data.toHex()));
}

InterfaceEntry entry(const char* ip, const char* netmask)
{
    InterfaceEntry result;
    result.address.setIp(QHostAddress(QLatin1String(ip)));
    result.address.setNetmask(QHostAddress(QLatin1String(netmask)));
    return result;
}

// How a test sets up the node's ports before the poll.
enum class Ports { Viewer, DmxInputOnly, DmxBuffer, DmxBufferFromUniverse255, Pixels };

} // namespace

Q_DECLARE_METATYPE(Ports)
Q_DECLARE_METATYPE(InterfaceEntry)

class PollTest : public QObject
{
    Q_OBJECT

private slots:
    void answeringNetwork_data()
    {
        QTest::addColumn<QList<InterfaceEntry>>("entries");
        QTest::addColumn<QHostAddress>("poller");
        QTest::addColumn<int>("answering");

        const QList<InterfaceEntry> two = {entry("192.168.1.5", "255.255.255.0"),
                                           entry("10.0.0.2", "255.0.0.0")};
        QTest::newRow("poller on the second network")
            << two << QHostAddress(QStringLiteral("10.0.0.7")) << 1;
        QTest::newRow("poller on the first network")
            << two << QHostAddress(QStringLiteral("192.168.1.200")) << 0;
        QTest::newRow("poller on no network")
            << two << QHostAddress(QStringLiteral("172.16.0.1")) << -1;
        QTest::newRow("the network's own broadcast address")
            << two << QHostAddress(QStringLiteral("10.255.255.255")) << 1;
        // A poller that is not IPv4 counts as 0.0.0.0, which is on neither network.
        QTest::newRow("IPv6 poller") << two << QHostAddress(QStringLiteral("fe80::1")) << -1;
        QTest::newRow("IPv4-mapped IPv6 poller")
            << two << QHostAddress(QStringLiteral("::ffff:10.0.0.7")) << -1;
        QTest::newRow("overlapping networks: the first in the list answers")
            << QList<InterfaceEntry>{entry("10.0.0.2", "255.0.0.0"),
                                     entry("10.1.0.2", "255.255.0.0")}
            << QHostAddress(QStringLiteral("10.1.0.9")) << 0;
        QTest::newRow("loopback fallback, poller on loopback")
            << QList<InterfaceEntry>{entry("127.0.0.1", "255.0.0.0")}
            << QHostAddress(QStringLiteral("127.0.0.2")) << 0;
        QTest::newRow("loopback fallback, poller elsewhere")
            << QList<InterfaceEntry>{entry("127.0.0.1", "255.0.0.0")}
            << QHostAddress(QStringLiteral("192.168.1.7")) << -1;
        QTest::newRow("no networks")
            << QList<InterfaceEntry>{} << QHostAddress(QStringLiteral("10.0.0.7")) << -1;
    }

    void answeringNetwork()
    {
        QFETCH(QList<InterfaceEntry>, entries);
        QFETCH(QHostAddress, poller);
        QFETCH(int, answering);
        QCOMPARE(ArtNetPoll::answeringEntry(entries, poller), answering);
    }

    void portCount_data()
    {
        QTest::addColumn<quint32>("dmxBufferSize");
        QTest::addColumn<quint16>("dmxChannels");
        QTest::addColumn<quint32>("pixels");
        QTest::addColumn<quint16>("pixelChannels");
        QTest::addColumn<bool>("dmxInput");
        QTest::addColumn<quint32>("ports");

        QTest::newRow("the viewer: no input, no buffers")
            << 0u << quint16(512) << 0u << quint16(512) << false << 0u;
        QTest::newRow("DMX input without buffers: the own universe")
            << 0u << quint16(512) << 0u << quint16(512) << true << 1u;
        QTest::newRow("one full universe")
            << 512u << quint16(512) << 0u << quint16(512) << true << 1u;
        QTest::newRow("513 bytes count as two universes")
            << 513u << quint16(512) << 0u << quint16(512) << true << 2u;
        QTest::newRow("5120 bytes at 512 channels")
            << 5120u << quint16(512) << 0u << quint16(512) << true << 10u;
        QTest::newRow("5120 bytes at 510 channels")
            << 5120u << quint16(510) << 0u << quint16(512) << true << 11u;
        QTest::newRow("200 pixels are 600 channels: two universes")
            << 0u << quint16(512) << 200u << quint16(512) << true << 2u;
        QTest::newRow("170 pixels at 510 channels fill one universe")
            << 0u << quint16(512) << 170u << quint16(510) << true << 1u;
        QTest::newRow("pixels need more universes than DMX")
            << 1024u << quint16(512) << 600u << quint16(512) << true << 4u;
        QTest::newRow("DMX needs more universes than pixels")
            << 5120u << quint16(512) << 200u << quint16(512) << true << 10u;
    }

    void portCount()
    {
        QFETCH(quint32, dmxBufferSize);
        QFETCH(quint16, dmxChannels);
        QFETCH(quint32, pixels);
        QFETCH(quint16, pixelChannels);
        QFETCH(bool, dmxInput);
        QFETCH(quint32, ports);
        QCOMPARE(ArtNetPoll::portCount(dmxBufferSize, dmxChannels, pixels, pixelChannels, dmxInput),
                 ports);
    }

    void macFromString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("mac");

        QTest::newRow("upper case, as Qt writes it")
            << QStringLiteral("00:1A:2B:3C:4D:5E") << QByteArray::fromHex("001a2b3c4d5e");
        QTest::newRow("lower case")
            << QStringLiteral("00:1a:2b:3c:4d:5e") << QByteArray::fromHex("001a2b3c4d5e");
        QTest::newRow("mixed case")
            << QStringLiteral("aB:Cd:eF:fa:09:90") << QByteArray::fromHex("abcdeffa0990");
        QTest::newRow("all zero") << QStringLiteral("00:00:00:00:00:00") << QByteArray(6, '\0');
        QTest::newRow("empty text") << QString() << QByteArray(6, '\0');
        QTest::newRow("only colons") << QStringLiteral(":::::") << QByteArray(6, '\0');
        QTest::newRow("four groups fill four bytes")
            << QStringLiteral("12:34:56:78") << QByteArray::fromHex("123456780000");
        QTest::newRow("without colons")
            << QStringLiteral("001A2B3C4D5E") << QByteArray::fromHex("001a2b3c4d5e");
        // The colons go first, so the pairs are taken from the remaining digits.
        QTest::newRow("a group of one digit shifts the pairs")
            << QStringLiteral("0:1A:2B:3C:4D:5E") << QByteArray::fromHex("01a2b3c4d5e0");
        QTest::newRow("other characters leave the byte as it is")
            << QStringLiteral("G1:1G:zz:-F:F-:..") << QByteArray::fromHex("0101000f0f00");
        QTest::newRow("only the first twelve digits count")
            << QStringLiteral("00:1A:2B:3C:4D:5E:6F") << QByteArray::fromHex("001a2b3c4d5e");
    }

    void macFromString()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, mac);
        OutputCapture discovery; // the node's lines about the networks are not the point here
        artnet node;
        discovery.finish();
        quint8 bytes[6];
        std::memset(bytes, 0xEE, sizeof bytes); // every byte is written, whatever was there
        node.macFromString(text, bytes);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(bytes), 6), mac);
        node.macFromString(text, nullptr); // nothing to write to: nothing happens
    }

    void answersFromTheNetworkOfThePoller_data()
    {
        QTest::addColumn<int>("network");
        QTest::addColumn<QHostAddress>("pollTo");

        QTest::newRow("poll from 192.168.50.1") << 0 << kVeth0.local;
        QTest::newRow("poll from 10.60.0.1") << 1 << kVeth1.local;
        QTest::newRow("broadcast poll on 10.60.0.0/16") << 1 << kVeth1.broadcast;
        QTest::newRow("broadcast poll on 192.168.50.0/24") << 0 << kVeth0.broadcast;
    }

    void answersFromTheNetworkOfThePoller()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(int, network);
        QFETCH(QHostAddress, pollTo);
        const VethNetwork& veth = network == 0 ? kVeth0 : kVeth1;
        const QByteArray mac = macBytes(hardwareAddress(veth.name));
        QCOMPARE(mac.size(), 6);

        PeerSocket controller;
        QVERIFY2(controller.isOpen(), qPrintable(controller.error()));
        artnet node;
        configureAsViewer(node);
        QVERIFY(ArtnetProbe::pollReplyEnabled(node));

        // A poll sent to a broadcast address comes back to the controller as well.
        const bool broadcast = pollTo == veth.broadcast;
        OutputCapture capture;
        const qint64 sent = controller.socket.writeDatagram(artPoll(), pollTo, kArtNetPort);
        QList<QNetworkDatagram> replies = controller.receive(broadcast ? 2 : 1);
        replies += controller.receiveFor(100); // nothing more follows
        const QStringList lines = capture.lines();
        replies.removeIf([](const QNetworkDatagram& d) { return d.data() == artPoll(); });

        QCOMPARE(sent, qint64(14));
        const QByteArray ip = network == 0 ? kIp0 : kIp1;
        QCOMPARE(describe(replies),
                 QStringList{expected(veth.local, veth.peer, viewerReply(ip, mac))});
        QCOMPARE(replies.first().data().size(), 240); // one byte past the published layout
        QCOMPARE(lines, QStringList{QStringLiteral("PollReply to %1 from %2 SubId 0")
                                        .arg(veth.peer.toString(), veth.local.toString())});
    }

    void everyPollIsAnsweredAgain()
    {
        REQUIRE_PRIVATE_NETWORK();
        PeerSocket controller;
        QVERIFY2(controller.isOpen(), qPrintable(controller.error()));
        artnet node;
        configureAsViewer(node);
        const QByteArray reply = viewerReply(kIp1, macBytes(hardwareAddress(kVeth1.name)));

        OutputCapture capture;
        for (int i = 0; i < 3; ++i)
            controller.socket.writeDatagram(artPoll(), kVeth1.local, kArtNetPort);
        QList<QNetworkDatagram> replies = controller.receive(3);
        replies += controller.receiveFor(100);
        const QStringList lines = capture.lines();

        const QString one = expected(kVeth1.local, kVeth1.peer, reply);
        QCOMPARE(describe(replies), QStringList({one, one, one}));
        const QString line = QStringLiteral("PollReply to 10.60.0.1 from 10.60.0.2 SubId 0");
        QCOMPARE(lines, QStringList({line, line, line}));
    }

    void pollFromNoLocalNetworkIsNotAnswered()
    {
        REQUIRE_PRIVATE_NETWORK();
        // 127.0.0.0/8 is not among the node's networks while the veth networks exist.
        const QHostAddress stranger(QStringLiteral("127.0.0.2"));
        QUdpSocket listener; // where a reply to the stranger would arrive
        QVERIFY(listener.bind(stranger, kArtNetPort,
                              QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
        PeerSocket peer;
        QVERIFY2(peer.isOpen(), qPrintable(peer.error()));
        artnet node;
        configureAsViewer(node);

        OutputCapture capture;
        Controller controller(stranger);
        controller.send(artPoll(), QHostAddress(QHostAddress::LocalHost));
        settle(node);
        const QList<QNetworkDatagram> atPeer = peer.receiveFor(150);
        const QByteArray written = capture.finish();

        QVERIFY(ArtnetProbe::lastPoll(node)); // the poll was taken, only not answered
        // Taking it prepared the sending side all the same, repeat timer included.
        QVERIFY(ArtnetProbe::sendingReady(node));
        QVERIFY(ArtnetProbe::sendTimer(node));
        QVERIFY(!listener.hasPendingDatagrams());
        QCOMPARE(describe(atPeer), QStringList());
        QCOMPARE(written, QByteArray());
    }

    void namesAreCutToTheirFields()
    {
        REQUIRE_PRIVATE_NETWORK();
        PeerSocket controller;
        QVERIFY2(controller.isOpen(), qPrintable(controller.error()));
        artnet node;
        configureAsViewer(node);
        node.setNames(QStringLiteral("ABCDEFGHIJKLMNOPQRST"), // 20 characters
                      QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyz"
                                     "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789")); // 72 characters

        OutputCapture capture;
        controller.socket.writeDatagram(artPoll(), kVeth0.local, kArtNetPort);
        const QList<QNetworkDatagram> replies = controller.receive(1);
        const QStringList lines = capture.lines();

        QByteArray reply = viewerReply(kIp0, macBytes(hardwareAddress(kVeth0.name)));
        reply = patched(reply, 26, field("ABCDEFGHIJKLMNOPQ", 18)); // 17 characters and NUL
        reply = patched(reply, 44,
                        field("0123456789abcdefghijklmnopqrstuvwxyz"
                              "ABCDEFGHIJKLMNOPQRSTUVWXYZ0", // 63 characters and NUL
                              64));
        QCOMPARE(describe(replies), QStringList{expected(kVeth0.local, kVeth0.peer, reply)});
        QCOMPARE(lines, QStringList{QStringLiteral("PollReply to 192.168.50.1 from 192.168.50.5 "
                                                   "SubId 0")});
    }

    void portsPerReply_data()
    {
        QTest::addColumn<Ports>("ports");
        // Per reply: NumPortsLo, the four SwOut bytes and BindIndex.
        QTest::addColumn<QList<QByteArray>>("replies");

        QTest::newRow("the viewer: one reply without ports")
            << Ports::Viewer
            << QList<QByteArray>{QByteArray::fromHex("00"
                                                     "00000000"
                                                     "00")};
        QTest::newRow("DMX input without buffers: the own universe, 5")
            << Ports::DmxInputOnly
            << QList<QByteArray>{QByteArray::fromHex("01"
                                                     "05000000"
                                                     "00")};
        QTest::newRow("5120-byte DMX buffer at 512 channels: 4, 4 and 2 ports")
            << Ports::DmxBuffer
            << QList<QByteArray>{QByteArray::fromHex("04"
                                                     "00010203"
                                                     "00"),
                                 QByteArray::fromHex("04"
                                                     "04050607"
                                                     "01"),
                                 QByteArray::fromHex("02"
                                                     "08090000"
                                                     "02")};
        // SwOut carries the low eight bits of each Port-Address.
        QTest::newRow("ten ports from universe 254")
            << Ports::DmxBufferFromUniverse255
            << QList<QByteArray>{QByteArray::fromHex("04"
                                                     "feff0001"
                                                     "00"),
                                 QByteArray::fromHex("04"
                                                     "02030405"
                                                     "01"),
                                 QByteArray::fromHex("02"
                                                     "06070000"
                                                     "02")};
        QTest::newRow("200 pixels: two ports") << Ports::Pixels
                                               << QList<QByteArray>{QByteArray::fromHex("02"
                                                                                        "00010000"
                                                                                        "00")};
    }

    void portsPerReply()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(Ports, ports);
        QFETCH(QList<QByteArray>, replies);

        PeerSocket controller;
        QVERIFY2(controller.isOpen(), qPrintable(controller.error()));
        // The node keeps only pointers to these: they outlive it.
        std::vector<quint8> dmx(5120);
        std::vector<QColor> pixels(200);
        artnet node;
        configureAsViewer(node);
        switch (ports) {
        case Ports::Viewer:
            break;
        case Ports::DmxInputOnly:
            QVERIFY(node.enableDmxInput());
            QVERIFY(node.setUniverse(6));
            break;
        case Ports::DmxBuffer:
            node.setDmxBuffer(dmx.data(), quint32(dmx.size()), 512);
            break;
        case Ports::DmxBufferFromUniverse255:
            QVERIFY(node.setUniverse(255));
            node.setDmxBuffer(dmx.data(), quint32(dmx.size()), 512);
            break;
        case Ports::Pixels:
            node.setPixelBuffer(pixels.data(), quint32(pixels.size()), 512);
            break;
        }

        OutputCapture capture;
        controller.socket.writeDatagram(artPoll(), kVeth1.local, kArtNetPort);
        QList<QNetworkDatagram> received = controller.receive(int(replies.size()));
        received += controller.receiveFor(100);
        const QStringList lines = capture.lines();

        const QByteArray base = viewerReply(kIp1, macBytes(hardwareAddress(kVeth1.name)));
        QStringList expectedReplies, expectedLines;
        for (int k = 0; k < replies.size(); ++k) {
            QByteArray reply = patched(base, 173, replies[k].mid(0, 1)); // NumPortsLo
            reply = patched(reply, 190, replies[k].mid(1, 4));           // SwOut
            reply = patched(reply, 211, replies[k].mid(5, 1));           // BindIndex
            expectedReplies.append(expected(kVeth1.local, kVeth1.peer, reply));
            expectedLines.append(
                QStringLiteral("PollReply to 10.60.0.1 from 10.60.0.2 SubId %1").arg(k));
        }
        QCOMPARE(describe(received), expectedReplies);
        QCOMPARE(lines, expectedLines);
    }

    void pollGoesToEveryNetwork()
    {
        REQUIRE_PRIVATE_NETWORK();
        PeerSocket peer;
        QVERIFY2(peer.isOpen(), qPrintable(peer.error()));
        artnet node;
        QVERIFY(node.openSocket());

        OutputCapture capture;
        const qint64 total = node.sendPoll();
        QList<QNetworkDatagram> received = peer.receive(2);
        received += peer.receiveFor(100);
        const QStringList lines = capture.lines();

        // ID, OpCode 0x2000 low byte first, ProtVer 0 14, TalkToMe 0, Priority 0.
        const QByteArray poll = QByteArray("Art-Net\0", 8) + QByteArray::fromHex("0020000e0000");
        QCOMPARE(total, qint64(28));
        QCOMPARE(describe(received), QStringList({expected(kVeth0.local, kVeth0.broadcast, poll),
                                                  expected(kVeth1.local, kVeth1.broadcast, poll)}));
        QCOMPARE(
            lines,
            QStringList({QStringLiteral("Poll to 192.168.50.255 from 192.168.50.5/255.255.255.0"),
                         QStringLiteral("Poll to 10.60.255.255 from 10.60.0.2/255.255.0.0")}));
    }

    void ownPollIsAnsweredLikeAnyOther()
    {
        REQUIRE_PRIVATE_NETWORK();
        artnet node;
        configureAsViewer(node);

        OutputCapture capture;
        const qint64 total = node.sendPoll();
        // The broadcasts come back to the node, which answers itself on each network and then
        // hears its own replies.
        QTest::qWait(150);
        const QStringList lines = capture.lines();

        QCOMPARE(total, qint64(28));
        QCOMPARE(lines,
                 QStringList(
                     {QStringLiteral("Poll to 192.168.50.255 from 192.168.50.5/255.255.255.0"),
                      QStringLiteral("Poll to 10.60.255.255 from 10.60.0.2/255.255.0.0"),
                      QStringLiteral("PollReply to 192.168.50.5 from 192.168.50.5 SubId 0"),
                      QStringLiteral("PollReply to 10.60.0.2 from 10.60.0.2 SubId 0"),
                      QStringLiteral("Art-Net PollReply"), QStringLiteral("Art-Net PollReply")}));
    }
};

QTEST_GUILESS_MAIN(PollTest)
#include "tst_poll.moc"
