// Discovery of the local IPv4 networks: the decision per address on made-up adapters, with the
// exact lines written for each, and the real enumeration of the test's two veth networks.
#include "artnet.h"
#include "capture.h"
#include "interfaces.h"
#include "peernet.h"
#include "probes.h"
#include "sandbox.h"

#include <QProcess>
#include <QtTest>

using namespace TestSupport;
using InterfaceDiscovery::Adapter;

Q_DECLARE_METATYPE(QList<Adapter>)

namespace {

// Each address as "ip netmask broadcast", parts left out stay unset; "" is the null address.
Adapter adapter(const char* mac, const QStringList& addresses)
{
    Adapter result{QLatin1String(mac), {}};
    for (const QString& text : addresses) {
        const QStringList part = text.split(QLatin1Char(' ')) + QStringList{{}, {}};
        QNetworkAddressEntry entry;
        entry.setIp(QHostAddress(part[0]));
        entry.setNetmask(QHostAddress(part[1]));
        entry.setBroadcast(QHostAddress(part[2]));
        result.addresses.append(entry);
    }
    return result;
}

// "ip/netmask/broadcast mac" per entry.
QStringList describe(const QList<InterfaceEntry>& entries)
{
    QStringList result;
    for (const InterfaceEntry& entry : entries)
        result.append(QStringLiteral("%1/%2/%3 %4")
                          .arg(entry.address.ip().toString(), entry.address.netmask().toString(),
                               entry.address.broadcast().toString(), entry.mac));
    return result;
}

// The line for an ordinary IPv4 address, two blanks before "Mask:", the verdict run on.
QString found(const char* address, const char* verdict)
{
    const QStringList parts = QString::fromLatin1(address).split(QLatin1Char(' '));
    return QStringLiteral("line:found IpV4 - %1  Mask: %2 Broad: %3%4")
        .arg(parts[0], parts[1], parts[2], QLatin1String(verdict));
}

const QString kFallback = QStringLiteral("127.0.0.1/255.0.0.0/127.255.255.255 00:00:00:00:00:00");

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
        const char* net = "10.0.0.2 255.0.0.0 10.255.255.255";
        // Each adapter's own hardware address, zeros where it has none.
        QTest::newRow("IPv6 noted, IPv4 taken; 127.0.0.2 taken, 127.0.0.1 not")
            << QList<Adapter>{adapter(mac, {"fe80::1", net}),
                              adapter("", {"127.0.0.1 255.0.0.0",
                                           "127.0.0.2 255.0.0.0 127.255.255.255"})}
            << QStringList{QStringLiteral("10.0.0.2/255.0.0.0/10.255.255.255 ") + mac,
                           QStringLiteral("127.0.0.2/255.0.0.0/127.255.255.255 00:00:00:00:00:00")}
            << QStringList{QStringLiteral("line:found IpV6 - fe80::1 dont' use it"),
                           found(net, "add to send/receive list with00:1A:2B:3C:4D:5E"),
                           QStringLiteral("line:found IpV4 - 127.0.0.1 memory for later"),
                           found("127.0.0.2 255.0.0.0 127.255.255.255",
                                 "add to send/receive list with00:00:00:00:00:00")};
        // The fallback line shows loopback as the system gave it and ends itself, unflushed.
        QTest::newRow("127.0.0.1 remembered, then the fallback with its own line break")
            << QList<Adapter>{adapter(mac, {"127.0.0.1 255.0.0.0"})} << QStringList{kFallback}
            << QStringList{QStringLiteral("line:found IpV4 - 127.0.0.1 memory for later"),
                           QStringLiteral("text:found IpV4 - 127.0.0.1 broadcast  netmask "
                                          "255.0.0.0 do not use it\n")};
        // Each refused on its own; nothing usable and no 127.0.0.1: loopback without a line.
        QTest::newRow("null, 0.0.0.0, 255.255.255.255, zero netmask, zero broadcast refused")
            << QList<Adapter>{adapter(mac, {"", "0.0.0.0 255.0.0.0 0.255.255.255",
                                            "255.255.255.255 255.0.0.0 255.255.255.255",
                                            "10.0.0.2 0.0.0.0 10.255.255.255",
                                            "10.0.0.3 255.0.0.0 0.0.0.0"})}
            << QStringList{kFallback}
            << QStringList{
                   QStringLiteral("line:found unknown Ip -  dont' use it"),
                   QStringLiteral("line:found IpV4 - 0.0.0.0 do not use it"),
                   QStringLiteral("line:found IpV4 - 255.255.255.255 do not use it"),
                   found("10.0.0.2 0.0.0.0 10.255.255.255", "don't add because invalid netmask"),
                   found("10.0.0.3 255.0.0.0 0.0.0.0", "don't add because invalid broadcast")};
    }

    void decisionPerAddress()
    {
        QFETCH(QList<Adapter>, adapters);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, writes);
        const InterfaceDiscovery::Result result = InterfaceDiscovery::discover(adapters);
        // A line is ended and flushed by the writer; "text:" is written exactly as it stands.
        QStringList written;
        for (const InterfaceDiscovery::Write& write : result.writes)
            written.append(QLatin1String(write.isLine ? "line:" : "text:") + write.text);
        QCOMPARE(describe(result.entries), entries);
        QCOMPARE(written, writes);
    }

    void theVethNetworksAreFoundOnce()
    {
        REQUIRE_PRIVATE_NETWORK();
        const QString mac0 = hardwareAddress(kVeth0.name);
        const QString mac1 = hardwareAddress(kVeth1.name);
        QVERIFY2(!mac0.isEmpty() && !mac1.isEmpty() && mac0 != mac1,
                 "run through netns-run --veth");
        // An adapter that is down is taken too: its address stays configured, and it comes up
        // with that same network.
        const auto link = [](const char* state) {
            return QProcess::execute(QStringLiteral("ip"), {"link", "set", "clt1", state});
        };
        QCOMPARE(link("down"), 0);
        OutputCapture quiet;
        artnet node;
        quiet.finish();
        QCOMPARE(link("up"), 0);
        const QList<InterfaceEntry>* entries = ArtnetProbe::interfaces(node);
        QVERIFY(entries);
        QCOMPARE(describe(*entries),
                 QStringList({QStringLiteral("192.168.50.5/255.255.255.0/192.168.50.255 ") + mac0,
                              QStringLiteral("10.60.0.2/255.255.0.0/10.60.255.255 ") + mac1}));
        QCOMPARE(node.interfaceIp(1), QStringLiteral("10.60.0.2"));
        QVERIFY(node.interfaceIp(2).isNull() && node.interfaceIp(-1).isNull());

        // The networks are known from construction on: asking again neither adds nor writes.
        OutputCapture capture;
        QVERIFY(node.discoverInterfaces());
        QCOMPARE(capture.finish(), QByteArray());
        QCOMPARE(entries->size(), 2);
    }
};

QTEST_GUILESS_MAIN(InterfacesTest)
#include "tst_interfaces.moc"
