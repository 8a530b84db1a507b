// chronolume-cli nodes as it runs, in this test's network namespace: the real Chronolume window
// (offscreen) and a stand-in node that answers with several BindIndex replies, each reply sent
// twice, are each listed once; with nobody there the answer is status 3.
#include "patience.h"
#include "sandbox.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace {

constexpr quint16 kPort = 6454;

bool portTaken()
{
    QUdpSocket probe;
    return !probe.bind(QHostAddress::AnyIPv4, kPort, QAbstractSocket::DefaultForPlatform);
}

void put(QByteArray& packet, int offset, const QByteArray& bytes)
{
    packet.replace(offset, bytes.size(), bytes);
}

// A 239-byte ArtPollReply as a node of another maker sends it, written out field by field.
QByteArray standInReply(quint8 bindIndex)
{
    QByteArray p(239, '\0');
    put(p, 0, QByteArray("Art-Net\0\x00\x21", 10));                  // ID, OpCode 0x2100 LE
    put(p, 10, QByteArray("\x7f\x00\x00\x09\x36\x19", 6));           // IP 127.0.0.9, Port 6454 LE
    put(p, 16, QByteArray("\x02\x07", 2));                           // firmware 2.7
    put(p, 18, QByteArray("\x21\x05", 2));                           // NetSwitch 0x21, SubSwitch 5
    put(p, 20, QByteArray("\x08\x10", 2));                           // OEM 0x0810
    put(p, 26, QByteArray("Rack ") + QByteArray::number(bindIndex)); // ShortName
    put(p, 44, QByteArray("Stand-in dimmer rack"));                  // LongName
    put(p, 172, QByteArray("\x00\x02", 2));                          // NumPorts 2
    // PortTypes: port 0 outputs DMX, port 1 inputs it, ports 2 and 3 do nothing.
    put(p, 174, QByteArray("\x80\x40\x00\x00", 4));
    put(p, 186, QByteArray("\x00\x0c\x00\x00", 4)); // SwIn: port 1 universe 12
    put(p, 190, QByteArray("\x03\x00\x00\x00", 4)); // SwOut: port 0 universe 3 (+ bind index)
    p[190] = char(3 + bindIndex);
    put(p, 201, QByteArray("\x02\xab\xcd\x00\x00", 5)); // MAC
    p[206] = char(bindIndex);
    p[211] = char(bindIndex); // BindIndex
    return p;
}

// Answers every ArtPoll with the replies of BindIndex 1, 2 and 3, each twice.
class StandInNode : public QObject
{
public:
    bool start()
    {
        if (!socket.bind(QHostAddress::AnyIPv4, kPort,
                         QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint))
            return false;
        connect(&socket, &QUdpSocket::readyRead, this, [this] {
            while (socket.hasPendingDatagrams()) {
                const QNetworkDatagram poll = socket.receiveDatagram();
                if (!poll.data().startsWith(QByteArray("Art-Net\0\x00\x20", 10)))
                    continue;
                ++polls;
                for (int round = 0; round < 2; ++round)
                    for (quint8 bind = 1; bind <= 3; ++bind)
                        socket.writeDatagram(standInReply(bind), poll.senderAddress(), kPort);
            }
        });
        return true;
    }
    QUdpSocket socket;
    int polls = 0;
};

struct Run
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the command while this test's event loop keeps serving the stand-in node.
bool runNodes(const QStringList& arguments, Run* run)
{
    QProcess process;
    process.setProgram(QStringLiteral(CHRONOLUME_CLI));
    process.setArguments(QStringList(QStringLiteral("nodes")) + arguments);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start();
    // It collects answers for its --wait, three seconds unless told.
    const int wait = int(arguments.indexOf(QStringLiteral("--wait")));
    const int waitMs = wait >= 0 ? arguments.value(wait + 1).toInt() : 3000;
    if (!finished.wait(Patience::ms(waitMs)))
        return false;
    run->status = process.exitCode();
    run->out = process.readAllStandardOutput();
    run->err = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit;
}

} // namespace

class CliNodesTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    void listsEachNodeOnce()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcess window;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        window.setProcessEnvironment(env);
        window.setProgram(QStringLiteral(CHRONOLUME_WINDOW));
        window.start();
        QVERIFY(window.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(portTaken(), Patience::ms());
        StandInNode standIn;
        QVERIFY(standIn.start());

        Run run;
        QVERIFY(runNodes(
            {QStringLiteral("--json"), QStringLiteral("--wait"), QStringLiteral("1500")}, &run));
        window.terminate();
        QVERIFY(window.waitForFinished(Patience::ms()));

        QCOMPARE(run.status, 0);
        QCOMPARE(standIn.polls, 1);
        // Captured beside the window: nothing to warn of.
        QCOMPARE(run.err, QByteArray());
        QStringList lines = QString::fromUtf8(run.out).split(QLatin1Char('\n'));
        QCOMPARE(lines.takeLast(), QString());
        // The window and the stand-in answer in no fixed order; each BindIndex of the stand-in
        // comes in the order sent.
        lines.sort();
        QCOMPARE(lines.size(), 4);
        QJsonParseError error;
        const QJsonObject window0 = QJsonDocument::fromJson(lines.at(0).toUtf8(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(window0.value("ip").toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(window0.value("bind_index").toInt(), 0);
        QCOMPARE(window0.value("short_name").toString(), QStringLiteral("Tempolis"));
        QVERIFY(window0.value("long_name").toString().startsWith("Chronolume v1.0.2 by "));
        QCOMPARE(window0.value("oem").toInt(), 0x0C12);
        QCOMPARE(window0.value("version").toString(), QStringLiteral("1.0"));
        QCOMPARE(window0.value("ports").toInt(), 0);
        QCOMPARE(window0.value("universes_out").toArray(), QJsonArray());
        QCOMPARE(window0.value("universes_in").toArray(), QJsonArray());
        QCOMPARE(window0.value("mac").toString(), QStringLiteral("00:00:00:00:00:00"));
        QCOMPARE(window0.size(), 10);

        // Net 0x21 and Sub-Net 5 make the high bits of every universe: 0x2150 + the switch.
        for (int bind = 1; bind <= 3; ++bind) {
            QCOMPARE(lines.at(bind),
                     QStringLiteral("{\"ip\":\"127.0.0.9\",\"bind_index\":%1,"
                                    "\"short_name\":\"Rack %1\","
                                    "\"long_name\":\"Stand-in dimmer rack\",\"oem\":2064,"
                                    "\"version\":\"2.7\",\"ports\":2,\"universes_out\":[%2],"
                                    "\"universes_in\":[8540],\"mac\":\"02:ab:cd:00:00:0%1\"}")
                         .arg(bind)
                         .arg(0x2150 + 3 + bind));
        }
    }

    void tableOnAPipe()
    {
        StandInNode standIn;
        QVERIFY(standIn.start());
        Run run;
        QVERIFY(runNodes({QStringLiteral("--wait"), QStringLiteral("800")}, &run));
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out,
                 QByteArray("IP         BIND  SHORT NAME  OEM     VERSION  PORTS  OUT   IN    "
                            "MAC                LONG NAME\n"
                            "127.0.0.9  1     Rack 1      0x0810  2.7      2      8532  8540  "
                            "02:ab:cd:00:00:01  Stand-in dimmer rack\n"
                            "127.0.0.9  2     Rack 2      0x0810  2.7      2      8533  8540  "
                            "02:ab:cd:00:00:02  Stand-in dimmer rack\n"
                            "127.0.0.9  3     Rack 3      0x0810  2.7      2      8534  8540  "
                            "02:ab:cd:00:00:03  Stand-in dimmer rack\n"));
    }

    void nobodyAnswers()
    {
        Run run;
        QVERIFY(runNodes({QStringLiteral("--wait"), QStringLiteral("300")}, &run));
        QCOMPARE(run.status, 3);
        QCOMPARE(run.out, QByteArray());
        QCOMPARE(run.err, QByteArray("chronolume-cli: nodes: no Art-Net node answered within "
                                     "300 ms\n"));
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("--wait not a number")
            << QStringList{"--wait", "long"}
            << QByteArray("nodes: --wait needs a whole number from 1 to 3600000, not \"long\"\n");
        QTest::newRow("--wait zero")
            << QStringList{"--wait=0"}
            << QByteArray("nodes: --wait needs a whole number from 1 to 3600000, not \"0\"\n");
        QTest::newRow("--wait in seconds")
            << QStringList{"--wait", "1.5"}
            << QByteArray("nodes: --wait needs a whole number from 1 to 3600000, not \"1.5\"\n");
        QTest::newRow("an unknown option")
            << QStringList{"--for", "3"} << QByteArray("nodes: Unknown option 'for'.\n");
        QTest::newRow("a stray argument")
            << QStringList{"all"} << QByteArray("nodes: unexpected argument \"all\"\n");
    }
    void badInput()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, error);
        Run run;
        QVERIFY(runNodes(arguments, &run));
        QCOMPARE(run.status, 2);
        QCOMPARE(run.err, "chronolume-cli: " + error);
        QCOMPARE(run.out, QByteArray());
    }
};

QTEST_GUILESS_MAIN(CliNodesTest)
#include "tst_clinodes.moc"
