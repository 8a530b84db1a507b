// chronolume-cli ltc-encode and ltc-bridge as a user runs them: LTC written at each rate and
// bridged back to ArtTimeCode through a WAV file and through a pipe, recorders' files of LTC made
// by an independent encoder, a file played at its own pace until a signal ends it, a line that
// falls silent, LTC at the wrong speed in a fast pipe, a --rate the LTC contradicts, and the
// input each command refuses.
#include "finished.h"
#include "patience.h"
#include "sandbox.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>

using namespace TestSupport;

namespace {

const QString kCli = QStringLiteral(CHRONOLUME_CLI);

// Runs a shell command line to its end (20 s at most), with $CLI naming the program and $REF the
// independent LTC encoder.
Finished runShell(const QString& line)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CLI"), kCli);
    environment.insert(QStringLiteral("REF"), QStringLiteral(CHRONOLUME_LTC_REFERENCE));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), line});
    // The longest script here, the chain through ltc-encode --follow, lasts about five seconds
    // by its own sleeps and frames; the files are read as fast as they decode or at real time.
    return finish(process, Patience::seconds(5));
}

// Listens where a local window would, and reads ArtTimeCode back as "HH:MM:SS:FF/Type".
struct Receiver
{
    QUdpSocket socket;
    bool open(const QHostAddress& address = QHostAddress::AnyIPv4)
    {
        // Room for a --fast burst of a few hundred datagrams.
        return socket.bind(address, 6454,
                           QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint) &&
               (socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20),
                true);
    }
    QStringList take()
    {
        QStringList times;
        while (socket.hasPendingDatagrams()) {
            const QByteArray d = socket.receiveDatagram().data();
            // The StreamId shows when it is not the master's.
            if (d.size() == 19 + 1 && d.startsWith(QByteArray("Art-Net\0\x00\x97", 10)))
                times.append(
                    QString::asprintf("%02d:%02d:%02d:%02d/%d", d[17], d[16], d[15], d[14], d[18]) +
                    (d[13] ? QStringLiteral(" s%1").arg(quint8(d[13])) : QString()));
            else
                times.append(QStringLiteral("not ArtTimeCode: ") + QString::fromLatin1(d.toHex()));
        }
        return times;
    }
};

// The times of `count` frames from `start`, counted in the rate's numbering by hand.
QStringList frames(int fps, bool drop, const QString& start, int count, int type)
{
    const QStringList f = start.split(QLatin1Char(':'));
    int h = f[0].toInt(), m = f[1].toInt(), s = f[2].toInt(), fr = f[3].toInt();
    QStringList times;
    for (int i = 0; i < count; ++i) {
        times.append(QString::asprintf("%02d:%02d:%02d:%02d/%d", h, m, s, fr, type));
        if (++fr < fps)
            continue;
        fr = 0;
        if (++s < 60)
            continue;
        s = 0;
        m = (m + 1) % 60;
        if (m == 0)
            h = (h + 1) % 24;
        if (drop && m % 10 != 0)
            fr = 2;
    }
    return times;
}

} // namespace

class CliLtcTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QStringList>("received"); // one frame on from what was written
        QTest::addColumn<bool>("pipe");
        const struct
        {
            const char* rate;
            int fps;
            bool drop;
            int type;
            const char* start;
            const char* next;
        } rates[] = {
            {"24", 24, false, 0, "23:59:59:00", "23:59:59:01"},
            {"25", 25, false, 1, "10:00:59:00", "10:00:59:01"},
            {"29.97", 30, true, 2, "00:00:59:00", "00:00:59:01"},
            {"30", 30, false, 3, "00:59:59:00", "00:59:59:01"},
        };
        for (const auto& r : rates) {
            for (const bool pipe : {false, true})
                QTest::addRow("%s through a %s", r.rate, pipe ? "pipe" : "WAV file")
                    << r.rate << r.start << frames(r.fps, r.drop, r.next, 60, r.type) << pipe;
        }
    }

    // Every frame arrives, in order, with its Type, one frame on for the decoding latency; the
    // rate is the one the LTC shows, across a drop-frame minute, an hour and midnight.
    void roundTrip()
    {
        QFETCH(QString, rate);
        QFETCH(QString, start);
        QFETCH(QStringList, received);
        QFETCH(bool, pipe);
        Receiver receiver;
        QVERIFY(receiver.open());
        QTemporaryDir dir;
        const QString wav = dir.filePath(QStringLiteral("ltc.wav"));
        // A file of the two faster rates in 24-bit samples.
        const QString bits = rate == QLatin1String("29.97") || rate == QLatin1String("30")
                                 ? QStringLiteral(" --bits 24")
                                 : QString();
        const QString encode =
            QStringLiteral("\"$CLI\" ltc-encode --rate %1 --start %2 --frames 60 --output %3")
                .arg(rate, start, pipe ? QStringLiteral("-") : wav) +
            (pipe ? QString() : bits);
        const QString bridge = QStringLiteral("\"$CLI\" ltc-bridge --fast --to 127.0.0.1");
        const Finished run = runShell(pipe ? encode + QStringLiteral(" | ") + bridge
                                           : encode + QStringLiteral(" && ") + bridge +
                                                 QStringLiteral(" --input ") + wav);
        QCOMPARE(run.exitCode, 0);
        // The encoder's line goes where its audio does not.
        const QString wrote =
            QStringLiteral("wrote 60 frames (%1 s) of %2 fps LTC at 48000 Hz to %3\n")
                .arg(60 / (rate == "29.97" ? 30000.0 / 1001 : rate.toDouble()), 0, 'f', 3)
                .arg(rate, pipe ? QStringLiteral("standard output") : wav);
        QCOMPARE(pipe ? run.err : run.out.left(int(wrote.size())), wrote);
        const QRegularExpression decoded(
            QStringLiteral("decoded 60 frames in \\d\\.\\d{3} s of audio at %1 fps; sent 60, 0 "
                           "errors\n$")
                .arg(QRegularExpression::escape(rate)));
        QVERIFY2(decoded.match(run.out).hasMatch(), qPrintable(run.out + run.err));
        QStringList got;
        QTRY_COMPARE_WITH_TIMEOUT((got += receiver.take()), received, Patience::ms());
    }

    // Files as recorders and workstations write them, of LTC from the independent encoder, each
    // bridged exactly (sox writes them; wider samples and float come as WAVE_FORMAT_EXTENSIBLE).
    void recordersFiles_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("sox"); // the output's options and name
        QTest::addColumn<QStringList>("received");
        QTest::newRow("24-bit WAV, 24 fps")
            << "24"
            << "-b 24 ltc.wav" << frames(24, false, "10:00:59:01", 60, 0);
        QTest::newRow("32-bit float WAV, 25 fps")
            << "25"
            << "-e floating-point -b 32 ltc.wav" << frames(25, false, "10:00:59:01", 60, 1);
        QTest::newRow("AIFF, 29.97 fps")
            << "29.97"
            << "-b 24 ltc.aiff" << frames(30, true, "10:00:59:01", 60, 2);
        QTest::newRow("FLAC, 30 fps")
            << "30"
            << "-b 24 ltc.flac" << frames(30, false, "10:00:59:01", 60, 3);
    }

    void recordersFiles()
    {
        QFETCH(QString, rate);
        QFETCH(QString, sox);
        QFETCH(QStringList, received);
        Receiver receiver;
        QVERIFY(receiver.open());
        QTemporaryDir dir;
        const Finished run = runShell(
            QStringLiteral("cd '%1' && python3 \"$REF\" encode --rate %2 --start 10:00:59:00 "
                           "--frames 60 ref.wav >/dev/null && sox ref.wav %3 && \"$CLI\" "
                           "ltc-bridge --fast --to 127.0.0.1 --input %4")
                .arg(dir.path(), rate, sox, sox.section(QLatin1Char(' '), -1)));
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        QVERIFY2(run.out.contains(QStringLiteral("; sent 60, 0 errors\n")), qPrintable(run.out));
        QStringList got;
        QTRY_COMPARE_WITH_TIMEOUT((got += receiver.take()), received, Patience::ms());
    }

    // A line that falls silent for two seconds, at real time: the loss and the return are told,
    // the frame cut off by the silence is not sent after it, exactly the ten frames freewheeling
    // allows follow the last decoded one, and every datagram carries the stream asked for.
    void silenceWithFreewheel()
    {
        Receiver receiver;
        QVERIFY(receiver.open());
        QTemporaryDir dir;
        // 30 frames cut off before their closing edge, 2 s of silence, then 25 frames on a
        // second later than the numbering would have reached.
        const Finished run = runShell(
            QStringLiteral("cd '%1' && python3 \"$REF\" encode --rate 25 --start 10:00:00:00 "
                           "--frames 30 a.wav >/dev/null && python3 \"$REF\" encode --rate 25 "
                           "--start 10:00:05:00 --frames 25 b.wav >/dev/null && sox a.wav -p trim "
                           "0 57600s pad 0 2 | sox - b.wav -D -b 16 gap.wav && \"$CLI\" ltc-bridge "
                           "--input gap.wav --freewheel 10 --stream 7 --to 127.0.0.1")
                .arg(dir.path()));
        QCOMPARE(run.err,
                 QStringLiteral("chronolume-cli: ltc-bridge: LTC lost after 10:00:01:04\n"
                                "chronolume-cli: ltc-bridge: LTC back at 10:00:05:01, a jump of "
                                "+00:00:01:20\n"));
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(QStringLiteral("; sent 64, 0 errors, 1 stale, 10 freewheeled\n")),
                 qPrintable(run.out));
        QStringList expected =
            frames(25, false, "10:00:00:01", 39, 1) + frames(25, false, "10:00:05:01", 25, 1);
        for (QString& time : expected)
            time += QStringLiteral(" s7");
        QStringList got;
        QTRY_COMPARE_WITH_TIMEOUT((got += receiver.take()), expected, Patience::ms());
    }

    // LTC recorded at 44.1 kHz piped as raw audio without --sample-rate or --realtime: one line
    // for each mistake, and the frames still go out.
    void wrongSpeedInAFastPipe()
    {
        Receiver receiver;
        QVERIFY(receiver.open());
        QTemporaryDir dir;
        const Finished run = runShell(
            QStringLiteral("cd '%1' && python3 \"$REF\" encode --rate 25 --start 10:00:00:00 "
                           "--frames 150 --sample-rate 44100 ref.wav >/dev/null && sox ref.wav -t "
                           "raw - | \"$CLI\" ltc-bridge --to 127.0.0.1")
                .arg(dir.path()));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err,
                 QStringLiteral("chronolume-cli: ltc-bridge: LTC runs 8.8 % fast at 48000 Hz: is "
                                "the audio 44100 Hz?\n"
                                "chronolume-cli: ltc-bridge: standard input comes faster than "
                                "real time, as a recording does: give --realtime to send it at "
                                "its own pace\n"));
    }

    // LTC whose frames reach 24 under --rate 24: sending stops, and the line names the rate the
    // LTC shows.
    void forcedRateContradicted()
    {
        Receiver receiver;
        QVERIFY(receiver.open());
        const Finished run = runShell(
            QStringLiteral("\"$CLI\" ltc-encode --rate 25 --frames 100 --output - 2>/dev/null | "
                           "\"$CLI\" ltc-bridge --rate 24 --fast --to 127.0.0.1"));
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, QStringLiteral("chronolume-cli: ltc-bridge: --rate 24 does not fit the "
                                         "LTC, which runs at 25 fps\n"));
        QTest::qWait(50);
        // Frames 00 to 23 of the first second went out, one on (the last as 00:00:01:00);
        // nothing from frame 24 on.
        QCOMPARE(receiver.take(), frames(24, false, "00:00:00:01", 24, 0));
    }

    void followThroughLtc_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QStringList>("sent");
        const struct
        {
            const char* rate;
            int fps;
            bool drop;
            int type;
            const char* start;
        } rates[] = {
            {"24", 24, false, 0, "23:59:59:00"},
            {"25", 25, false, 1, "10:00:59:00"},
            {"29.97", 30, true, 2, "00:00:59:00"},
            {"30", 30, false, 3, "00:59:59:00"},
        };
        for (const auto& r : rates)
            QTest::newRow(r.rate) << r.rate << frames(r.fps, r.drop, r.start, r.fps * 2, r.type);
    }

    // send -> ltc-encode --follow -> ltc-bridge -> a receiver, at each rate: the LTC carries
    // every frame sent, in order, from its first frames on, and after the last goes on in the
    // same numbering until the sender counts as silent; then the loss is said, naming the last
    // frame sent. The bridge sends stream 1 to 127.0.0.2, where only the receiver listens; the
    // follower, which sees every datagram on the machine, follows stream 0 of the sender alone.
    void followThroughLtc()
    {
        QFETCH(QString, rate);
        QFETCH(QStringList, sent);
        Receiver receiver;
        QVERIFY(receiver.open(QHostAddress(QStringLiteral("127.0.0.2"))));
        QTemporaryDir dir;
        const QString start = sent.first().left(11);
        const Finished run = runShell(
            QStringLiteral(
                "DIR='%1'\n"
                "( \"$CLI\" ltc-encode --follow 127.0.0.1:0 --freewheel 0 2>\"$DIR/follow.err\" &\n"
                "  echo $! >\"$DIR/pid\"; wait ) |\n"
                "  \"$CLI\" ltc-bridge --rate %2 --no-latency-correction --stream 1 --to "
                "127.0.0.2 "
                ">\"$DIR/bridge.out\" "
                "&\n"
                "sleep 0.5\n"
                "\"$CLI\" send --rate %2 --start %3 --frames %4 --to 127.0.0.1 >/dev/null || exit "
                "9\n"
                "sleep 2.5\n"
                "kill \"$(cat \"$DIR/pid\")\"\n"
                "wait\n")
                .arg(dir.path(), rate, start)
                .arg(sent.size()));
        QCOMPARE(run.exitCode, 0);
        QFile err(dir.filePath(QStringLiteral("follow.err")));
        QVERIFY(err.open(QIODevice::ReadOnly));
        const QString said = QString::fromLocal8Bit(err.readAll());
        QVERIFY2(said.contains(QStringLiteral("following the ArtTimeCode of 127.0.0.1, stream "
                                              "0\nArt-Net timecode lost after %1, writing "
                                              "silence\n")
                                   .arg(sent.last().left(11))),
                 qPrintable(said));
        QStringList got;
        QTRY_VERIFY_WITH_TIMEOUT(!(got += receiver.take()).isEmpty(), Patience::ms());
        got += receiver.take();
        for (QString& time : got) {
            QVERIFY2(time.endsWith(QStringLiteral(" s1")), qPrintable(time));
            time.chop(3);
        }
        // The first frames LTC needs to be found; past them, every frame sent, then the
        // numbering goes on without a sender for at most a second and a frame.
        const int first = int(sent.indexOf(got.first()));
        QVERIFY2(first >= 1 && first <= 3, qPrintable(got.join(QLatin1Char(' '))));
        const int fps = sent.size() / 2;
        QVERIFY2(got.size() >= sent.size() - first && got.size() <= sent.size() - first + fps + 1,
                 qPrintable(got.join(QLatin1Char(' '))));
        const int type = sent.first().right(1).toInt();
        QCOMPARE(got, frames(fps, type == 2, sent.at(first).left(11), int(got.size()), type));
    }

    // A file plays at its own pace, each frame when its end is due, until the signal ends the
    // run with its summary, counting exactly what arrived, and status 0.
    void fileAtRealTimeUntilSignalled_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }

    void fileAtRealTimeUntilSignalled()
    {
        QFETCH(int, signal);
        Receiver receiver;
        QVERIFY(receiver.open());
        QTemporaryDir dir;
        const QString wav = dir.filePath(QStringLiteral("ltc.wav"));
        QCOMPARE(runShell(QStringLiteral("\"$CLI\" ltc-encode --rate 25 --start 10:00:00:00 "
                                         "--duration 60 --output ") +
                          wav)
                     .exitCode,
                 0);
        QProcess bridge;
        bridge.start(
            kCli, {"ltc-bridge", "--input", wav, "--to", "127.0.0.1", "--no-latency-correction"});
        QElapsedTimer clock;
        clock.start();
        QStringList got;
        // 30 frames of 40 ms after a second of audio read ahead.
        QTRY_VERIFY_WITH_TIMEOUT((got += receiver.take()).size() >= 30, Patience::seconds(2.2));
        // 30 frames of 40 ms, the first known only after one second of audio is read ahead.
        QVERIFY2(clock.elapsed() >= 1100, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(::kill(pid_t(bridge.processId()), signal), 0);
        QVERIFY(bridge.waitForFinished(Patience::frames(1, 25)));
        QCOMPARE(bridge.exitCode(), 0);
        QCOMPARE(bridge.readAllStandardError(), QByteArray());
        got += receiver.take();
        QCOMPARE(got, frames(25, false, "10:00:00:00", int(got.size()), 1));
        const QString out = QString::fromLocal8Bit(bridge.readAllStandardOutput());
        QVERIFY2(out.contains(QStringLiteral("; sent %1, 0 errors\n").arg(got.size())),
                 qPrintable(out));
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("line"); // $DIR holds silence.wav and text.wav
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");
        QTest::newRow("silence: no LTC, with what to check")
            << "\"$CLI\" ltc-bridge --input \"$DIR/silence.wav\" --to 127.0.0.1" << 1
            << "ltc-bridge: no LTC found in $DIR/silence.wav (channel 1 of 1, 0.5 s at 48000 Hz, "
               "all silent); check the level (LTC needs -40 dBFS or more), the channel "
               "(--channel N) and the sample rate it was recorded at";
        QTest::newRow("not a sound file")
            << "\"$CLI\" ltc-bridge --input \"$DIR/text.wav\"" << 2
            << "ltc-bridge: $DIR/text.wav is not a sound file that can be read: Format not "
               "recognised.";
        QTest::newRow("a channel the file does not have")
            << "\"$CLI\" ltc-bridge --input \"$DIR/silence.wav\" --channel 2" << 2
            << "ltc-bridge: $DIR/silence.wav has one channel; there is no channel 2";
        QTest::newRow("an offset drop-frame numbering skips")
            << "\"$CLI\" ltc-bridge --rate 29.97 --offset 00:01:00:00 </dev/null" << 2
            << "ltc-bridge: --offset 00:01:00:00 does not exist at 29.97 fps: drop-frame "
               "numbering skips frames 00 and 01 of this minute";
        QTest::newRow("an endless file")
            << "\"$CLI\" ltc-encode --output \"$DIR/x.wav\"" << 2
            << "ltc-encode: --output $DIR/x.wav needs --duration or --frames: a file cannot be "
               "endless";
        QTest::newRow("a sample rate ltc-encode does not write")
            << "\"$CLI\" ltc-encode --sample-rate 22050 --output \"$DIR/x.wav\"" << 2
            << "ltc-encode: --sample-rate \"22050\" is not 44100, 48000 or 96000";
        QTest::newRow("a rate given to --follow, which takes the sender's")
            << "\"$CLI\" ltc-encode --follow --rate 25 >/dev/null" << 2
            << "ltc-encode: --rate does not go with --follow: the sender gives the rate and the "
               "time, and the run lasts until it is interrupted";
        QTest::newRow("--freewheel without --follow")
            << "\"$CLI\" ltc-encode --freewheel 10 --output -" << 2
            << "ltc-encode: --freewheel goes with --follow";
    }

    // One line on stderr and nothing sent.
    void refusals()
    {
        QFETCH(QString, line);
        QFETCH(int, exitCode);
        QFETCH(QString, error);
        Receiver receiver;
        QVERIFY(receiver.open());
        QTemporaryDir dir;
        QFile silence(dir.filePath(QStringLiteral("silence.wav")));
        QVERIFY(silence.open(QIODevice::WriteOnly));
        silence.write(QByteArray("RIFF\x24\xbb\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x80\xbb\0\0"
                                 "\0\x77\x01\0\x02\0\x10\0data\0\xbb\0\0",
                                 44) +
                      QByteArray(48000, '\0'));
        silence.close();
        QFile text(dir.filePath(QStringLiteral("text.wav")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("10:00:00:00\n");
        text.close();
        const Finished run = runShell(QStringLiteral("DIR='%1'; ").arg(dir.path()) + line);
        QCOMPARE(run.err, QStringLiteral("chronolume-cli: ") +
                              QString(error).replace(QStringLiteral("$DIR"), dir.path()) +
                              QLatin1Char('\n'));
        QCOMPARE(run.exitCode, exitCode);
        QTest::qWait(50);
        QCOMPARE(receiver.take(), QStringList());
    }
};

QTEST_GUILESS_MAIN(CliLtcTest)
#include "tst_cliltc.moc"
