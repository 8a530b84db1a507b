// Opening the node's socket on port 6454: the two bind modes, a port that is taken, and the
// operations that open it; and discovery on a host whose only network is loopback.
#include "artnet.h"
#include "capture.h"
#include "probes.h"
#include "sandbox.h"
#include "traffic.h"

#include <QtTest>

#include <sys/socket.h>

using namespace TestSupport;

namespace {

const QAbstractSocket::BindMode kShared =
    QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;

// Whether a socket allows others to share its port, as the kernel has it.
bool sharesAddress(const std::optional<NodeSocketView>& socket)
{
    int value = 0;
    socklen_t size = sizeof value;
    return getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_REUSEADDR, &value, &size) ==
               0 &&
           value != 0;
}

} // namespace

class SocketTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    void bindsPort6454OnIPv4_data()
    {
        QTest::addColumn<int>("blocker"); // 0 none, 1 bound without sharing, 2 bound shared
        QTest::addColumn<bool>("shareBind");
        QTest::addColumn<bool>("shared"); // false with opened: the plain bind, not shared
        QTest::addColumn<bool>("opened");
        // Shared binding lets other Art-Net programs on the host take the port too.
        QTest::newRow("free, shareBind true") << 0 << true << true << true;
        QTest::newRow("free, shareBind false: plain") << 0 << false << false << true;
        QTest::newRow("taken exclusively, shareBind true") << 1 << true << false << false;
        QTest::newRow("taken exclusively, shareBind false") << 1 << false << false << false;
        QTest::newRow("taken shared, shareBind true") << 2 << true << true << true;
        // The plain bind fails, and only then the shared bind follows.
        QTest::newRow("taken shared, shareBind false") << 2 << false << true << true;
    }

    void bindsPort6454OnIPv4()
    {
        QFETCH(int, blocker);
        QFETCH(bool, shareBind);
        QFETCH(bool, shared);
        QFETCH(bool, opened);
        QUdpSocket other;
        if (blocker)
            QVERIFY(other.bind(QHostAddress::AnyIPv4, 6454,
                               blocker == 2 ? kShared : QAbstractSocket::DefaultForPlatform));

        artnet node;
        node.shareBind = shareBind;
        QCOMPARE(node.openSocket(), opened);
        QCOMPARE(ArtnetProbe::socketReady(node), opened);
        const std::optional<NodeSocketView> socket = ArtnetProbe::socket(node);
        if (!opened) {
            QVERIFY(!socket); // a failed bind leaves no socket behind
            // Nothing is retried on its own; the next call tries again, and succeeds once the
            // port is free.
            other.close();
            QVERIFY(node.openSocket());
            QVERIFY(ArtnetProbe::socketReady(node));
            return;
        }
        QCOMPARE(socket->localPort(), quint16(6454));
        QCOMPARE(socket->localAddress(), QHostAddress(QHostAddress::AnyIPv4));
        QCOMPARE(sharesAddress(socket), shared);
        if (!blocker)
            QCOMPARE(other.bind(QHostAddress::AnyIPv4, 6454, kShared), shared);
    }

    void theSocketOpensOnceAndStays()
    {
        artnet node;
        QVERIFY(!ArtnetProbe::socket(node)); // the constructor does not open the socket
        node.setPollReplyEnabled(true);      // answering polls does
        const std::optional<NodeSocketView> socket = ArtnetProbe::socket(node);
        QVERIFY(socket && ArtnetProbe::pollReplyEnabled(node));
        QVERIFY(node.openSocket());
        node.setPollReplyEnabled(true);
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
        QHostAddress sender;
        QVERIFY(!node.getTimecode(&record, &sender, 0));
        QVERIFY(!ArtnetProbe::socket(node));

        // The window asks again at every refresh: the next one takes the freed port, reception
        // starts and polls are answered from then on.
        blocker.close();
        QVERIFY(!node.getTimecode(&record, &sender, 0));
        QVERIFY(!ArtnetProbe::socket(node)); // reading opens nothing
        node.setPollReplyEnabled(true);
        QVERIFY(ArtnetProbe::socketReady(node));
        QVERIFY(ArtnetProbe::pollReplyEnabled(node));
        Controller(QHostAddress(QStringLiteral("127.0.0.9"))).send(artTimeCode(1, 2, 3, 4, 1));
        QVERIFY(settle(node));
        QVERIFY(node.getTimecode(&record, &sender, 0));
        QCOMPARE(record.hours, quint8(4));
        // Senders are plain IPv4 addresses, not IPv4-mapped IPv6 ones.
        QCOMPARE(sender.protocol(), QAbstractSocket::IPv4Protocol);
        QCOMPARE(sender.toString(), QStringLiteral("127.0.0.9"));
    }

    // Discovery falls back to 127.0.0.1/8, so that programs on the same host can still reach the
    // node (e2e/poll-reply polls it there).
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
        QVERIFY(entries && entries->size() == 1);
        const QNetworkAddressEntry& loopback = entries->at(0).address;
        QCOMPARE(QStringList({loopback.ip().toString(), loopback.netmask().toString(),
                              loopback.broadcast().toString(), entries->at(0).mac}),
                 QStringList({"127.0.0.1", "255.0.0.0", "127.255.255.255", "00:00:00:00:00:00"}));
    }
};

QTEST_GUILESS_MAIN(SocketTest)
#include "tst_socket.moc"
