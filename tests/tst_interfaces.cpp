// Discovery of the local IPv4 networks: the decision per address on made-up adapters, with the
// exact lines written for each, and the real enumeration of the test's two veth networks.
#include "artnet.h"
#include "capture.h"
#include "interfaces.h"
#include "peernet.h"
#include "probes.h"
#include "sandbox.h"

#include <QRegularExpression>
#include <QtTest>

#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace TestSupport;
using InterfaceDiscovery::Adapter;

Q_DECLARE_METATYPE(QList<Adapter>)

namespace {

const QString kNoMac = QStringLiteral("00:00:00:00:00:00");

// An address entry as an adapter reports it; a null text leaves the part unset.
QNetworkAddressEntry address(const char* ip, const char* netmask = nullptr,
                             const char* broadcast = nullptr)
{
    QNetworkAddressEntry entry;
    if (ip)
        entry.setIp(QHostAddress(QLatin1String(ip)));
    if (netmask)
        entry.setNetmask(QHostAddress(QLatin1String(netmask)));
    if (broadcast)
        entry.setBroadcast(QHostAddress(QLatin1String(broadcast)));
    return entry;
}

Adapter adapter(const char* hardwareAddress, const QList<QNetworkAddressEntry>& addresses)
{
    return Adapter{QLatin1String(hardwareAddress), addresses};
}

// One entry of the list as text, so a table row can name it: "ip/netmask/broadcast mac".
QString describe(const InterfaceEntry& entry)
{
    return QStringLiteral("%1/%2/%3 %4")
        .arg(entry.address.ip().toString(), entry.address.netmask().toString(),
             entry.address.broadcast().toString(), entry.mac);
}

QStringList describe(const QList<InterfaceEntry>& entries)
{
    QStringList result;
    for (const InterfaceEntry& entry : entries)
        result.append(describe(entry));
    return result;
}

// A line is ended and flushed by the writer; "text:" is written exactly as it stands.
QStringList describe(const QList<InterfaceDiscovery::Write>& writes)
{
    QStringList result;
    for (const InterfaceDiscovery::Write& write : writes)
        result.append((write.isLine ? QStringLiteral("line:") : QStringLiteral("text:")) +
                      write.text);
    return result;
}

QString line(const char* text)
{
    return QStringLiteral("line:") + QLatin1String(text);
}

// Brings one of our interfaces up or down, as "ip link set" would.
bool setUp(const char* interfaceName, bool up)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, interfaceName, IFNAMSIZ - 1);
    bool done = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (done) {
        if (up)
            request.ifr_flags = short(request.ifr_flags | IFF_UP);
        else
            request.ifr_flags = short(request.ifr_flags & ~IFF_UP);
        done = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    close(fd);
    return done;
}

const QString kLoopbackFallback = QStringLiteral("127.0.0.1/255.0.0.0/127.255.255.255 ") + kNoMac;

} // namespace

