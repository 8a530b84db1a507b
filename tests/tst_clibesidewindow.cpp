// monitor, nodes, the web clock and the generators on the machine where the real window runs: a
// desk on another host sends unicast timecode to this machine, and the window keeps it, live, the
// whole time the tools run beside it, run by root or by an ordinary user who cannot capture; the
// tools still see the desk, and `nodes` lists the generators.
#include "patience.h"
#include "sandbox.h"
#include "settingsstore.h"
#include "windowprobes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>
#include <QtTest>

using namespace TestSupport;

namespace {

const QString kHere = QStringLiteral("192.168.50.5"); // this machine on the first veth network
const QString kDesk = QStringLiteral("192.168.50.1"); // the peer host
const QString kHereToo = QStringLiteral("10.60.0.2"); // this machine on the second one

// How long ago the window heard the sender at this address, in ms; -1 while it never did.
qint64 silentForMs(const MainWindow& window, const QString& address)
{
    const artnet* node = MainWindowProbe::node(window);
    for (const SenderEntry& sender : node->senders().all()) {
        if (sender.address.toString() == address)
            return (node->timecodeClockNow() - sender.arrivalNs) / 1'000'000;
    }
    return -1;
}

// Runs the event loop, so that the window goes on receiving, until the process has ended;
// returns the longest the window went without any of the senders meanwhile.
qint64 longestSilenceWhile(QProcess& process, const MainWindow& window,
                           const QStringList& addresses)
{
    qint64 longest = 0;
    while (process.state() != QProcess::NotRunning) {
        QTest::qWait(20);
        for (const QString& address : addresses) {
            const qint64 silent = silentForMs(window, address);
            longest = silent < 0 ? std::numeric_limits<qint64>::max() : qMax(longest, silent);
        }
    }
    return longest;
}

void startCli(QProcess& process, const QStringList& arguments)
{
    process.start(QStringLiteral(CHRONOLUME_CLI), arguments);
}

QStringList jsonField(const QByteArray& out, const char* key)
{
    QStringList values;
    for (const QByteArray& line : out.split('\n')) {
        if (!line.isEmpty())
            values.append(QJsonDocument::fromJson(line).object().value(key).toVariant().toString());
    }
    return values;
}

} // namespace

class CliBesideWindowTest : public QObject
{
    Q_OBJECT

    SettingsStore settings;

private slots:
    void initTestCase()
    {
        QVERIFY(settings.isValid());
        // QSKIP's expansion written out: clang's pedantic warnings reject its empty variadic part.
        if (qEnvironmentVariableIsEmpty("CHRONOLUME_PEER_NETNS")) {
            QTest::qSkip("needs the veth networks of netns-run --veth", __FILE__, __LINE__);
            return;
        }
    }

    // The desk sends to this machine's own address; monitor and then nodes run for seconds
    // beside the window, which never misses the desk for longer than a few frames.
    void toolsTakeNothingFromTheWindow()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QProcess desk;
        desk.start("nsenter",
                   {"--net=" + qEnvironmentVariable("CHRONOLUME_PEER_NETNS"), CHRONOLUME_CLI,
                    "send", "--to", kHere, "--duration", "15", "--quiet"});
        QTRY_VERIFY_WITH_TIMEOUT(silentForMs(window, kDesk) >= 0, Patience::ms());

        QProcess monitor;
        startCli(monitor, {"monitor", "--for", "3", "--json"});
        const qint64 duringMonitor = longestSilenceWhile(monitor, window, {kDesk});
        QVERIFY2(duringMonitor < 200, qPrintable(QString::number(duringMonitor)));
        QCOMPARE(monitor.readAllStandardError(), QByteArray());
        QCOMPARE(monitor.exitCode(), 0);
        const QList<QByteArray> lines = monitor.readAllStandardOutput().trimmed().split('\n');
        const QByteArray final = lines.last();
        const QJsonObject desk0 = QJsonDocument::fromJson(final).object();
        QCOMPARE(desk0.value("final").toBool(), true);
        QCOMPARE(desk0.value("sender").toString(), kDesk);
        QVERIFY2(desk0.value("frames").toInt() >= 70, final);
        QCOMPARE(desk0.value("missing").toInt() + desk0.value("jumps").toInt(), 0);

        QProcess nodes;
        startCli(nodes, {"nodes", "--json", "--wait", "1500"});
        const qint64 duringNodes = longestSilenceWhile(nodes, window, {kDesk});
        QVERIFY2(duringNodes < 200, qPrintable(QString::number(duringNodes)));
        QCOMPARE(nodes.exitCode(), 0);
        const QByteArray listed = nodes.readAllStandardOutput();
        QStringList names = jsonField(listed, "short_name");
        names.sort();
        // The desk's generator, which answers from its network's broadcast address, and the
        // window on each of its two networks.
        QCOMPARE(names, (QStringList{"Chronolume send", "Tempolis", "Tempolis"}));
        QVERIFY2(jsonField(listed, "ip").contains(kDesk), listed);

