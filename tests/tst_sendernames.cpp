// Which sender is which: the rules that name a sender and write its address line, the real
// window asking a sender on another host for its name, and the window's output into a pipe
// nobody reads.
#include "capture.h"
#include "diagnostics.h"
#include "packets.h"
#include "peernet.h"
#include "pollreply.h"
#include "sandbox.h"
#include "sendernames.h"
#include "settingsstore.h"
#include "timecode.h"
#include "traffic.h"
#include "windowoutput.h"
#include "windowprobes.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace TestSupport;

namespace {

const QHostAddress kSender(QStringLiteral("10.0.0.5"));

QByteArray reply(const QString& shortName, quint32 ip, const QString& longName = "desk",
                 quint8 oemLo = 0xFF)
{
    ArtNetPacket::PollReply fields;
    fields.ip = ip;
    fields.shortName = shortName;
    fields.longName = longName;
    fields.oemLo = oemLo;
    return ArtNetPacket::pollReplyPacket(fields);
}

} // namespace

Q_DECLARE_METATYPE(QList<SenderNames::Wanting>)

class SenderNamesTest : public QObject
{
    Q_OBJECT

    SettingsStore settings;

private slots:
    void initTestCase() { QVERIFY(settings.isValid()); }

    void asksForName_data()
    {
        QTest::addColumn<int>("heard");
        QTest::addColumn<bool>("asks");
        using K = Timecode::HeardKind;
        QTest::newRow("first heard") << int(K::First) << true;
        QTest::newRow("back from silence") << int(K::Resumed) << true;
        QTest::newRow("the next frame") << int(K::Next) << false;
        QTest::newRow("a copy") << int(K::Duplicate) << false;
        QTest::newRow("a second source") << int(K::Second) << false;
    }

    void asksForName()
    {
        QFETCH(int, heard);
        QFETCH(bool, asks);
        QCOMPARE(SenderNames::asksForName(Timecode::HeardKind(heard)), asks);
    }

