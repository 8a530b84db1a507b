// Answering ArtPoll: which network answers, how many replies with which ports, every byte of the
// reply as a controller on the veth networks receives it, and the node's own ArtPoll.
#include "artnet.h"
#include "capture.h"
#include "peernet.h"
#include "pollreply.h"
#include "probes.h"
#include "sandbox.h"

#include <QtTest>

#include <cstring>
#include <memory>
#include <vector>

using namespace TestSupport;

namespace {

// A text field of the given size: the text, then NULs.
QByteArray field(const char* text, int size)
{
    return QByteArray(text) + QByteArray(size - int(std::strlen(text)), '\0');
}

// The ArtPollReply of the viewer's configuration (no ports) from 10.60.0.2 with clt1's MAC,
// written out here field by field; rows patch copies of it.
QByteArray viewerReply()
{
    QByteArray reply("Art-Net\0", 8);               // 0 ID
    reply += QByteArray::fromHex("0021");           // 8 OpCode 0x2100, low byte first
    reply += QByteArray::fromHex("0a3c0002");       // 10 IP 10.60.0.2, first octet first
    reply += QByteArray::fromHex("3619");           // 14 Port 6454, low byte first
    reply += QByteArray::fromHex("0100 0000 0c12"); // 16 version 1.0, 18 switches, 20 OEM
    reply += QByteArray::fromHex("00 00 0000");     // 22 Ubea, 23 Status1, 24 EstaMan
    reply += field("Tempolis", 18);                 // 26 ShortName
    reply += field("Chronolume v1.0.2 by www.example.net", 64); // 44 LongName
    reply += QByteArray(64, '\0');                              // 108 NodeReport, never set
    reply += QByteArray::fromHex("0000");                       // 172 NumPortsHi, NumPortsLo
    reply += QByteArray::fromHex("85858585");                   // 174 PortTypes: Art-Net output
    reply += QByteArray::fromHex("00000000 80808080");          // 178 GoodInput, 182 GoodOutput
    reply += QByteArray::fromHex("00000000 00000000");          // 186 SwIn, 190 SwOut
    reply += QByteArray(7, '\0'); // 194 SwVideo..Spare, 200 Style StNode
    reply += QByteArray::fromHex(hardwareAddress(kVeth1.name).toLatin1()); // 201 MAC
    reply += QByteArray(33, '\0'); // 207 BindIp, 211 BindIndex, 212 Status2, Filler, pad to 240
    return reply;
}

// One reply of several: NumPortsLo, the four SwOut bytes and BindIndex.
QByteArray ports(const char* count, const char* swOut, const char* bindIndex)
{
    const QByteArray reply = patched(viewerReply(), 173, QByteArray::fromHex(count));
    return patched(patched(reply, 190, QByteArray::fromHex(swOut)), 211,
                   QByteArray::fromHex(bindIndex));
}

} // namespace