        // The web clock for 3 s: its page shows the senders the window shows.
        QProcess web;
        startCli(web, {"web", "--port", "18090", "--bind", "127.0.0.1"});
        QVERIFY(web.waitForReadyRead(Patience::ms()));
        QWebSocket page;
        QStringList heard;
        connect(&page, &QWebSocket::textMessageReceived, this, [&heard](const QString& text) {
            for (const QJsonValue& state : QJsonDocument::fromJson(text.toUtf8()).array())
                heard.append(state.toObject().value("address").toString());
        });
        page.open(QUrl(QStringLiteral("ws://127.0.0.1:18090/ws")));
        QTimer::singleShot(3000, &web, &QProcess::terminate);
        const qint64 duringWeb = longestSilenceWhile(web, window, {kDesk});
        QVERIFY2(duringWeb < 200, qPrintable(QString::number(duringWeb)));
        QVERIFY2(heard.size() >= 40, qPrintable(QString::number(heard.size())));
        QCOMPARE(QSet<QString>(heard.begin(), heard.end()), QSet<QString>{kDesk});
        TimecodeRecord record;
        QHostAddress sender;
        QVERIFY(MainWindowProbe::node(window)->getTimecode(&record, &sender, 0));
        QVERIFY(!MainWindowProbe::node(window)->getTimecode(&record, &sender, 1));
        desk.terminate();
        QVERIFY(desk.waitForFinished(Patience::ms()));
    }

    // The desk's unicast to this machine and a second desk's broadcast, with monitor run by an
    // ordinary user without CAP_NET_RAW: the port is the window's, so monitor listens on the
    // broadcast addresses only and says once what it cannot see, and the window keeps the desk
    // all along.
    void ordinaryUsersMonitorTakesNothingFromTheWindow()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString peer = "--net=" + qEnvironmentVariable("CHRONOLUME_PEER_NETNS");
        QProcess desk;
        desk.start("nsenter",
                   {peer, CHRONOLUME_CLI, "send", "--to", kHere, "--duration", "15", "--quiet"});
        // Heard first, the desk's unicast is the window's first entry at its address.
        QTRY_VERIFY_WITH_TIMEOUT(silentForMs(window, kDesk) >= 0, Patience::ms());
        QProcess broadcaster;
        broadcaster.start("nsenter", {peer, CHRONOLUME_CLI, "send", "--to", "192.168.50.255",
                                      "--stream", "1", "--duration", "15", "--quiet"});
        QTRY_COMPARE_WITH_TIMEOUT(MainWindowProbe::node(window)->senders().size(), 2, Patience::ms());

        // Nobody's user, with no capability at all, as a show technician logged in as
        // themselves.
        QProcess monitor;
        monitor.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                  "--inh-caps=-all", "--bounding-set=-all", "--", CHRONOLUME_CLI,
                                  "monitor", "--for", "3", "--json"});
        const qint64 duringMonitor = longestSilenceWhile(monitor, window, {kDesk});
        QVERIFY2(duringMonitor < 200, qPrintable(QString::number(duringMonitor)));
        QCOMPARE(monitor.readAllStandardError(),
                 QByteArray("chronolume-cli: monitor: without CAP_NET_RAW, timecode sent to this "
                            "machine's own address is not seen; grant it with: sudo setcap "
                            "cap_net_raw+ep " CHRONOLUME_CLI "\n"));
        QCOMPARE(monitor.exitCode(), 0);
        // It heard the broadcast stream, and it alone.
        QStringList finals;
        for (const QByteArray& line : monitor.readAllStandardOutput().trimmed().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (!o.value("final").toBool())
                continue;
            finals.append(QStringLiteral("%1 %2")
                              .arg(o.value("sender").toString())
                              .arg(o.value("stream").toInt()));
            QVERIFY2(o.value("frames").toInt() >= 70, line);
        }
        QCOMPARE(finals, QStringList{kDesk + " 1"});
        desk.terminate();
        broadcaster.terminate();
        QVERIFY(desk.waitForFinished(Patience::ms()));
        QVERIFY(broadcaster.waitForFinished(Patience::ms()));
    }

    // send and ltc-bridge on the window's machine, each to one of its own addresses: the window
    // keeps both senders live all along while `nodes` finds both by their names.
    void generatorsAreListedAndTheWindowKeepsTheirTimecode()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString wav = dir.filePath(QStringLiteral("ltc.wav"));
        QProcess encode;
        startCli(encode, {"ltc-encode", "--duration", "6", "--output", wav, "--quiet"});
        QVERIFY(encode.waitForFinished(Patience::seconds(6)));
        QCOMPARE(encode.exitCode(), 0);

        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QProcess send;
        startCli(send, {"send", "--to", kHere, "--duration", "6", "--quiet"});
        QTRY_VERIFY_WITH_TIMEOUT(silentForMs(window, kHere) >= 0, Patience::ms());
        QProcess bridge;
        startCli(bridge, {"ltc-bridge", "--input", wav, "--to", kHereToo, "--quiet"});
        QTRY_VERIFY_WITH_TIMEOUT(silentForMs(window, kHereToo) >= 0, Patience::ms());

        QProcess nodes;
        startCli(nodes, {"nodes", "--json", "--wait", "1500"});
        const qint64 during = longestSilenceWhile(nodes, window, {kHere, kHereToo});
        QVERIFY2(during < 200, qPrintable(QString::number(during)));
        QCOMPARE(nodes.exitCode(), 0);
        const QByteArray listed = nodes.readAllStandardOutput();
        QStringList names = jsonField(listed, "short_name");
        names.sort();
        // Each at the address it sends to, apart from the window there by its BindIndex.
        QCOMPARE(names, (QStringList{"Chronolume LTC", "Chronolume send", "Tempolis", "Tempolis"}));
        QVERIFY2(
            listed.contains("\"long_name\":\"ArtTimeCode stream 0 at 25 fps to 192.168.50.5\""),
            listed);
        QVERIFY2(
            listed.contains("\"long_name\":\"ArtTimeCode stream 0 from LTC audio to 10.60.0.2\""),
            listed);
        send.terminate();
        bridge.terminate();
        QVERIFY(send.waitForFinished(Patience::ms()));
        QVERIFY(bridge.waitForFinished(Patience::ms()));
    }
};

QTEST_MAIN(CliBesideWindowTest)
#include "tst_clibesidewindow.moc"
