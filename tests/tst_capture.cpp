// Listening by packet capture and answering ArtPoll beside other programs, as plain functions:
// the Art-Net datagram found in a captured frame, a datagram captured twice counted once, the
// capture's clock brought to the node's, and the broadcast addresses a generator answers on.
#include "common/capture.h"
#include "common/pollresponder.h"

#include <QtTest>

#include <pcap/pcap.h>

using namespace Capture;

namespace {

// An IPv4 header and a UDP header, then the payload, as the wire has them.
QByteArray ipv4Udp(const QByteArray& payload, quint16 toPort = 6454, quint16 fragment = 0,
                   quint8 protocol = 17)
{
    const int total = 20 + 8 + int(payload.size());
    QByteArray p(28, '\0');
    p[0] = char(0x45);
    p[2] = char(total >> 8);
    p[3] = char(total & 0xFF);
    p[6] = char(fragment >> 8);
    p[7] = char(fragment & 0xFF);
    p[8] = 64;
    p[9] = char(protocol);
    const char from[4] = {10, 0, 0, 5};
    std::memcpy(p.data() + 12, from, 4);
    p[20] = char(0xD2); // source port 53760
    p[21] = 0;
    p[22] = char(toPort >> 8);
    p[23] = char(toPort & 0xFF);
    p[24] = char((8 + payload.size()) >> 8);
    p[25] = char((8 + payload.size()) & 0xFF);
    return p + payload;
}

QByteArray ethernet(const QByteArray& ip, bool vlan = false)
{
    QByteArray h(12, '\x11');
    if (vlan)
        h += QByteArray("\x81\x00\x00\x05", 4);
    return h + QByteArray("\x08\x00", 2) + ip;
}

QByteArray cooked(const QByteArray& ip)
{
    return QByteArray(14, '\0') + QByteArray("\x08\x00", 2) + ip;
}

QByteArray cooked2(const QByteArray& ip)
{
    return QByteArray("\x08\x00", 2) + QByteArray(18, '\0') + ip;
}

const QByteArray kPayload("Art-Net\0\x00\x97\x00\x0e", 12);

} // namespace

class CaptureTest : public QObject
{
    Q_OBJECT

private slots:
    void artNetDatagramFound_data()
    {
        QTest::addColumn<int>("linkType");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("found");
        QTest::newRow("Ethernet") << DLT_EN10MB << ethernet(ipv4Udp(kPayload)) << true;
        QTest::newRow("Ethernet with a VLAN tag")
            << DLT_EN10MB << ethernet(ipv4Udp(kPayload), true) << true;
        QTest::newRow("Linux cooked") << DLT_LINUX_SLL << cooked(ipv4Udp(kPayload)) << true;
        QTest::newRow("Linux cooked v2") << DLT_LINUX_SLL2 << cooked2(ipv4Udp(kPayload)) << true;
        QTest::newRow("raw IPv4") << DLT_RAW << ipv4Udp(kPayload) << true;
        QTest::newRow("Ethernet padded to its minimum: the UDP length counts")
            << DLT_EN10MB << ethernet(ipv4Udp(kPayload)) + QByteArray(8, '\0') << true;
        QTest::newRow("another port") << DLT_RAW << ipv4Udp(kPayload, 6455) << false;
        QTest::newRow("TCP") << DLT_RAW << ipv4Udp(kPayload, 6454, 0, 6) << false;
        QTest::newRow("a first fragment") << DLT_RAW << ipv4Udp(kPayload, 6454, 0x2000) << false;
        QTest::newRow("a later fragment") << DLT_RAW << ipv4Udp(kPayload, 6454, 0x0001) << false;
        QTest::newRow("Don't Fragment is whole")
            << DLT_RAW << ipv4Udp(kPayload, 6454, 0x4000) << true;
        QTest::newRow("cut one byte short of the UDP header")
            << DLT_RAW << ipv4Udp(kPayload).left(27) << false;
        QTest::newRow("an IPv6 frame")
            << DLT_LINUX_SLL << QByteArray(14, '\0') + QByteArray("\x86\xdd", 2) + ipv4Udp(kPayload)
            << false;
        QTest::newRow("an unknown link type") << 9999 << ipv4Udp(kPayload) << false;
    }
    void artNetDatagramFound()
    {
        QFETCH(int, linkType);
        QFETCH(QByteArray, frame);
        QFETCH(bool, found);
        Datagram d;
        QCOMPARE(artNetDatagram(linkType, reinterpret_cast<const unsigned char*>(frame.constData()),
                                int(frame.size()), &d),
                 found);
        if (!found)
            return;
        QCOMPARE(QByteArray(d.data, d.size), kPayload);
        QCOMPARE(d.sourceIp, quint32(0x0A000005));
        QCOMPARE(d.sourcePort, quint16(53760));
    }