class InterfacesTest : public QObject
{
    Q_OBJECT

private slots:
    void decisionPerAddress_data()
    {
        QTest::addColumn<QList<Adapter>>("adapters");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("writes");

        const char* mac = "00:1A:2B:3C:4D:5E";
        const char* otherMac = "02:00:00:00:00:07";

        // Two blanks before "Mask:", none before "add" or before the hardware address.
        QTest::newRow("one IPv4 network")
            << QList<Adapter>{adapter(mac,
                                      {address("192.168.1.5", "255.255.255.0", "192.168.1.255")})}
            << QStringList{QStringLiteral("192.168.1.5/255.255.255.0/192.168.1.255 ") +
                           QLatin1String(mac)}
            << QStringList{line("found IpV4 - 192.168.1.5  Mask: 255.255.255.0 Broad: "
                                "192.168.1.255add to send/receive list with00:1A:2B:3C:4D:5E")};

        QTest::newRow("IPv6 is noted, then the IPv4 address handled")
            << QList<Adapter>{adapter(mac, {address("fe80::1", nullptr, nullptr),
                                            address("10.0.0.2", "255.0.0.0", "10.255.255.255")})}
            << QStringList{QStringLiteral("10.0.0.2/255.0.0.0/10.255.255.255 ") +
                           QLatin1String(mac)}
            << QStringList{line("found IpV6 - fe80::1 dont' use it"),
                           line("found IpV4 - 10.0.0.2  Mask: 255.0.0.0 Broad: "
                                "10.255.255.255add to send/receive list with00:1A:2B:3C:4D:5E")};

        // A null address is of no protocol at all, and its text is empty.
        QTest::newRow("null address, and no IPv4 at all: silent loopback")
            << QList<Adapter>{adapter(mac, {address(nullptr)})} << QStringList{kLoopbackFallback}
            << QStringList{line("found unknown Ip -  dont' use it")};

        QTest::newRow("no adapters at all: silent loopback")
            << QList<Adapter>{} << QStringList{kLoopbackFallback} << QStringList{};

        QTest::newRow("only IPv6: silent loopback")
            << QList<Adapter>{adapter("", {address("::1")})} << QStringList{kLoopbackFallback}
            << QStringList{line("found IpV6 - ::1 dont' use it")};

        // The fallback line reports netmask and broadcast as the system gave them, carries its
        // own line break and is not flushed.
        QTest::newRow("127.0.0.1 remembered and used when nothing else is")
            << QList<Adapter>{adapter("00:00:00:00:00:00", {address("127.0.0.1", "255.0.0.0")})}
            << QStringList{kLoopbackFallback}
            << QStringList{line("found IpV4 - 127.0.0.1 memory for later"),
                           QStringLiteral("text:found IpV4 - 127.0.0.1 broadcast  netmask "
                                          "255.0.0.0 do not use it\n")};

        QTest::newRow("a later 127.0.0.1 replaces an earlier one; the line shows it as reported")
            << QList<Adapter>{adapter("", {address("127.0.0.1", "255.0.0.0", "127.255.255.255")}),
                              adapter("", {address("127.0.0.1", "255.255.0.0", "127.0.255.255")})}
            << QStringList{kLoopbackFallback}
            << QStringList{line("found IpV4 - 127.0.0.1 memory for later"),
                           line("found IpV4 - 127.0.0.1 memory for later"),
                           QStringLiteral("text:found IpV4 - 127.0.0.1 broadcast 127.0.255.255 "
                                          "netmask 255.255.0.0 do not use it\n")};

        QTest::newRow("127.0.0.1 not used when another network is")
            << QList<Adapter>{adapter("", {address("127.0.0.1", "255.0.0.0")}),
                              adapter(mac, {address("10.0.0.2", "255.0.0.0", "10.255.255.255")})}
            << QStringList{QStringLiteral("10.0.0.2/255.0.0.0/10.255.255.255 ") +
                           QLatin1String(mac)}
            << QStringList{line("found IpV4 - 127.0.0.1 memory for later"),
                           line("found IpV4 - 10.0.0.2  Mask: 255.0.0.0 Broad: "
                                "10.255.255.255add to send/receive list with00:1A:2B:3C:4D:5E")};

        QTest::newRow("127.0.0.2 is an ordinary address")
            << QList<Adapter>{adapter("", {address("127.0.0.2", "255.0.0.0", "127.255.255.255")})}
            << QStringList{QStringLiteral("127.0.0.2/255.0.0.0/127.255.255.255 ") + kNoMac}
            << QStringList{line("found IpV4 - 127.0.0.2  Mask: 255.0.0.0 Broad: "
                                "127.255.255.255add to send/receive list with00:00:00:00:00:00")};

        QTest::newRow("0.0.0.0 and 255.255.255.255 are special")
            << QList<Adapter>{adapter(
                   mac, {address("0.0.0.0", "255.0.0.0", "0.255.255.255"),
                         address("255.255.255.255", "255.255.255.255", "255.255.255.255")})}
            << QStringList{kLoopbackFallback}
            << QStringList{line("found IpV4 - 0.0.0.0 do not use it"),
                           line("found IpV4 - 255.255.255.255 do not use it")};

        QTest::newRow("zero netmask")
            << QList<Adapter>{adapter(mac, {address("10.0.0.2", "0.0.0.0", "10.255.255.255")})}
            << QStringList{kLoopbackFallback}
            << QStringList{line("found IpV4 - 10.0.0.2  Mask: 0.0.0.0 Broad: "
                                "10.255.255.255don't add because invalid netmask")};

        // Unset parts are written as empty texts.
        QTest::newRow("netmask tested before broadcast")
            << QList<Adapter>{adapter(mac, {address("10.0.0.2")})} << QStringList{kLoopbackFallback}
            << QStringList{line("found IpV4 - 10.0.0.2  Mask:  Broad: don't add because "
                                "invalid netmask")};

        QTest::newRow("zero broadcast")
            << QList<Adapter>{adapter(mac, {address("10.0.0.2", "255.0.0.0", "0.0.0.0")})}
            << QStringList{kLoopbackFallback}
            << QStringList{line("found IpV4 - 10.0.0.2  Mask: 255.0.0.0 Broad: "
                                "0.0.0.0don't add because invalid broadcast")};

        QTest::newRow("point-to-point link without broadcast")
            << QList<Adapter>{adapter(mac, {address("10.8.0.6", "255.255.255.255")})}
            << QStringList{kLoopbackFallback}
            << QStringList{line("found IpV4 - 10.8.0.6  Mask: 255.255.255.255 Broad: "
                                "don't add because invalid broadcast")};

        QTest::newRow("empty hardware address")
            << QList<Adapter>{adapter("", {address("172.16.4.9", "255.255.0.0", "172.16.255.255")})}
            << QStringList{QStringLiteral("172.16.4.9/255.255.0.0/172.16.255.255 ") + kNoMac}
            << QStringList{line("found IpV4 - 172.16.4.9  Mask: 255.255.0.0 Broad: "
                                "172.16.255.255add to send/receive list with00:00:00:00:00:00")};

        QTest::newRow("two addresses on one adapter, two adapters, in the order given")
            << QList<Adapter>{adapter(mac,
                                      {address("192.168.1.5", "255.255.255.0", "192.168.1.255"),
                                       address("192.168.2.5", "255.255.255.0", "192.168.2.255")}),
                              adapter(otherMac,
                                      {address("10.0.0.2", "255.0.0.0", "10.255.255.255")})}
            << QStringList{QStringLiteral("192.168.1.5/255.255.255.0/192.168.1.255 ") +
                               QLatin1String(mac),
                           QStringLiteral("192.168.2.5/255.255.255.0/192.168.2.255 ") +
                               QLatin1String(mac),
                           QStringLiteral("10.0.0.2/255.0.0.0/10.255.255.255 ") +
                               QLatin1String(otherMac)}
            << QStringList{line("found IpV4 - 192.168.1.5  Mask: 255.255.255.0 Broad: "
                                "192.168.1.255add to send/receive list with00:1A:2B:3C:4D:5E"),
                           line("found IpV4 - 192.168.2.5  Mask: 255.255.255.0 Broad: "
                                "192.168.2.255add to send/receive list with00:1A:2B:3C:4D:5E"),
                           line("found IpV4 - 10.0.0.2  Mask: 255.0.0.0 Broad: "
                                "10.255.255.255add to send/receive list with02:00:00:00:00:07")};
    }

