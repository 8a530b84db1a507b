// A machine whose only network is loopback: discovery falls back to 127.0.0.1/8, and programs
// on the same host can still find the node with ArtPoll.
#include "artnet.h"
#include "capture.h"
#include "pollreply.h"
#include "probes.h"
#include "sandbox.h"
#include "traffic.h"

#include <QNetworkDatagram>
#include <QtTest>

using namespace TestSupport;

class LoopbackTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    void loopbackStandsInForTheMissingNetworks()
    {
        OutputCapture capture;
        artnet node;
        const QByteArray written = capture.finish();

        // 127.0.0.1 is remembered, ::1 only noted, and the fallback line reports loopback as
        // Qt has it (Qt derives the broadcast address from the prefix) with its own line break.
        QCOMPARE(written, QByteArray("found IpV4 - 127.0.0.1 memory for later\n"
                                     "found IpV6 - ::1 dont' use it\n"
                                     "found IpV4 - 127.0.0.1 broadcast 127.255.255.255 netmask "
                                     "255.0.0.0 do not use it\n"));
        const QList<InterfaceEntry>* entries = ArtnetProbe::interfaces(node);
        QVERIFY(entries);
        QCOMPARE(entries->size(), 1);
        QCOMPARE(entries->at(0).address.ip(), QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(entries->at(0).address.netmask(), QHostAddress(QStringLiteral("255.0.0.0")));
        QCOMPARE(entries->at(0).address.broadcast(),
                 QHostAddress(QStringLiteral("127.255.255.255")));
        QCOMPARE(entries->at(0).mac, QStringLiteral("00:00:00:00:00:00"));
        QCOMPARE(node.interfaceIp(0), QStringLiteral("127.0.0.1"));
    }

    void pollFromThisHostIsAnsweredFromLoopback()
    {
        const QHostAddress controllerAddress(QStringLiteral("127.0.0.2"));
        // The reply goes to port 6454 of the poller; a socket bound to that very address is
        // preferred there over the node's own wildcard socket.
        QUdpSocket listener;
        QVERIFY(listener.bind(controllerAddress, kArtNetPort,
                              QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
        OutputCapture discovery;
        artnet node;
        discovery.finish();
        configureAsViewer(node);

        OutputCapture capture;
        Controller controller(controllerAddress);
        controller.send(artPoll(), QHostAddress(QHostAddress::LocalHost));
        settle(node);
        QTRY_VERIFY_WITH_TIMEOUT(listener.hasPendingDatagrams(), 2000);
        const QNetworkDatagram reply = listener.receiveDatagram();
        QTest::qWait(50);
        const bool more = listener.hasPendingDatagrams();
        const QStringList lines = capture.lines();

        QCOMPARE(reply.senderAddress(), QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(reply.senderPort(), 6454);
        QCOMPARE(reply.data().toHex(),
                 viewerReply(QByteArray::fromHex("7f000001"), QByteArray(6, '\0')).toHex());
        QVERIFY(!more);
        QCOMPARE(lines,
                 QStringList{QStringLiteral("PollReply to 127.0.0.2 from 127.0.0.1 SubId 0")});
    }
};

QTEST_GUILESS_MAIN(LoopbackTest)
#include "tst_loopback.moc"