    void addressLine_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("stream");
        QTest::addColumn<bool>("two");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("told"); // on standard output when two sources are found
        QTest::newRow("stream 0 reads as the address alone") << "" << 0 << false << "10.0.0.5"
                                                             << "10.0.0.5: two sources";
        QTest::newRow("stream 1") << "" << 1 << false << "10.0.0.5 · 1"
                                  << "10.0.0.5 stream 1: two sources";
        QTest::newRow("stream 255") << "" << 255 << false << "10.0.0.5 · 255"
                                    << "10.0.0.5 stream 255: two sources";
        QTest::newRow("a name in front") << "FOH desk" << 0 << false << "FOH desk · 10.0.0.5"
                                         << "10.0.0.5: two sources";
        QTest::newRow("a name and a stream")
            << "FOH desk" << 2 << false << "FOH desk · 10.0.0.5 · 2"
            << "10.0.0.5 stream 2: two sources";
        QTest::newRow("two sources after the address")
            << "" << 0 << true << "10.0.0.5 · two sources"
            << "10.0.0.5: two sources";
        QTest::newRow("two sources after the name, the address and the stream")
            << "FOH desk" << 2 << true << "FOH desk · 10.0.0.5 · 2 · two sources"
            << "10.0.0.5 stream 2: two sources";
    }

    void addressLine()
    {
        QFETCH(QString, name);
        QFETCH(int, stream);
        QFETCH(bool, two);
        QFETCH(QString, line);
        QFETCH(QString, told);
        QCOMPARE(SenderNames::addressLine(name, kSender, quint8(stream), two), line);
        QCOMPARE(SenderNames::twoSourcesLine(kSender, quint8(stream)), told);
    }

    void nextPoll_data()
    {
        QTest::addColumn<QList<SenderNames::Wanting>>("wanting");
        QTest::addColumn<qint64>("lastPoll"); // ms, -1: none yet
        QTest::addColumn<qint64>("now");      // ms
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QStringList>("done");
        using Kind = SenderNames::Poll::Kind;
        const auto at = [](const char* address, qint64 polledMs = -1) {
            return SenderNames::Wanting{QHostAddress(QLatin1String(address)).toIPv4Address(), 0,
                                        polledMs < 0 ? -1 : polledMs * 1'000'000};
        };
        const int none = int(Kind::None);
        const int unicast = int(Kind::Unicast);
        const int broadcast = int(Kind::Broadcast);
        QTest::newRow("the first: polled alone at once")
            << QList{at("10.0.0.5")} << qint64(-1) << qint64(0) << unicast << "10.0.0.5"
            << QStringList();
        QTest::newRow("a poll 999 ms ago: not yet")
            << QList{at("10.0.0.5")} << qint64(1) << qint64(1000) << none << "0.0.0.0"
            << QStringList();
        QTest::newRow("a poll exactly a second ago: now")
            << QList{at("10.0.0.5")} << qint64(0) << qint64(1000) << unicast << "10.0.0.5"
            << QStringList();
        QTest::newRow("polled alone 499 ms ago: its answer is waited for")
            << QList{at("10.0.0.5", 1501)} << qint64(-1) << qint64(2000) << none << "0.0.0.0"
            << QStringList();
        QTest::newRow("no answer in 500 ms: its network is asked, once")
            << QList{at("10.0.0.5", 1500)} << qint64(1500) << qint64(2500) << broadcast
            << "10.0.0.255" << QStringList{"10.0.0.5"};
        QTest::newRow("two new on one network: one broadcast for both")
            << QList{at("10.0.0.5"), at("10.0.0.6")} << qint64(-1) << qint64(0) << broadcast
            << "10.0.0.255" << QStringList{"10.0.0.5", "10.0.0.6"};
        QTest::newRow("the broadcast ends the ask of one still waited for too")
            << QList{at("10.0.0.5", 0), at("10.0.0.6", 900)} << qint64(900) << qint64(1900)
            << broadcast << "10.0.0.255" << QStringList{"10.0.0.5", "10.0.0.6"};
        QTest::newRow("two new on two networks: the first asked is polled alone")
            << QList{at("10.60.0.1"), at("10.0.0.5")} << qint64(-1) << qint64(0) << unicast
            << "10.60.0.1" << QStringList();
        QTest::newRow("on no local network, no answer: given up, nothing sent")
            << QList{at("172.16.0.9", 0)} << qint64(0) << qint64(500) << none << "0.0.0.0"
            << QStringList{"172.16.0.9"};
        QTest::newRow("given up, and the next one polled")
            << QList{at("172.16.0.9", 0), at("10.0.0.5")} << qint64(0) << qint64(1000) << unicast
            << "10.0.0.5" << QStringList{"172.16.0.9"};
    }

    // Whom the window asks for names, and when: never more than one ArtPoll a second.
    void nextPoll()
    {
        QFETCH(QList<SenderNames::Wanting>, wanting);
        QFETCH(qint64, lastPoll);
        QFETCH(qint64, now);
        QFETCH(int, kind);
        QFETCH(QString, to);
        QFETCH(QStringList, done);
        // 10.0.0.0/24 and 10.60.0.0/16, as two adapters give them.
        const QList<SenderNames::Network> networks{{0x0A000002, 0xFFFFFF00, 0x0A0000FF},
                                                   {0x0A3C0002, 0xFFFF0000, 0x0A3CFFFF}};
        const SenderNames::Poll poll = SenderNames::nextPoll(
            wanting, networks, lastPoll < 0 ? -1 : lastPoll * 1'000'000, now * 1'000'000);
        QStringList finished;
        for (const quint32 address : poll.done)
            finished << QHostAddress(address).toString();
        QCOMPARE(int(poll.kind), kind);
        QCOMPARE(QHostAddress(poll.to).toString(), to);
        QCOMPARE(finished, done);
    }

    // The node list, the JSON lines and the window show a name the same way.
    void printableName_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "FOH desk"
                               << "FOH desk";
        QTest::newRow("NUL and US, C0's first and last")
            << QString(QChar(0)) + QChar(0x1f) << "\\x00\\x1f";
        QTest::newRow("space, the first printable") << " "
                                                    << " ";
        QTest::newRow("tilde and DEL") << "~\x7f"
                                       << "~\\x7f";
        QTest::newRow("C1's first and last, then NBSP")
            << QString(QChar(0x80)) + QChar(0x9f) + QChar(0xa0)
            << "\\x80\\x9f" + QString(QChar(0xa0));
    }

    void printableName()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(ArtNetPoll::printableName(text), shown);
    }

    // A sender on another host that, like Chronolume's generators, answers no poll sent to it
    // alone: one unicast ArtPoll when it is first heard and none while it goes on sending; no
    // answer, so its network is asked once, by a directed broadcast a second after the first
    // poll; its answer, which says its stream, names it on screen within 3 s of its first frame,
    // and ends the asking. Back from silence, it is asked alone again.
    void windowAsksOnceAndShowsTheName()
    {
        REQUIRE_PRIVATE_NETWORK();
        PeerSocket peer;
        QVERIFY2(peer.error.isEmpty(), qPrintable(peer.error));
        OutputCapture quiet;
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QHostAddress node = kVeth0.local;
        const QHostAddress host = kVeth0.peer;
        const auto sendTimecode = [&](quint8 frames) {
            TimecodeRecord record{frames, 1, 2, 3, Timecode::kEbu};
            QByteArray datagram(ArtNetPacket::kTimeCodeSize, '\0');
            ArtNetPacket::writeTimeCode(reinterpret_cast<quint8*>(datagram.data()), record);
            return peer.socket.writeDatagram(datagram, node, 6454) == datagram.size();
        };
        const auto polls = [](const QList<QNetworkDatagram>& datagrams) {
            QStringList seen;
            for (const QNetworkDatagram& d : datagrams) {
                if (d.data() == ArtNetPacket::pollPacket())
                    seen << d.destinationAddress().toString();
            }
            return seen;
        };

        QElapsedTimer sinceFirstFrame;
        sinceFirstFrame.start();
        QVERIFY(sendTimecode(0));
        QCOMPARE(polls(peer.receive(1)), QStringList{host.toString()});
        const qint64 firstPollMs = sinceFirstFrame.elapsed();
        for (quint8 frame = 1; frame < 10; ++frame) {
            QVERIFY(sendTimecode(frame));
            QTest::qWait(20);
        }
        QCOMPARE(polls(peer.receive(0, 100)), QStringList());

        QCOMPARE(polls(peer.receive(1, 0)), QStringList{kVeth0.broadcast.toString()});
        const qint64 broadcastMs = sinceFirstFrame.elapsed();
        const QByteArray answer = reply(QStringLiteral("FOH TC"), host.toIPv4Address(),
                                        QStringLiteral("ArtTimeCode stream 0 at 25 fps"));
        QCOMPARE(peer.socket.writeDatagram(answer, node, 6454), qint64(answer.size()));
        QTRY_COMPARE_WITH_TIMEOUT(MainWindowProbe::sourceLabel(window)->text(),
                                  QStringLiteral("FOH TC · 192.168.50.1"), 5000);
        const qint64 namedMs = sinceFirstFrame.elapsed();
        // Named: nobody is asked any more, though the sender goes on.
        for (quint8 frame = 10; frame < 20; ++frame) {
            QVERIFY(sendTimecode(frame));
            QTest::qWait(100);
        }
        QCOMPARE(polls(peer.receive(0, 200)), QStringList());

        // Back after a silence: a datagram read elsewhere, with its arrival past the limit.
        QByteArray late(ArtNetPacket::kTimeCodeSize, '\0');
        ArtNetPacket::writeTimeCode(reinterpret_cast<quint8*>(late.data()),
                                    TimecodeRecord{11, 1, 2, 3, Timecode::kEbu});
        MainWindowProbe::node(window)->takeDatagram(late.constData(), int(late.size()), host,
                                                    artNetNowNs() + Timecode::kSilentAfterNs +
                                                        1'000'000);
        QCOMPARE(polls(peer.receive(1)), QStringList{host.toString()});

        // The broadcast a second after the first poll, as the pace allows, and not before.
        QVERIFY2(broadcastMs - firstPollMs >= 900 && namedMs <= 3000,
                 qPrintable(QStringLiteral("first poll at %1 ms, broadcast at %2, named at %3")
                                .arg(firstPollMs)
                                .arg(broadcastMs)
                                .arg(namedMs)));
    }

    // Standard output into a pipe whose reader has gone: the write fails instead of ending the
    // program (which ignores SIGPIPE from its start), and the line counts as dropped.
    void closedOutputCountsItsLineAsDropped()
    {
        std::signal(SIGPIPE, SIG_IGN);
        QVERIFY(ArtNetOutput::flush());
        std::fflush(stdout);
        int ends[2];
        QCOMPARE(pipe(ends), 0);
        close(ends[0]);
        const int savedStdout = dup(STDOUT_FILENO);
        dup2(ends[1], STDOUT_FILENO);
        close(ends[1]);
        const quint64 droppedBefore = ArtNetOutput::droppedLines();
        ArtNetOutput::line(QStringLiteral("for nobody"));
        const bool flushed = ArtNetOutput::flush();
        dup2(savedStdout, STDOUT_FILENO);
        close(savedStdout);
        QVERIFY(flushed);
        QCOMPARE(ArtNetOutput::droppedLines(), droppedBefore + 1);
    }

    // Standard output into a pipe nobody reads: the ArtPollReply lines fill it, and the window
    // still draws the next timecode.
    void pipeNobodyReadsHoldsNothingUp()
    {
        REQUIRE_PRIVATE_NETWORK();
        std::signal(SIGPIPE, SIG_IGN);
        WindowOutput::routeMessages();
        ArtNetOutput::flush();
        std::fflush(stdout);
        int ends[2];
        QCOMPARE(pipe(ends), 0);
        const int savedStdout = dup(STDOUT_FILENO);
        const int savedStderr = dup(STDERR_FILENO);
        dup2(ends[1], STDOUT_FILENO);
        dup2(ends[1], STDERR_FILENO);
        const quint64 droppedBefore = ArtNetOutput::droppedLines();
        // Should a write hold the window up after all, this reads the pipe after 20 s, so that
        // the test ends and fails instead of hanging.
        std::atomic<bool> done{false};
        std::atomic<bool> rescued{false};
        std::thread watchdog([&] {
            QDeadlineTimer patience(20000);
            while (!done && !patience.hasExpired())
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            fcntl(ends[0], F_SETFL, O_NONBLOCK);
            char sink[4096];
            while (!done) {
                if (read(ends[0], sink, sizeof sink) > 0)
                    rescued = true;
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });

        QString shown;
        int replies = 0;
        int refreshes = 0;
        int refreshesUntilShown = -1;
        {
            MainWindow window;
            window.show();
            const bool exposed = QTest::qWaitForWindowExposed(&window);
            Q_UNUSED(exposed); // asserted on nothing while the output is the pipe
            Controller controller(QHostAddress(QStringLiteral("127.0.0.2")));
            const QByteArray answer = reply(QStringLiteral("R"), 0x7F000002);
            for (int i = 0; i < 10000; ++i) {
                replies += controller.send(answer, QHostAddress::LocalHost) == answer.size();
                if (i % 100 == 99)
                    QTest::qWait(1); // the node reads them as a window would, between refreshes
            }
            QTest::qWait(50);
            // Refreshes from the send on: the one under way may miss the datagram, the next
            // one shows it.
            QObject::connect(MainWindowProbe::timer(window), &QTimer::timeout, &window,
                             [&] { ++refreshes; });
            controller.send(artTimeCode(7, 6, 5, 4, 1), QHostAddress::LocalHost);
            QDeadlineTimer deadline(5000);
            while (!deadline.hasExpired() &&
                   MainWindowProbe::timecodeLabel(window)->text() != QLatin1String("04:05:06:07"))
                QTest::qWait(1);
            shown = MainWindowProbe::timecodeLabel(window)->text();
            refreshesUntilShown = refreshes;
        }
        dup2(savedStdout, STDOUT_FILENO);
        dup2(savedStderr, STDERR_FILENO);
        close(savedStdout);
        close(savedStderr);
        close(ends[1]);
        // The write the output thread is in ends once the pipe is read; what is queued after it
        // goes to the restored output.
        fcntl(ends[0], F_SETFL, O_NONBLOCK);
        done = true;
        watchdog.join();
        char sink[4096];
        while (read(ends[0], sink, sizeof sink) > 0 || !ArtNetOutput::flush(10)) {
        }
        close(ends[0]);
        qInstallMessageHandler(nullptr);

        QVERIFY2(!rescued, "the window waited for its output");

        QCOMPARE(replies, 10000);
        QCOMPARE(shown, QStringLiteral("04:05:06:07"));
        QVERIFY2(refreshesUntilShown <= 2, qPrintable(QString::number(refreshesUntilShown)));
        QVERIFY(ArtNetOutput::droppedLines() > droppedBefore);
    }
};

QTEST_MAIN(SenderNamesTest)
#include "tst_sendernames.moc"
