// chronolume-cli send as a user runs it: the ArtTimeCode datagrams it puts on the wire at each
// rate, the output on a pipe and on a terminal, the refusals of bad input before anything is
// sent, failed sends, the signals that end it, and broadcasting to every local network.
#include "finished.h"
#include "patience.h"
#include "peernet.h"
#include "sandbox.h"
#include "terminal.h"

#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

// Runs the program to its end (10 s at most) with stdout and stderr on pipes.
Finished runCli(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(CHRONOLUME_CLI), arguments);
    // No run here asks for more than four frames or 0.2 s.
    return finish(process, Patience::seconds(0.2));
}

// Listens where a local window would: port 6454 on every address.
struct Receiver
{
    QUdpSocket socket;
    bool open() { return socket.bind(QHostAddress::AnyIPv4, 6454); }
    QStringList take()
    {
        QStringList hex;
        while (socket.hasPendingDatagrams())
            hex.append(QString::fromLatin1(socket.receiveDatagram().data().toHex()));
        return hex;
    }
};

// Whether a signal waits to be handled by the process, as /proc shows it.
bool signalPending(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if ((line.startsWith("SigPnd:") || line.startsWith("ShdPnd:")) &&
            line.mid(7).trimmed().toULongLong(nullptr, 16) != 0)
            return true;
    }
    return false;
}

// The two signals that end a run, one row each.
void signalRows()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

// One ArtTimeCode written out byte by byte.
QString timecode(const char* framesSecondsMinutesHours, const char* type, const char* stream = "00")
{
    return QStringLiteral("4172742d4e657400" // "Art-Net" and its NUL
                          "0097"             // OpCode 0x9700, LE
                          "000e"             // protocol version 14
                          "00")              // Filler1
           + QLatin1String(stream) + QLatin1String(framesSecondsMinutesHours) +
           QLatin1String(type) + QStringLiteral("00"); // pad
}

// The final line taken apart; sent is -1 when the line is not a summary, or counts its frames
// in the wrong number ("1 frames", "2 frame").
struct Summary
{
    qint64 sent = -1;
    double seconds = 0;
    QString rate;
    qint64 skipped = 0;
    qint64 failed = 0;
};

Summary summaryOf(const QString& out)
{
    static const QRegularExpression shape(
        QStringLiteral("^sent (\\d+) (frames?) in (\\d+\\.\\d{3}) s at ([0-9.]+) fps"
                       "(?:, (\\d+) skipped)?(?:, (\\d+) failed)?\\r?\\n$"));
    const QRegularExpressionMatch match = shape.match(out);
    Summary summary;
    if (!match.hasMatch() ||
        (match.captured(1) == QLatin1String("1")) != (match.captured(2) == QLatin1String("frame")))
        return summary;
    summary.sent = match.captured(1).toLongLong();
    summary.seconds = match.captured(3).toDouble();
    summary.rate = match.captured(4);
    summary.skipped = match.captured(5).toLongLong();
    summary.failed = match.captured(6).toLongLong();
    return summary;
}

// A counted run takes its frames' whole periods; the machine's scheduling may add a little.
bool tookAbout(const Summary& summary, double seconds)
{
    return summary.seconds >= seconds - 0.001 && summary.seconds <= seconds + 0.2;
}

// The expected datagrams with the frames the summary says were skipped left out, in order. On a
// loaded machine a wakeup may come more than a period late; the generator then skips a frame
// by design, and says so.
bool arrivedAsSent(const QStringList& received, const QStringList& expected, qint64 skipped)
{
    if (received.size() + skipped != expected.size())
        return false;
    int next = 0;
    for (const QString& datagram : received) {
        next = int(expected.indexOf(datagram, next));
        if (next < 0)
            return false;
        ++next;
    }
    return true;
}

} // namespace

class CliSendTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    void datagrams_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("datagrams");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<double>("seconds");

        QTest::newRow("defaults: 25 fps from midnight")
            << QStringList{"--frames", "3"}
            << QStringList{timecode("00000000", "01"), timecode("01000000", "01"),
                           timecode("02000000", "01")}
            << "25" << 0.120;
        QTest::newRow("24: into the next second, type 0")
            << QStringList{"--rate", "24", "--start", "01:02:03:22", "--frames", "3"}
            << QStringList{timecode("16030201", "00"), timecode("17030201", "00"),
                           timecode("00040201", "00")}
            << "24" << 0.125;
        QTest::newRow("29.97: the minute skips frames 00 and 01, type 2")
            << QStringList{"--rate", "29.97", "--start", "00:00:59:28", "--frames", "3"}
            << QStringList{timecode("1c3b0000", "02"), timecode("1d3b0000", "02"),
                           timecode("02000100", "02")}
            << "29.97" << 0.100;
        QTest::newRow("29.97: the tenth minute keeps frame 00")
            << QStringList{"--rate", "29.97", "--start", "00:09:59:29", "--frames", "2"}
            << QStringList{timecode("1d3b0900", "02"), timecode("00000a00", "02")} << "29.97"
            << 0.067;
        QTest::newRow("30: midnight wraps to hour 0, type 3")
            << QStringList{"--rate", "30", "--start", "23:59:59:29", "--frames", "2"}
            << QStringList{timecode("1d3b3b17", "03"), timecode("00000000", "03")} << "30" << 0.067;
        QTest::newRow("29.970 is 29.97; one frame")
            << QStringList{"--rate", "29.970", "--frames", "1"}
            << QStringList{timecode("00000000", "02")} << "29.97" << 0.033;
        QTest::newRow("--duration 0.2 at 25: five frames, and the last option wins")
            << QStringList{"--rate", "30", "--rate", "25", "--duration", "0.2"}
            << QStringList{timecode("00000000", "01"), timecode("01000000", "01"),
                           timecode("02000000", "01"), timecode("03000000", "01"),
                           timecode("04000000", "01")}
            << "25" << 0.200;
    }

    // Sent to 127.0.0.1 and heard by a socket bound where a window binds; a counted run takes
    // its frames' whole periods.
    void datagrams()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, datagrams);
        QFETCH(QString, rate);
        QFETCH(double, seconds);
        Receiver receiver;
        QVERIFY(receiver.open());
        const Finished run = runCli(QStringList{"send", "--to", "127.0.0.1"} + arguments);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        const Summary summary = summaryOf(run.out);
        QVERIFY2(summary.sent >= 0, qPrintable(run.out));
        QCOMPARE(summary.rate, rate);
        QVERIFY2(tookAbout(summary, seconds), qPrintable(run.out));
        const QStringList received = receiver.take();
        QCOMPARE(summary.sent, qint64(received.size()));
        if (summary.skipped == 0)
            QCOMPARE(received, datagrams);
        else
            QVERIFY2(arrivedAsSent(received, datagrams, summary.skipped),
                     qPrintable(received.join(QLatin1Char(' '))));
    }

    // Streams 0 and 255, the first and last, each from an address of loopback's own.
    void streamAndSource_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::addColumn<QString>("from");
        QTest::newRow("stream 0 from 127.0.0.2") << "0"
                                                 << "127.0.0.2";
        QTest::newRow("stream 255 from 127.0.0.3") << "255"
                                                   << "127.0.0.3";
    }

    void streamAndSource()
    {
        QFETCH(QString, stream);
        QFETCH(QString, from);
        Receiver receiver;
        QVERIFY(receiver.open());
        const Finished run = runCli({"send", "--to", "127.0.0.1", "--from", from, "--stream",
                                     stream, "--frames", "1", "--quiet"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(receiver.socket.hasPendingDatagrams());
        const QNetworkDatagram datagram = receiver.socket.receiveDatagram();
        QCOMPARE(datagram.senderAddress().toString(), from);
        QCOMPARE(QString::fromLatin1(datagram.data().toHex()),
                 timecode("00000000", "01",
                          qPrintable(
                              QStringLiteral("%1").arg(stream.toInt(), 2, 16, QLatin1Char('0')))));
    }

    void everyAddressGiven()
    {
        Receiver receiver;
        QVERIFY(receiver.open());
        const Finished run =
            runCli({"send", "--to", "127.0.0.1", "--to", "127.0.0.2", "--frames", "2", "--quiet"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(receiver.take(),
                 (QStringList{timecode("00000000", "01"), timecode("00000000", "01"),
                              timecode("01000000", "01"), timecode("01000000", "01")}));
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");

        const auto row = [](const char* name, QStringList arguments, const char* error) {
            QTest::newRow(name) << arguments << QString::fromUtf8(error);
        };
        row("unknown rate", {"--rate", "29.976"},
            "send: unknown rate \"29.976\" (use 24, 25, 29.97 or 30)");
        row("29.98 is no rate", {"--rate", "29.98"},
            "send: unknown rate \"29.98\" (use 24, 25, 29.97 or 30)");
        row("rate with no value", {"--rate"}, "send: Missing value after '--rate'.");
        row("hour 25", {"--start", "25:00:00:00"},
            "send: --start 25:00:00:00 does not exist at 25 fps: hours must be below 24");
        row("minute 60", {"--start", "00:60:00:00"},
            "send: --start 00:60:00:00 does not exist at 25 fps: minutes must be below 60");
        row("frame 25 at 25", {"--start", "00:00:00:25"},
            "send: --start 00:00:00:25 does not exist at 25 fps: frames must be below 25");
        row("frame 24 at 24", {"--rate", "24", "--start", "00:00:00:24"},
            "send: --start 00:00:00:24 does not exist at 24 fps: frames must be below 24");
        row("a minute's frame 00 at 29.97", {"--rate", "29.97", "--start", "00:01:00:00"},
            "send: --start 00:01:00:00 does not exist at 29.97 fps: drop-frame numbering skips "
            "frames 00 and 01 of this minute");
        row("three fields", {"--start", "00:00:00"},
            "send: --start \"00:00:00\" is not HH:MM:SS:FF");
        row("letters", {"--start", "aa:00:00:00"},
            "send: --start \"aa:00:00:00\" is not HH:MM:SS:FF");
        row("address that does not parse", {"--to", "192.168.1"},
            "send: --to \"192.168.1\" is not an IPv4 address");
        row("octet above 255", {"--to", "192.168.1.256"},
            "send: --to \"192.168.1.256\" is not an IPv4 address");
        row("host name", {"--to", "localhost"}, "send: --to \"localhost\" is not an IPv4 address");
        row("IPv6", {"--to", "::1"}, "send: --to ::1 is not IPv4 (Art-Net is IPv4 only)");
        row("--duration with --frames", {"--duration", "2", "--frames", "3"},
            "send: give --duration or --frames, not both");
        row("zero frames", {"--frames", "0"},
            "send: --frames needs a whole number from 1 to 1000000000000000, not \"0\"");
        row("negative frames", {"--frames", "-5"},
            "send: --frames needs a whole number from 1 to 1000000000000000, not \"-5\"");
        row("fractional frames", {"--frames", "2.5"},
            "send: --frames needs a whole number from 1 to 1000000000000000, not \"2.5\"");
        row("zero duration", {"--duration", "0"},
            "send: --duration \"0\" is not a positive number of seconds");
        row("negative duration", {"--duration", "-1"},
            "send: --duration \"-1\" is not a positive number of seconds");
        row("stream 256", {"--stream", "256"},
            "send: --stream needs a whole number from 0 to 255, not \"256\"");
        row("negative stream", {"--stream", "-1"},
            "send: --stream needs a whole number from 0 to 255, not \"-1\"");
        row("--from not this machine's", {"--from", "192.0.2.1"},
            "send: --from 192.0.2.1 is not an address of this machine");
        row("--from IPv6", {"--from", "::1"}, "send: --from \"::1\" is not an IPv4 address");
        row("unknown option", {"--rat", "25"}, "send: Unknown option 'rat'.");
        row("stray argument", {"now"}, "send: unexpected argument \"now\"");
    }

    // Each refusal is one line on stderr, exit status 2, and not one datagram, although every
    // row also names a destination that would receive the stream.
    void badInput()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        Receiver receiver;
        QVERIFY(receiver.open());
        const Finished run = runCli(QStringList{"send", "--to", "127.0.0.1"} + arguments);
        QCOMPARE(run.err, QStringLiteral("chronolume-cli: ") + error + QLatin1Char('\n'));
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.out, QString());
        QTest::qWait(50);
        QCOMPARE(receiver.take(), QStringList());
    }

    void programOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("outStart");
        QTest::addColumn<QString>("err");
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "chronolume-cli 1.0.2\n"
                                   << "";
        QTest::newRow("--help") << QStringList{"--help"} << 0
                                << "Usage: chronolume-cli <command> [options]\n"
                                << "";
        QTest::newRow("send --help")
            << QStringList{"send", "--help"} << 0 << "Usage: chronolume-cli send [options]\n"
            << "";
        QTest::newRow("unknown command")
            << QStringList{"sned"} << 2 << ""
            << "chronolume-cli: unknown command \"sned\" (try \"chronolume-cli --help\")\n";
        QTest::newRow("no command") << QStringList{} << 2 << ""
                                    << "chronolume-cli: no command given (try \"chronolume-cli "
                                       "--help\")\n";
    }

    void programOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, outStart);
        QFETCH(QString, err);
        const Finished run = runCli(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.err, err);
        QCOMPARE(run.out.left(outStart.size()), outStart);
        QCOMPARE(run.out.isEmpty(), outStart.isEmpty());
    }

    // Sends that fail are counted and the first failure told at the end; the stream to the
    // other destination goes on.
    void failedSendsAreCountedAndTheStreamGoesOn()
    {
        Receiver receiver;
        QVERIFY(receiver.open());
        const Finished run =
            runCli({"send", "--to", "10.9.9.9", "--to", "127.0.0.1", "--frames", "4"});
        QCOMPARE(run.exitCode, 1);
        const Summary summary = summaryOf(run.out);
        QVERIFY2(summary.sent >= 0, qPrintable(run.out));
        QCOMPARE(summary.sent + summary.skipped, qint64(4));
        QCOMPARE(summary.failed, summary.sent);
        QCOMPARE(run.err, QStringLiteral("chronolume-cli: send: %1 of %1 frames failed; the first "
                                         "failure: to 10.9.9.9: Network is unreachable\n")
                              .arg(summary.sent));
        QCOMPARE(qint64(receiver.take().size()), summary.sent);
    }

    void noNetworkToBroadcastTo()
    {
        // QSKIP's expansion written out: clang's pedantic warnings reject its empty variadic part.
        if (!qEnvironmentVariableIsEmpty("CHRONOLUME_PEER_NETNS")) {
            QTest::qSkip("this namespace has local networks", __FILE__, __LINE__);
            return;
        }
        Receiver receiver;
        QVERIFY(receiver.open());
        const Finished run = runCli({"send", "--frames", "2", "--to", "broadcast"});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, QStringLiteral("chronolume-cli: send: no local IPv4 network to "
                                         "broadcast to; give --to ADDRESS (--to 127.0.0.1 for "
                                         "this machine)\n"));
        QCOMPARE(run.out, QString());
        QTest::qWait(100);
        QCOMPARE(receiver.take(), QStringList());
    }

    void signalEndsTheRunCleanly_data() { signalRows(); }

    // A run without an end: the signal ends it after the frame in flight, with the summary
    // counting exactly the frames that arrived, and exit status 0.
    void signalEndsTheRunCleanly()
    {
        QFETCH(int, signal);
        Receiver receiver;
        QVERIFY(receiver.open());
        QProcess process;
        process.start(QStringLiteral(CHRONOLUME_CLI),
                      {"send", "--to", "127.0.0.1", "--rate", "30"});
        QVERIFY(process.waitForStarted());
        QStringList received;
        QTRY_VERIFY_WITH_TIMEOUT((received += receiver.take()).size() >= 3,
                                 Patience::frames(3, 30));
        QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
        QVERIFY(process.waitForFinished(Patience::frames(1, 30)));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardError(), QByteArray());
        received += receiver.take();
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        const Summary summary = summaryOf(out);
        QVERIFY2(summary.sent >= 0, qPrintable(out));
        QCOMPARE(summary.sent, qint64(received.size()));
    }

    void terminal_data()
    {
        QTest::addColumn<bool>("quiet");
        QTest::addColumn<QString>("status");
        // The terminal turns each line end into CR LF.
        QTest::newRow("status redrawn in place, then the summary")
            << false
            << "\r00:00:10:00  24 fps  1 frames sent\x1b[K"
               "\r00:00:10:01  24 fps  2 frames sent\x1b[K"
               "\r00:00:10:02  24 fps  3 frames sent\x1b[K\r\n";
        QTest::newRow("--quiet: the summary alone") << true << "";
    }

    // On a terminal (a pseudo-terminal here) the status line is redrawn in place for each frame
    // unless told to be quiet; the summary follows on a line of its own.
    void terminal()
    {
        QFETCH(bool, quiet);
        QFETCH(QString, status);
        int master = -1, slave = -1;
        char name[128] = {};
        QCOMPARE(openpty(&master, &slave, name, nullptr, nullptr), 0);
        QProcess process;
        process.setStandardOutputFile(QString::fromLocal8Bit(name));
        QStringList arguments{"send",    "--to",        "127.0.0.1", "--rate", "24",
                              "--start", "00:00:10:00", "--frames",  "3"};
        if (quiet)
            arguments << "--quiet";
        process.start(QStringLiteral(CHRONOLUME_CLI), arguments);
        const bool finished = process.waitForFinished(Patience::frames(3, 24));
        ::close(slave);
        QByteArray out;
        char buffer[4096];
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        for (qint64 n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            out.append(buffer, n);
        ::close(master);
        QVERIFY(finished);
        QCOMPARE(process.exitCode(), 0);

        const QString text = QString::fromLocal8Bit(out);
        const int summaryStart = int(text.indexOf(QStringLiteral("sent ")));
        QVERIFY2(summaryStart >= 0, qPrintable(text));
        const Summary summary = summaryOf(text.mid(summaryStart));
        QVERIFY2(summary.sent >= 0, qPrintable(text));
        QVERIFY2(tookAbout(summary, 0.125), qPrintable(text));
        if (summary.skipped == 0)
            QCOMPARE(text.left(summaryStart), status);
        else
            QCOMPARE(text.left(summaryStart).count(QStringLiteral("\x1b[K")),
                     quiet ? 0 : summary.sent);
    }

    // With its terminal paused (Ctrl-S) from the start, send writes nothing, yet every frame
    // goes out while the terminal stays paused; once it moves again the status line and the
    // summary follow.
    void pausedTerminalHoldsUpNoFrame()
    {
        PausableTerminal terminal;
        QVERIFY(terminal.isOpen() && terminal.pause());
        Receiver receiver;
        QVERIFY(receiver.open());
        QProcess process;
        process.setStandardOutputFile(terminal.name());
        process.start(QStringLiteral(CHRONOLUME_CLI),
                      {"send", "--to", "127.0.0.1", "--rate", "30", "--frames", "60"});
        QStringList received;
        // Frames a loaded machine wakes too late for are skipped by design, and counted.
        QTRY_VERIFY_WITH_TIMEOUT((received += receiver.take()).size() >= 50,
                                 Patience::frames(60, 30));
        QCOMPARE(terminal.read(), QByteArray());
        QVERIFY(terminal.resume());
        QVERIFY(process.waitForFinished(Patience::frames(60, 30)));
        QCOMPARE(process.exitCode(), 0);
        received += receiver.take();
        const QString out = QString::fromLocal8Bit(terminal.read());
        const Summary summary = summaryOf(out.mid(out.indexOf(QStringLiteral("sent "))));
        QVERIFY2(summary.sent == received.size() && summary.sent + summary.skipped == 60,
                 qPrintable(out));
    }

    void secondSignalEndsAtOnce_data() { signalRows(); }

    // The first signal ends the stream, and the summary waits for a paused terminal; a second
    // signal ends the program at once, with a short line on standard error.
    void secondSignalEndsAtOnce()
    {
        QFETCH(int, signal);
        PausableTerminal terminal;
        QVERIFY(terminal.isOpen() && terminal.pause());
        Receiver receiver;
        QVERIFY(receiver.open());
        QProcess process;
        process.setStandardOutputFile(terminal.name());
        process.start(QStringLiteral(CHRONOLUME_CLI),
                      {"send", "--to", "127.0.0.1", "--rate", "30"});
        QStringList received;
        QTRY_VERIFY_WITH_TIMEOUT((received += receiver.take()).size() >= 3,
                                 Patience::frames(3, 30));
        const pid_t pid = pid_t(process.processId());
        QCOMPARE(::kill(pid, signal), 0);
        // A signal sent while the same one is still pending would be lost in it.
        QTRY_VERIFY_WITH_TIMEOUT(!signalPending(pid), Patience::ms());
        QCOMPARE(::kill(pid, signal), 0);
        QVERIFY(process.waitForFinished(Patience::ms()));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 128 + signal);
        QCOMPARE(process.readAllStandardError(),
                 QByteArray("chronolume-cli: stopped at once by a second signal\n"));
        QVERIFY(terminal.resume());
    }

    // Without --to, send refuses and names the broadcast addresses it could send to; with
    // --to broadcast, one datagram per frame reaches each of them, and the hosts on the two
    // networks hear them.
    void broadcastsToEveryLocalNetwork()
    {
        PeerSocket peer;
        if (!peer.error.isEmpty()) {
            QTest::qSkip(qPrintable(peer.error), __FILE__, __LINE__);
            return;
        }
        const Finished refused = runCli({"send", "--frames", "2", "--quiet"});
        QCOMPARE(refused.exitCode, 2);
        QCOMPARE(refused.err,
                 QStringLiteral("chronolume-cli: send: give --to ADDRESS (--to 127.0.0.1 for this "
                                "machine), or --to broadcast for every local network's broadcast "
                                "address (192.168.50.255, 10.60.255.255)\n"));
        QCOMPARE(refused.out, QString());
        QCOMPARE(peer.receive(0, 200).size(), 0);

        const Finished run =
            runCli({"send", "--rate", "29.97", "--frames", "2", "--quiet", "--to", "broadcast"});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QStringList heard;
        for (const QNetworkDatagram& datagram : peer.receive(4))
            heard.append(datagram.destinationAddress().toString() + QLatin1Char(' ') +
                         QString::fromLatin1(datagram.data().toHex()));
        heard.sort();
        QCOMPARE(heard, (QStringList{"10.60.255.255 " + timecode("00000000", "02"),
                                     "10.60.255.255 " + timecode("01000000", "02"),
                                     "192.168.50.255 " + timecode("00000000", "02"),
                                     "192.168.50.255 " + timecode("01000000", "02")}));
    }
};

QTEST_GUILESS_MAIN(CliSendTest)
#include "tst_clisend.moc"
