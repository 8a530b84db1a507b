// The list `nodes` prints: each node once per IP and BindIndex, and the JSON and table lines.
#include "nodes/nodelist.h"
#include "nodes/nodereport.h"

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

    // What a reply says, as listed; the reply's own IP names the node, the sender only when
    // the reply leaves its IP 0.0.0.0. Older nodes end their replies after the MAC.
    void readsReplies_data()
    {
        QByteArray reply(239, '\0');
        reply.replace(0, 10, QByteArray("Art-Net\0\x00\x21", 10));        // ID, OpCode 0x2100 LE
        reply.replace(10, 4, QByteArray("\x0a\x00\x00\x05", 4));          // IP 10.0.0.5
        reply.replace(16, 6, QByteArray("\x03\x01\x01\x02\x7f\xf0", 6));  // 3.1, Net 1, Sub 2, OEM
        reply.replace(26, 4, QByteArray("Dim1"));                         // ShortName
        reply.replace(44, 5, QByteArray("Dim 1"));                        // LongName
        reply.replace(172, 2, QByteArray("\x00\x03", 2));                 // NumPorts 3
        reply.replace(174, 4, QByteArray("\xc0\x80\x40\x80", 4));         // PortTypes
        reply.replace(186, 4, QByteArray("\x07\x08\x09\x0a", 4));         // SwIn
        reply.replace(190, 4, QByteArray("\x01\x02\x03\x04", 4));         // SwOut
        reply.replace(201, 6, QByteArray("\xaa\xbb\xcc\xdd\xee\xff", 6)); // MAC
        reply[211] = 4;                                                   // BindIndex

        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("listed"); // empty: not read
        const QString line = QStringLiteral(
            "{\"ip\":\"%1\",\"bind_index\":%2,\"short_name\":\"Dim1\",\"long_name\":\"Dim 1\","
            "\"oem\":32752,\"version\":\"3.1\",\"ports\":3,\"universes_out\":[289,290],"
            "\"universes_in\":[295,297],\"mac\":\"aa:bb:cc:dd:ee:ff\"}");
        QTest::newRow("a full reply: ports beyond NumPorts are not listed")
            << reply << line.arg("10.0.0.5").arg(4);
        QTest::newRow("no IP in the reply: the sender's")
            << QByteArray(reply).replace(10, 4, QByteArray(4, '\0')) << line.arg("10.9.9.9").arg(4);
        QTest::newRow("an older reply ends after the MAC: BindIndex 0")
            << reply.left(207) << line.arg("10.0.0.5").arg(0);
        QTest::newRow("a reply that ends inside the MAC is not read")
            << reply.left(206) << QString();
        QTest::newRow("an ArtPoll is not a reply")
            << QByteArray(reply).replace(9, 1, QByteArray("\x20")) << QString();
    }
    void readsReplies()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, listed);
        Node n;
        const bool read = fromReply(datagram, QHostAddress(QStringLiteral("10.9.9.9")), &n);
        QCOMPARE(read, !listed.isEmpty());
        if (read)
            QCOMPARE(jsonLine(n), listed);
    }

    void printedForms()
    {
        Node a = node("192.168.50.1", 2, "Quo\"te\\d");
        // A tab, a C0 control and the C1 control CSI (byte 0x9B), which some terminals act on.
        a.longName = QStringLiteral("Line\tbreak\x01\u009b2J");
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
                                "\"long_name\":\"Line\\tbreak\\u0001\\u009b2J\",\"oem\":3090,"
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
                     "00:1a:2b:3c:4d:fe  Line\\x09break\\x01\\x9b2J",
                     "10.0.0.2      0     Tempolis    0x0000  0.0      0      -          16  "
                     "00:00:00:00:00:00  Chronolume",
                 }));
    }

    // On a terminal the table leaves out whole columns, least important first, until every line
    // is at most width - 1 characters; narrower than the address, the lines are cut there.
    void fitsTheTerminal_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<QStringList>("lines");
        const QStringList all = {
            "IP            BIND  SHORT NAME       OEM     VERSION  PORTS  OUT  IN  "
            "MAC                LONG NAME",
            "192.168.50.5  200   Chronolume send  0x00ff  0.0      0      -    -   "
            "00:00:00:00:00:00  ArtTimeCode stream 0 at 25 fps to 192.168.50.5",
        };
        const QStringList names = {
            "IP            SHORT NAME       LONG NAME",
            "192.168.50.5  Chronolume send  ArtTimeCode stream 0 at 25 fps to 192.168.50.5",
        };
        QTest::newRow("a pipe: every column") << 0 << all;
        // The longest line is 135 characters.
        QTest::newRow("136 columns: every column") << 136 << all;
        QTest::newRow("135 columns: the OEM code goes first")
            << 135
            << QStringList{"IP            BIND  SHORT NAME       VERSION  PORTS  OUT  IN  "
                           "MAC                LONG NAME",
                           "192.168.50.5  200   Chronolume send  0.0      0      -    -   "
                           "00:00:00:00:00:00  ArtTimeCode stream 0 at 25 fps to 192.168.50.5"};
        QTest::newRow("80 columns: the address and the names") << 80 << names;
        QTest::newRow("78 columns: the names just fit") << 78 << names;
        QTest::newRow("77 columns: the long name goes")
            << 77 << QStringList{"IP            SHORT NAME", "192.168.50.5  Chronolume send"};
        QTest::newRow("10 columns: the address, cut") << 10 << QStringList{"IP", "192.168.5"};
    }
    void fitsTheTerminal()
    {
        QFETCH(int, width);
        QFETCH(QStringList, lines);
        Node n = node("192.168.50.5", 200, "Chronolume send");
        n.longName = QStringLiteral("ArtTimeCode stream 0 at 25 fps to 192.168.50.5");
        n.oem = 0x00FF;
        QCOMPARE(tableLines({n}, width), lines);
    }
};

QTEST_GUILESS_MAIN(NodeListTest)
#include "tst_nodelist.moc"