    void decisionPerAddress()
    {
        QFETCH(QList<Adapter>, adapters);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, writes);

        const InterfaceDiscovery::Result result = InterfaceDiscovery::discover(adapters);
        QCOMPARE(describe(result.entries), entries);
        QCOMPARE(describe(result.writes), writes);
    }

    void theVethNetworksAreFound()
    {
        REQUIRE_PRIVATE_NETWORK();
        const QString mac0 = hardwareAddress(kVeth0.name);
        const QString mac1 = hardwareAddress(kVeth1.name);
        if (mac0.isEmpty() || mac1.isEmpty())
            QSKIP("the veth networks are missing; run through netns-run --veth");
        QVERIFY(mac0 != kNoMac && mac1 != kNoMac && mac0 != mac1);

        OutputCapture capture;
        artnet node;
        const QStringList lines = capture.lines();

        const QList<InterfaceEntry>* entries = ArtnetProbe::interfaces(node);
        QVERIFY(entries);
        QCOMPARE(describe(*entries),
                 QStringList({QStringLiteral("192.168.50.5/255.255.255.0/192.168.50.255 ") + mac0,
                              QStringLiteral("10.60.0.2/255.255.0.0/10.60.255.255 ") + mac1}));
        QCOMPARE(node.interfaceIp(0), QStringLiteral("192.168.50.5"));
        QCOMPARE(node.interfaceIp(1), QStringLiteral("10.60.0.2"));

        // IPv6 addresses (::1, and the veths' link-local ones once the kernel has made them)
        // are only noted; everything else is written in the order of the adapters.
        const QRegularExpression ipv6(
            QStringLiteral("^found IpV6 - ([0-9a-f:%A-Za-z]+) dont' use it$"));
        QStringList others;
        for (const QString& written : lines) {
            const QRegularExpressionMatch match = ipv6.match(written);
            if (match.hasMatch())
                QCOMPARE(QHostAddress(match.captured(1)).protocol(), QAbstractSocket::IPv6Protocol);
            else
                others.append(written);
        }
        QVERIFY(lines.contains(QStringLiteral("found IpV6 - ::1 dont' use it")));
        QCOMPARE(others,
                 QStringList({QStringLiteral("found IpV4 - 127.0.0.1 memory for later"),
                              QStringLiteral("found IpV4 - 192.168.50.5  Mask: 255.255.255.0 "
                                             "Broad: 192.168.50.255add to send/receive list "
                                             "with") +
                                  mac0,
                              QStringLiteral("found IpV4 - 10.60.0.2  Mask: 255.255.0.0 Broad: "
                                             "10.60.255.255add to send/receive list with") +
                                  mac1}));
    }

    void anAdapterThatIsDownIsTaken()
    {
        REQUIRE_PRIVATE_NETWORK();
        if (hardwareAddress(kVeth1.name).isEmpty())
            QSKIP("the veth networks are missing; run through netns-run --veth");
        // Its address stays configured, and it comes up with that same network.
        QVERIFY(setUp(kVeth1.name, false));
        OutputCapture discovery;
        artnet node;
        discovery.finish();
        const bool restored = setUp(kVeth1.name, true);

        QVERIFY(restored);
        const QList<InterfaceEntry>* entries = ArtnetProbe::interfaces(node);
        QVERIFY(entries);
        QCOMPARE(entries->size(), 2);
        QCOMPARE(entries->at(1).address.ip(), kVeth1.local);
        QCOMPARE(entries->at(1).mac, hardwareAddress(kVeth1.name));
    }

    void discoveryRunsOnce()
    {
        REQUIRE_PRIVATE_NETWORK();
        artnet node;
        const QList<InterfaceEntry>* before = ArtnetProbe::interfaces(node);
        QVERIFY(before);
        const QStringList entries = describe(*before);

        OutputCapture capture;
        const bool first = node.discoverInterfaces();
        const bool second = node.discoverInterfaces();
        const QByteArray written = capture.finish();

        QVERIFY(first);
        QVERIFY(second);
        QCOMPARE(written, QByteArray());
        QCOMPARE(ArtnetProbe::interfaces(node), before);
        QCOMPARE(describe(*before), entries);
    }

    void interfaceIpOutOfRange_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("negative") << -1;
        QTest::newRow("one past the end") << 2;
        QTest::newRow("far past the end") << 1000;
    }

    void interfaceIpOutOfRange()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(int, index);
        artnet node;
        QCOMPARE(ArtnetProbe::interfaces(node)->size(), 2);
        QVERIFY(node.interfaceIp(index).isNull());
    }
};

QTEST_GUILESS_MAIN(InterfacesTest)
#include "tst_interfaces.moc"
