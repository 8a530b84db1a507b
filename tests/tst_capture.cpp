// Listening by packet capture and answering ArtPoll beside other programs, as plain functions:
// how a command listens with and without the capture, the Art-Net datagram found in a captured
// frame and the way it went, a datagram captured twice counted once, the capture's clock brought
// to the node's, and the broadcast addresses a generator answers on.
#include "common/capture.h"
#include "common/listening.h"
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

// The packet type first, two bytes: 0 to this host, 1 broadcast, 2 multicast, 3 to another host,
// 4 outgoing.
QByteArray cooked(const QByteArray& ip, char packetType = 0)
{
    return QByteArray(1, '\0') + QByteArray(1, packetType) + QByteArray(12, '\0') +
           QByteArray("\x08\x00", 2) + ip;
}

// The protocol, reserved, interface index, link type, then the packet type at byte 10.
QByteArray cooked2(const QByteArray& ip, char packetType = 0)
{
    return QByteArray("\x08\x00", 2) + QByteArray(8, '\0') + QByteArray(1, packetType) +
           QByteArray(9, '\0') + ip;
}

// A /proc/net/udp table as the kernel writes it on this (little-endian) machine: each bound
// address's bytes in reverse, the port as it is.
QByteArray udpTable(const QList<QByteArray>& locals)
{
    QByteArray table = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when "
                       "retrnsmt   uid  timeout inode ref pointer drops\n";
    int line = 0;
    for (const QByteArray& local : locals)
        table += QByteArray::number(line++).rightJustified(5) + ": " + local +
                 " 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000        0 "
                 "4242 2 0000000000000000 0\n";
    return table;
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

    // Which way a frame went, by the cooked header's packet type; Ethernet does not say.
    void wayOfTheFrame_data()
    {
        QTest::addColumn<int>("linkType");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("way");
        const QByteArray ip = ipv4Udp(kPayload);
        QTest::newRow("to this host") << DLT_LINUX_SLL << cooked(ip, 0) << int(Way::Arriving);
        QTest::newRow("broadcast") << DLT_LINUX_SLL << cooked(ip, 1) << int(Way::Arriving);
        QTest::newRow("multicast") << DLT_LINUX_SLL << cooked(ip, 2) << int(Way::Arriving);
        QTest::newRow("to another host") << DLT_LINUX_SLL << cooked(ip, 3) << int(Way::Arriving);
        QTest::newRow("outgoing") << DLT_LINUX_SLL << cooked(ip, 4) << int(Way::Leaving);
        QTest::newRow("a type past outgoing")
            << DLT_LINUX_SLL << cooked(ip, 5) << int(Way::Unknown);
        QTest::newRow("v2 to this host") << DLT_LINUX_SLL2 << cooked2(ip, 0) << int(Way::Arriving);
        QTest::newRow("v2 outgoing") << DLT_LINUX_SLL2 << cooked2(ip, 4) << int(Way::Leaving);
        QTest::newRow("Ethernet") << DLT_EN10MB << ethernet(ip) << int(Way::Unknown);
    }
    void wayOfTheFrame()
    {
        QFETCH(int, linkType);
        QFETCH(QByteArray, frame);
        QFETCH(int, way);
        Datagram d;
        QVERIFY(artNetDatagram(linkType, reinterpret_cast<const unsigned char*>(frame.constData()),
                               int(frame.size()), &d));
        QCOMPARE(int(d.way), way);
        QCOMPARE(QByteArray(d.data, d.size), kPayload);
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

    // The first sighting at 0 ns, leaving or arriving; the second with these differences.
    void seenTwiceCountsOnce_data()
    {
        QTest::addColumn<int>("firstWay");
        QTest::addColumn<int>("way");
        QTest::addColumn<qint64>("afterNs");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<quint32>("ip");
        QTest::addColumn<quint16>("port");
        QTest::addColumn<bool>("repeat");
        const int out = int(Way::Leaving);
        const int in = int(Way::Arriving);
        const int unknown = int(Way::Unknown);
        const qint64 window = Repeats::kWindowNs;
        QTest::newRow("left, then arrived at once: one datagram")
            << out << in << qint64(0) << kPayload << 1u << quint16(7) << true;
        QTest::newRow("arrived just within the window")
            << out << in << window - 1 << kPayload << 1u << quint16(7) << true;
        QTest::newRow("arrived at the window: sent again")
            << out << in << window << kPayload << 1u << quint16(7) << false;
        QTest::newRow("stamped a little earlier")
            << out << in << -5000ll << kPayload << 1u << quint16(7) << true;
        QTest::newRow("two real copies arriving within 1 ms: both count")
            << in << in << window / 2 << kPayload << 1u << quint16(7) << false;
        QTest::newRow("two real copies leaving at once: both count")
            << out << out << qint64(0) << kPayload << 1u << quint16(7) << false;
        QTest::newRow("a link that does not say the way: both count")
            << unknown << unknown << qint64(0) << kPayload << 1u << quint16(7) << false;
        QTest::newRow("other bytes")
            << out << in << qint64(0) << kPayload + "x" << 1u << quint16(7) << false;
        QTest::newRow("another address")
            << out << in << qint64(0) << kPayload << 2u << quint16(7) << false;
        QTest::newRow("another port")
            << out << in << qint64(0) << kPayload << 1u << quint16(8) << false;
    }
    void seenTwiceCountsOnce()
    {
        QFETCH(int, firstWay);
        QFETCH(int, way);
        QFETCH(qint64, afterNs);
        QFETCH(QByteArray, bytes);
        QFETCH(quint32, ip);
        QFETCH(quint16, port);
        QFETCH(bool, repeat);
        Repeats repeats;
        const qint64 first = 7'000'000'000;
        QVERIFY(
            !repeats.seen(kPayload.constData(), int(kPayload.size()), 1, 7, Way(firstWay), first));
        QCOMPARE(
            repeats.seen(bytes.constData(), int(bytes.size()), ip, port, Way(way), first + afterNs),
            repeat);
    }

    // A frame sent twice from here across a link whose both ends are this machine's: each copy
    // leaving pairs with one arriving, so both frames count, once each.
    void eachCopyPairsOnce()
    {
        Repeats repeats;
        const auto seen = [&](Way way, qint64 atNs) {
            return repeats.seen(kPayload.constData(), int(kPayload.size()), 1, 7, way, atNs);
        };
        QCOMPARE(seen(Way::Leaving, 1000), false);
        QCOMPARE(seen(Way::Leaving, 2000), false);
        QCOMPARE(seen(Way::Arriving, 3000), true);
        QCOMPARE(seen(Way::Arriving, 4000), true);
        QCOMPARE(seen(Way::Arriving, 5000), false);
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

    // How a command listens: by capture where it opens; without it on every address unless
    // another program takes unicast on the port, then on the broadcast addresses only, saying
    // once what that costs.
    void listeningChoice_data()
    {
        using ListenChoice::Capture;
        using ListenChoice::Port;
        QTest::addColumn<int>("capture");
        QTest::addColumn<QString>("interface");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("heard");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<int>("how");
        QTest::addColumn<QString>("message");
        const int timecode = int(Heard::Timecode);
        const int byCapture = int(Listening::ByCapture);
        const int onPort = int(Listening::OnPort);
        const int onBroadcast = int(Listening::OnBroadcastAddresses);
        const QString unseen = "monitor: without CAP_NET_RAW, timecode sent to this machine's own "
                               "address is not seen; grant it with: sudo setcap cap_net_raw+ep "
                               "/usr/bin/chronolume-cli";
        const QString sharing = "monitor: packet capture needs CAP_NET_RAW (grant it with: sudo "
                                "setcap cap_net_raw+ep /usr/bin/chronolume-cli); sharing UDP port "
                                "6454 instead";
        QTest::newRow("capture, the port taken") << int(Capture::Opened) << "" << int(Port::Taken)
                                                 << timecode << false << byCapture << "";
        QTest::newRow("no capability, the port free: every address")
            << int(Capture::NoPermission) << "" << int(Port::Free) << timecode << false << onPort
            << sharing;
        QTest::newRow("no capability, broadcast addresses held: every address")
            << int(Capture::NoPermission) << "" << int(Port::BroadcastOnly) << timecode << false
            << onPort << sharing;
        QTest::newRow("no capability, the port taken: broadcast addresses")
            << int(Capture::NoPermission) << "" << int(Port::Taken) << timecode << false
            << onBroadcast << unseen;
        QTest::newRow("no capability for an interface, the port taken: broadcast addresses")
            << int(Capture::NoPermission) << "eth1" << int(Port::Taken) << timecode << false
            << onBroadcast << unseen;
        QTest::newRow("nodes without capability beside a taken port")
            << int(Capture::NoPermission) << "" << int(Port::Taken) << int(Heard::PollReplies)
            << false << onBroadcast
            << "nodes: without CAP_NET_RAW, ArtPollReplies sent to this machine's own address "
               "are not seen, so only nodes that broadcast their reply are listed; grant it "
               "with: sudo setcap cap_net_raw+ep /usr/bin/chronolume-cli";
        QTest::newRow("capture failed, the port free")
            << int(Capture::Failed) << "" << int(Port::Free) << timecode << false << onPort
            << "monitor: packet capture failed (no buffer); sharing UDP port 6454 instead";
        QTest::newRow("capture failed, the port taken")
            << int(Capture::Failed) << "" << int(Port::Taken) << timecode << false << onBroadcast
            << "monitor: packet capture failed (no buffer); timecode sent to this machine's own "
               "address is not seen";
        QTest::newRow("no capture on the interface named: refused")
            << int(Capture::Failed) << "eth9" << int(Port::Free) << timecode << true << byCapture
            << "monitor: cannot capture on eth9: no buffer";
    }
    void listeningChoice()
    {
        QFETCH(int, capture);
        QFETCH(QString, interface);
        QFETCH(int, port);
        QFETCH(int, heard);
        QFETCH(bool, refused);
        QFETCH(int, how);
        QFETCH(QString, message);
        ListenChoice::Situation situation;
        situation.capture = ListenChoice::Capture(capture);
        situation.why = QStringLiteral("no buffer");
        situation.interface = interface;
        situation.port = ListenChoice::Port(port);
        situation.command = Heard(heard) == Heard::PollReplies ? QStringLiteral("nodes")
                                                               : QStringLiteral("monitor");
        situation.program = QStringLiteral("/usr/bin/chronolume-cli");
        situation.heard = Heard(heard);
        const ListenChoice::Choice choice = ListenChoice::choose(situation);
        QCOMPARE(choice.refused, refused);
        if (!refused)
            QCOMPARE(int(choice.how), how);
        QCOMPARE(choice.message, message);
    }

    // What holds port 6454 (0x1936), from the kernel's tables; this machine's networks'
    // broadcast addresses are 192.168.50.255 and 10.60.255.255.
    void portHolders_data()
    {
        using ListenChoice::Port;
        QTest::addColumn<QList<QByteArray>>("udp");
        QTest::addColumn<QList<QByteArray>>("udp6");
        QTest::addColumn<int>("port");
        QTest::newRow("nothing") << QList<QByteArray>{} << QList<QByteArray>{} << int(Port::Free);
        QTest::newRow("ports either side of 6454")
            << QList<QByteArray>{"00000000:1935", "00000000:1937"} << QList<QByteArray>{}
            << int(Port::Free);
        QTest::newRow("every address")
            << QList<QByteArray>{"00000000:1936"} << QList<QByteArray>{} << int(Port::Taken);
        QTest::newRow("this machine's own address")
            << QList<QByteArray>{"0532A8C0:1936"} << QList<QByteArray>{} << int(Port::Taken);
        QTest::newRow("a network's broadcast address")
            << QList<QByteArray>{"FF32A8C0:1936"} << QList<QByteArray>{}
            << int(Port::BroadcastOnly);
        QTest::newRow("both networks' and the limited broadcast address")
            << QList<QByteArray>{"FF32A8C0:1936", "FFFF3C0A:1936", "FFFFFFFF:1936"}
            << QList<QByteArray>{} << int(Port::BroadcastOnly);
        QTest::newRow("another network's broadcast address")
            << QList<QByteArray>{"FF33A8C0:1936"} << QList<QByteArray>{} << int(Port::Taken);
        QTest::newRow("a broadcast address, then every address")
            << QList<QByteArray>{"FF32A8C0:1936", "00000000:1936"} << QList<QByteArray>{}
            << int(Port::Taken);
        QTest::newRow("IPv6, which may take IPv4 too")
            << QList<QByteArray>{} << QList<QByteArray>{"00000000000000000000000000000000:1936"}
            << int(Port::Taken);
    }
    void portHolders()
    {
        QFETCH(QList<QByteArray>, udp);
        QFETCH(QList<QByteArray>, udp6);
        QFETCH(int, port);
        const QList<QHostAddress> broadcasts = {QHostAddress(QStringLiteral("192.168.50.255")),
                                                QHostAddress(QStringLiteral("10.60.255.255"))};
        QCOMPARE(int(ArtNetPort::holders(udpTable(udp), udpTable(udp6), 6454, broadcasts)), port);
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