    // The capture's filter, run by libpcap on frames as the wire has them: by OpCode (at bytes
    // 8 and 9 of the payload, low byte first) and port.
    void filterLeavesOutDmx_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("taken");
        const auto opCode = [](quint16 op) {
            QByteArray p = kPayload;
            p[8] = char(op & 0xFF);
            p[9] = char(op >> 8);
            return p + QByteArray(20, '\0');
        };
        QTest::newRow("ArtTimeCode") << ethernet(ipv4Udp(opCode(0x9700))) << true;
        QTest::newRow("ArtPollReply") << ethernet(ipv4Udp(opCode(0x2100))) << true;
        QTest::newRow("ArtPoll") << ethernet(ipv4Udp(opCode(0x2000))) << true;
        QTest::newRow("ArtDmx") << ethernet(ipv4Udp(opCode(0x5000))) << false;
        QTest::newRow("ArtNzs") << ethernet(ipv4Udp(opCode(0x5100))) << false;
        QTest::newRow("ArtSync, the OpCode after them")
            << ethernet(ipv4Udp(opCode(0x5200))) << true;
        QTest::newRow("the OpCode before ArtDmx") << ethernet(ipv4Udp(opCode(0x4F00))) << true;
        QTest::newRow("ArtTimeCode to another port")
            << ethernet(ipv4Udp(opCode(0x9700), 6455)) << false;
    }
    void filterLeavesOutDmx()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, taken);
        pcap_t* dead = pcap_open_dead(DLT_EN10MB, 2048);
        bpf_program program{};
        QCOMPARE(pcap_compile(dead, &program, kFilter, 1, PCAP_NETMASK_UNKNOWN), 0);
        pcap_pkthdr header{};
        header.caplen = header.len = bpf_u_int32(frame.size());
        const bool passed =
            pcap_offline_filter(&program, &header,
                                reinterpret_cast<const unsigned char*>(frame.constData())) != 0;
        pcap_freecode(&program);
        pcap_close(dead);
        QCOMPARE(passed, taken);
    }

    // The first sighting at 0 ns; the second with these differences.
    void seenTwiceCountsOnce_data()
    {
        QTest::addColumn<qint64>("afterNs");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<quint32>("ip");
        QTest::addColumn<quint16>("port");
        QTest::addColumn<bool>("repeat");
        const qint64 window = Repeats::kWindowNs;
        QTest::newRow("at once") << qint64(0) << kPayload << 1u << quint16(7) << true;
        QTest::newRow("just within the window")
            << window - 1 << kPayload << 1u << quint16(7) << true;
        QTest::newRow("at the window: sent again")
            << window << kPayload << 1u << quint16(7) << false;
        QTest::newRow("stamped a little earlier")
            << -5000ll << kPayload << 1u << quint16(7) << true;
        QTest::newRow("other bytes") << qint64(0) << kPayload + "x" << 1u << quint16(7) << false;
        QTest::newRow("another address") << qint64(0) << kPayload << 2u << quint16(7) << false;
        QTest::newRow("another port") << qint64(0) << kPayload << 1u << quint16(8) << false;
    }
    void seenTwiceCountsOnce()
    {
        QFETCH(qint64, afterNs);
        QFETCH(QByteArray, bytes);
        QFETCH(quint32, ip);
        QFETCH(quint16, port);
        QFETCH(bool, repeat);
        Repeats repeats;
        const qint64 first = 7'000'000'000;
        QVERIFY(!repeats.seen(kPayload.constData(), int(kPayload.size()), 1, 7, first));
        QCOMPARE(repeats.seen(bytes.constData(), int(bytes.size()), ip, port, first + afterNs),
                 repeat);
    }

    void stampOnTheSteadyClock_data()
    {
        QTest::addColumn<qint64>("stamp");
        QTest::addColumn<qint64>("steady");
        QTest::newRow("3 ms before now")
            << qint64(1'000'000'000'000 - 3'000'000) << qint64(497'000'000);
        QTest::newRow("now") << qint64(1'000'000'000'000) << qint64(500'000'000);
        QTest::newRow("from the future: now") << qint64(1'000'000'000'001) << qint64(500'000'000);
    }
    void stampOnTheSteadyClock()
    {
        QFETCH(qint64, stamp);
        QFETCH(qint64, steady);
        QCOMPARE(steadyArrivalNs(stamp, 1'000'000'000'000, 500'000'000), steady);
    }

    // The generator listens on its destinations' networks' broadcast addresses only.
    void answersOnTheNetworksItSendsOn_data()
    {
        QTest::addColumn<QStringList>("destinations");
        QTest::addColumn<QStringList>("listen");
        QTest::newRow("a broadcast address")
            << QStringList{"192.168.50.255"} << QStringList{"192.168.50.255"};
        QTest::newRow("a host on a network")
            << QStringList{"10.60.3.4"} << QStringList{"10.60.255.255"};
        QTest::newRow("the network's first and last address")
            << QStringList{"192.168.50.0", "10.60.255.255"}
            << QStringList{"192.168.50.255", "10.60.255.255"};
        QTest::newRow("two on one network: once")
            << QStringList{"192.168.50.7", "192.168.50.255"} << QStringList{"192.168.50.255"};
        QTest::newRow("just outside the network")
            << QStringList{"192.168.51.0", "10.61.0.0"} << QStringList{};
        QTest::newRow("this machine") << QStringList{"127.0.0.1"} << QStringList{};
    }
    void answersOnTheNetworksItSendsOn()
    {
        QFETCH(QStringList, destinations);
        QFETCH(QStringList, listen);
        QList<InterfaceEntry> networks(3);
        networks[0].address.setIp(QHostAddress(QStringLiteral("127.0.0.1")));
        networks[0].address.setPrefixLength(8);
        networks[1].address.setIp(QHostAddress(QStringLiteral("192.168.50.5")));
        networks[1].address.setPrefixLength(24);
        networks[1].address.setBroadcast(QHostAddress(QStringLiteral("192.168.50.255")));
        networks[2].address.setIp(QHostAddress(QStringLiteral("10.60.0.2")));
        networks[2].address.setPrefixLength(16);
        networks[2].address.setBroadcast(QHostAddress(QStringLiteral("10.60.255.255")));
        QList<QHostAddress> to;
        for (const QString& d : destinations)
            to.append(QHostAddress(d));
        QStringList got;
        for (const QHostAddress& a : PollAnswer::listenAddresses(networks, to))
            got.append(a.toString());
        QCOMPARE(got, listen);
    }
};

QTEST_GUILESS_MAIN(CaptureTest)
#include "tst_capture.moc"
