// Opening the node's socket on port 6454: the two bind modes, a port that is taken, and the
// operations that open it.
#include "artnet.h"
#include "probes.h"
#include "sandbox.h"
#include "traffic.h"

#include <QtTest>

#include <sys/socket.h>

using namespace TestSupport;

namespace {

const QAbstractSocket::BindMode kShared =
    QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;

// Whether a socket bound to port 6454 allows others to share the port.
bool sharesAddress(QUdpSocket* socket)
{
    int value = 0;
    socklen_t size = sizeof value;
    if (getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_REUSEADDR, &value, &size) != 0)
        return false;
    return value != 0;
}

} // namespace

class SocketTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    void bindsPort6454OnIPv4_data()
    {
        QTest::addColumn<bool>("shareBind");
        QTest::addColumn<bool>("shared");
        // Shared binding lets other Art-Net programs on the host take the port too; the plain
        // bind comes first without it.
        QTest::newRow("shareBind true") << true << true;
        QTest::newRow("shareBind false") << false << false;
    }

    void bindsPort6454OnIPv4()
    {
        QFETCH(bool, shareBind);
        QFETCH(bool, shared);
        artnet node;
        node.shareBind = shareBind;
        QVERIFY(node.openSocket());
        QUdpSocket* socket = ArtnetProbe::socket(node);
        QVERIFY(socket);
        QCOMPARE(socket->localPort(), quint16(6454));
        QCOMPARE(socket->localAddress(), QHostAddress(QHostAddress::AnyIPv4));
        QCOMPARE(sharesAddress(socket), shared);

        QUdpSocket other;
        QCOMPARE(other.bind(QHostAddress::AnyIPv4, 6454, kShared), shared);
    }

    void portAlreadyTaken_data()
    {
        QTest::addColumn<bool>("blockerShares");
        QTest::addColumn<bool>("shareBind");
        QTest::addColumn<bool>("opened");
        QTest::newRow("taken exclusively, shareBind true") << false << true << false;
        QTest::newRow("taken exclusively, shareBind false") << false << false << false;
        QTest::newRow("taken shared, shareBind true") << true << true << true;
        // The plain bind fails, and only then the shared bind follows.
        QTest::newRow("taken shared, shareBind false") << true << false << true;
    }

    void portAlreadyTaken()
    {
        QFETCH(bool, blockerShares);
        QFETCH(bool, shareBind);
        QFETCH(bool, opened);
        QUdpSocket blocker;
        QVERIFY(blockerShares ? blocker.bind(QHostAddress::AnyIPv4, 6454, kShared)
                              : blocker.bind(QHostAddress::AnyIPv4, 6454));

        artnet node;
        node.shareBind = shareBind;
        QCOMPARE(node.openSocket(), opened);
        QCOMPARE(ArtnetProbe::socketReady(node), opened);
        if (opened) {
            QVERIFY(sharesAddress(ArtnetProbe::socket(node)));
        } else {
            QVERIFY(!ArtnetProbe::socket(node)); // a failed bind leaves no socket behind
            // Nothing is retried on its own; the next call tries again, and succeeds once
            // the port is free.
            blocker.close();
            QVERIFY(node.openSocket());
            QVERIFY(ArtnetProbe::socketReady(node));
        }
    }

    void openingTwiceKeepsTheSocket()
    {
        artnet node;
        QVERIFY(node.openSocket());
        QUdpSocket* socket = ArtnetProbe::socket(node);
        QVERIFY(node.openSocket());
        QCOMPARE(ArtnetProbe::socket(node), socket);
    }

    void pollReplySwitch()
    {
        artnet node;
        QVERIFY(!ArtnetProbe::socket(node)); // the constructor does not open the socket
        node.setPollReplyEnabled(true);
        QVERIFY(ArtnetProbe::pollReplyEnabled(node));
        QUdpSocket* socket = ArtnetProbe::socket(node);
        QVERIFY(socket);
        node.setPollReplyEnabled(true);
        QCOMPARE(ArtnetProbe::socket(node), socket);

        node.setPollReplyEnabled(false);
        QVERIFY(!ArtnetProbe::pollReplyEnabled(node));
        QCOMPARE(ArtnetProbe::socket(node), socket); // the socket stays open
        QVERIFY(ArtnetProbe::socketReady(node));
    }

    void busyPortAtStartDelaysOnlyTheTimecode()
    {
        QUdpSocket blocker;
        QVERIFY(blocker.bind(QHostAddress::AnyIPv4, 6454));
        artnet node;
        node.setPollReplyEnabled(true);
        QVERIFY(!ArtnetProbe::pollReplyEnabled(node));
        TimecodeRecord record;
        QVERIFY(!node.getTimecode(&record, nullptr, 0));
        QVERIFY(!ArtnetProbe::socket(node));

        // The window's next refresh takes the freed port, and reception starts.
        blocker.close();
        QVERIFY(!node.getTimecode(&record, nullptr, 0));
        QVERIFY(ArtnetProbe::socketReady(node));
        Controller controller(QHostAddress(QStringLiteral("127.0.0.2")));
        controller.send(artTimeCode(1, 2, 3, 4, 1));
        settle(node);
        QVERIFY(node.getTimecode(&record, nullptr, 0));
        QCOMPARE(record.hours, quint8(4));
        // Answering polls was asked for only once, at start.
        QVERIFY(!ArtnetProbe::pollReplyEnabled(node));
    }

    void sendersArePlainIPv4Addresses()
    {
        artnet node;
        QVERIFY(node.openSocket());
        Controller controller(QHostAddress(QStringLiteral("127.0.0.9")));
        controller.send(artTimeCode(0, 0, 0, 0, 0));
        settle(node);
        TimecodeRecord record;
        QHostAddress sender;
        QVERIFY(node.getTimecode(&record, &sender, 0));
        QCOMPARE(sender.protocol(), QAbstractSocket::IPv4Protocol);
        QCOMPARE(sender.toString(), QStringLiteral("127.0.0.9"));
    }
};

QTEST_GUILESS_MAIN(SocketTest)
#include "tst_socket.moc"