class PollTest : public QObject
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
        // The identity the viewer's window gives its node.
        node->versionHi = 1;
        node->oemHi = 0x0C;
        node->oemLo = 0x12;
        node->setNames(QStringLiteral("Tempolis"),
                       QStringLiteral("Chronolume v1.0.2 by www.example.net"));
        node->setPollReplyEnabled(true);
    }

    void answersFrom10x_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("dmxBytes");
        QTest::addColumn<QList<QByteArray>>("replies");

        QTest::newRow("the viewer: one reply without ports, every byte")
            << QStringList() << 0 << QList<QByteArray>{viewerReply()};
        QTest::newRow("names cut to 17 and 63 characters, a NUL after each")
            << QStringList{QStringLiteral("ABCDEFGHIJKLMNOPQRST"),
                           QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyz"
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789")}
            << 0
            << QList<QByteArray>{patched(
                   patched(viewerReply(), 26, field("ABCDEFGHIJKLMNOPQ", 18)), 44,
                   field("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0", 64))};
        QTest::newRow("5120-byte DMX buffer at 512 channels: 4, 4 and 2 ports")
            << QStringList() << 5120
            << QList<QByteArray>{ports("04", "00010203", "00"), ports("04", "04050607", "01"),
                                 ports("02", "08090000", "02")};
    }

    void answersFrom10x()
    {
        QFETCH(QStringList, names);
        QFETCH(int, dmxBytes);
        QFETCH(QList<QByteArray>, replies);
        std::vector<quint8> dmx(5120); // the node keeps a pointer to it: it outlives the node
        if (!names.isEmpty())
            node->setNames(names[0], names[1]);
        if (dmxBytes)
            node->setDmxBuffer(dmx.data(), quint32(dmxBytes), 512);

        OutputCapture capture;
        peer->socket.writeDatagram(artPoll(), kVeth1.local, kArtNetPort);
        const QStringList received = describe(peer->receive(int(replies.size())));
        const QStringList lines = capture.lines();

        QStringList expected, expectedLines;
        for (int k = 0; k < replies.size(); ++k) {
            expected.append(fromNode(kVeth1.peer, replies[k]));
            expectedLines.append(
                QStringLiteral("PollReply to 10.60.0.1 from 10.60.0.2 SubId %1").arg(k));
        }
        QCOMPARE(received, expected);
        QCOMPARE(lines, expectedLines);
    }

    void pollFromNoLocalNetworkIsNotAnswered()
    {
        // 127.0.0.0/8 is not among the node's networks while the veth networks exist.
        const QHostAddress stranger(QStringLiteral("127.0.0.2"));
        QUdpSocket listener; // where a reply to the stranger would arrive
        QVERIFY(listener.bind(stranger, kArtNetPort,
                              QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
        OutputCapture capture;
        Controller(stranger).send(artPoll(), QHostAddress(QHostAddress::LocalHost));
        settle(*node);
        const QStringList atPeer = describe(peer->receive(0, 150));
        const QByteArray written = capture.finish();

        QVERIFY(ArtnetProbe::lastPoll(*node)); // the poll was taken, only not answered
        // Taking it prepared the sending side all the same, repeat timer included.
        QVERIFY(ArtnetProbe::sendingReady(*node) && ArtnetProbe::sendTimer(*node));
        QVERIFY(!listener.hasPendingDatagrams());
        QCOMPARE(atPeer, QStringList());
        QCOMPARE(written, QByteArray());
    }

    // The plain decisions behind the reply.
    void decisions()
    {
        // Of two networks that both hold the poller, the first listed answers.
        QList<InterfaceEntry> entries(2);
        entries[0].address.setIp(QHostAddress(QStringLiteral("10.0.0.2")));
        entries[0].address.setPrefixLength(8);
        entries[1].address.setIp(QHostAddress(QStringLiteral("10.1.0.2")));
        entries[1].address.setPrefixLength(16);
        QCOMPARE(ArtNetPoll::answeringEntry(entries, QHostAddress(QStringLiteral("10.1.0.9"))), 0);

        // DMX input alone reports the own universe; partial universes count whole; pixels take
        // three channels each, and the larger need wins.
        QCOMPARE(ArtNetPoll::portCount(0, 512, 0, 512, true), 1u);
        QCOMPARE(ArtNetPoll::portCount(513, 512, 0, 512, true), 2u);
        QCOMPARE(ArtNetPoll::portCount(512, 512, 200, 512, true), 2u);

        // Hexadecimal digits in either case.
        quint8 mac[6];
        for (const char* text : {"00:1A:2B:3C:4D:5E", "00:1a:2b:3c:4d:5e"}) {
            node->macFromString(QLatin1String(text), mac);
            QCOMPARE(QByteArray(reinterpret_cast<char*>(mac), 6).toHex(), "001a2b3c4d5e");
        }
    }

    void pollGoesToEveryNetwork()
    {
        QCOMPARE(node->sendPoll(), qint64(28));
        QCOMPARE(describe(peer->receive(2)), QStringList({fromNode(kVeth0.broadcast, artPoll()),
                                                          fromNode(kVeth1.broadcast, artPoll())}));
    }
};

QTEST_GUILESS_MAIN(PollTest)
#include "tst_poll.moc"
