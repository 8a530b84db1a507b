// The list `nodes` prints: each node once per IP and BindIndex, Port-Addresses combined from
// their three parts, and the JSON and table lines.
#include "nodelist.h"

#include <QtTest>

using namespace NodeList;

namespace {

Node node(const char* ip, int bindIndex, const char* shortName)
{
    Node n;
    n.ip = QHostAddress(QString::fromLatin1(ip));
    n.bindIndex = bindIndex;
    n.shortName = QString::fromLatin1(shortName);
    return n;
}

QStringList listed(const Collected& collected)
{
    QStringList out;
    for (const Node& n : collected.nodes())
        out.append(
            QStringLiteral("%1/%2 %3").arg(n.ip.toString()).arg(n.bindIndex).arg(n.shortName));
    return out;
}

} // namespace

class NodeListTest : public QObject
{
    Q_OBJECT

private slots:
    void eachNodeOnce_data()
    {
        QTest::addColumn<QList<Node>>("replies");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("one reply")
            << QList<Node>{node("10.0.0.2", 0, "Tempolis")} << QStringList{"10.0.0.2/0 Tempolis"};
        QTest::newRow("the same answer twice is one node, the later reply kept")
            << QList<Node>{node("10.0.0.2", 0, "old"), node("10.0.0.3", 0, "B"),
                           node("10.0.0.2", 0, "new")}
            << QStringList{"10.0.0.2/0 new", "10.0.0.3/0 B"};
        QTest::newRow("BindIndex tells the port groups of one address apart")
            << QList<Node>{node("10.0.0.9", 1, "rack"), node("10.0.0.9", 2, "rack"),
                           node("10.0.0.9", 3, "rack"), node("10.0.0.9", 2, "rack")}
            << QStringList{"10.0.0.9/1 rack", "10.0.0.9/2 rack", "10.0.0.9/3 rack"};
        QTest::newRow("one BindIndex on two addresses is two nodes")
            << QList<Node>{node("10.0.0.9", 1, "a"), node("10.0.0.10", 1, "b")}
            << QStringList{"10.0.0.9/1 a", "10.0.0.10/1 b"};
    }
    void eachNodeOnce()
    {
        QFETCH(QList<Node>, replies);
        QFETCH(QStringList, expected);
        Collected collected;
        for (const Node& reply : replies)
            collected.add(reply);
        QCOMPARE(listed(collected), expected);
    }

    void portAddresses_data()
    {
        QTest::addColumn<int>("net");
        QTest::addColumn<int>("subNet");
        QTest::addColumn<int>("universe");
        QTest::addColumn<int>("expected");
        QTest::newRow("all zero") << 0 << 0 << 0 << 0;
        QTest::newRow("universe is the low nibble") << 0 << 0 << 5 << 5;
        QTest::newRow("Sub-Net is the next nibble") << 0 << 3 << 5 << 0x35;
        QTest::newRow("Net is the high 7 bits") << 0x12 << 3 << 5 << 0x1235;
        QTest::newRow("the highest Port-Address") << 0x7F << 0xF << 0xF << 32767;
        QTest::newRow("bits outside each field are ignored") << 0xFF << 0xF3 << 0xF5 << 0x7F35;
    }
    void portAddresses()
    {
        QFETCH(int, net);
        QFETCH(int, subNet);
        QFETCH(int, universe);
        QFETCH(int, expected);
        QCOMPARE(portAddress(quint8(net), quint8(subNet), quint8(universe)), expected);
    }

    void printedForms()
    {
        Node a = node("192.168.50.1", 2, "Quo\"te\\d");
        a.longName = QStringLiteral("Line\tbreak\x01");
        a.oem = 0x0C12;
        a.versionHi = 1;
        a.versionLo = 10;
        a.ports = 3;
        a.universesOut = {0, 1, 32767};
        a.universesIn = {};
        a.mac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0xfe};
        QCOMPARE(jsonLine(a),
                 QStringLiteral("{\"ip\":\"192.168.50.1\",\"bind_index\":2,"
                                "\"short_name\":\"Quo\\\"te\\\\d\","
                                "\"long_name\":\"Line\\tbreak\\u0001\",\"oem\":3090,"
                                "\"version\":\"1.10\",\"ports\":3,\"universes_out\":[0,1,32767],"
                                "\"universes_in\":[],\"mac\":\"00:1a:2b:3c:4d:fe\"}"));

        Node b = node("10.0.0.2", 0, "Tempolis");
        b.longName = QStringLiteral("Chronolume");
        b.universesIn = {16};
        QCOMPARE(tableLines({a, b}),
                 QStringList({
                     "IP            BIND  SHORT NAME  OEM     VERSION  PORTS  OUT        IN  "
                     "MAC                LONG NAME",
                     "192.168.50.1  2     Quo\"te\\d    0x0c12  1.10     3      0,1,32767  -   "
                     "00:1a:2b:3c:4d:fe  Line?break?",
                     "10.0.0.2      0     Tempolis    0x0000  0.0      0      -          16  "
                     "00:00:00:00:00:00  Chronolume",
                 }));
    }
};

QTEST_APPLESS_MAIN(NodeListTest)
#include "tst_nodelist.moc"
