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

    // A sender on another host: one unicast ArtPoll when it is first heard, none while it goes
    // on sending, one when it returns from silence; its answer names it in its address line.
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

        QVERIFY(sendTimecode(0));
        QCOMPARE(polls(peer.receive(1)), QStringList{host.toString()});
        for (quint8 frame = 1; frame < 10; ++frame) {
            QVERIFY(sendTimecode(frame));
            QTest::qWait(20);
        }
        QCOMPARE(polls(peer.receive(0, 100)), QStringList());

        const QByteArray answer = reply(QStringLiteral("FOH TC"), host.toIPv4Address());
        QCOMPARE(peer.socket.writeDatagram(answer, node, 6454), qint64(answer.size()));
        QTRY_COMPARE_WITH_TIMEOUT(MainWindowProbe::sourceLabel(window)->text(),
                                  QStringLiteral("FOH TC · 192.168.50.1"), 5000);

        // Back after a silence: a datagram read elsewhere, with its arrival past the limit.
        QByteArray late(ArtNetPacket::kTimeCodeSize, '\0');
        ArtNetPacket::writeTimeCode(reinterpret_cast<quint8*>(late.data()),
                                    TimecodeRecord{11, 1, 2, 3, Timecode::kEbu});
        MainWindowProbe::node(window)->takeDatagram(late.constData(), int(late.size()), host,
                                                    artNetNowNs() + Timecode::kSilentAfterNs +
                                                        1'000'000);
        QCOMPARE(polls(peer.receive(1)), QStringList{host.toString()});
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
