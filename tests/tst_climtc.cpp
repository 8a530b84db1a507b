// mtc-encode --follow and mtc-bridge as a user runs them, through the MIDI ports of a JACK server
// with the dummy backend that the test starts itself (a name of its own, so tests running side by
// side never share one): send -> mtc-encode --follow -> mtc-bridge -> a receiver. Skipped where
// no jackd is installed.
#include "finished.h"
#include "sandbox.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>
#include <sys/prctl.h>

using namespace TestSupport;

namespace {

const QString kCli = QStringLiteral(CHRONOLUME_CLI);

// A JACK server of its own, ended by its PID when the test ends. Synchronous (-S): each period
// it waits for every client, so on a machine too busy for the period MIDI comes late; a server
// that runs on without a late client loses that client's messages of the period.
class JackServer
{
public:
    JackServer(const QString& jackd, const QString& name) : name(name)
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        // Ended with the test also when the test is killed (its time-out) or crashes.
        process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process.start(jackd, {"-S", "-n", name, "-d", "dummy", "-r", "48000", "-p", "32"});
    }
    ~JackServer()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    // Ready once a client can list its ports: polled, for ten seconds at most.
    bool ready(const QString& jackLsp)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("JACK_DEFAULT_SERVER"), name);
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000 && process.state() != QProcess::NotRunning) {
            QProcess lsp;
            lsp.setProcessEnvironment(environment);
            lsp.start(jackLsp, {});
            if (lsp.waitForFinished(5000) && lsp.exitStatus() == QProcess::NormalExit &&
                lsp.exitCode() == 0)
                return true;
            QTest::qWait(50);
        }
        return false;
    }
    QString output() { return QString::fromLocal8Bit(process.readAll()); }

    const QString name;

private:
    QProcess process;
};

// Listens where only the bridge sends, and reads ArtTimeCode back as "HH:MM:SS:FF/Type sN".
struct Receiver
{
    QUdpSocket socket;
    bool open()
    {
        return socket.bind(QHostAddress(QStringLiteral("127.0.0.2")), 6454,
                           QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
    }
    QStringList take()
    {
        QStringList times;
        while (socket.hasPendingDatagrams()) {
            const QByteArray d = socket.receiveDatagram().data();
            if (d.size() == 20 && d.startsWith(QByteArray("Art-Net\0\x00\x97", 10)))
                times.append(QString::asprintf("%02d:%02d:%02d:%02d/%d s%d", d[17], d[16], d[15],
                                               d[14], d[18], quint8(d[13])));
            else
                times.append(QStringLiteral("not ArtTimeCode: ") + QString::fromLatin1(d.toHex()));
        }
        return times;
    }
};

// The times of `count` frames from `start`, counted in the rate's numbering by hand.
QStringList frames(int fps, bool drop, const QString& start, int count, int type,
                   const QString& suffix = QString())
{
    const QStringList f = start.split(QLatin1Char(':'));
    int h = f[0].toInt(), m = f[1].toInt(), s = f[2].toInt(), fr = f[3].toInt();
    QStringList times;
    for (int i = 0; i < count; ++i) {
        times.append(QString::asprintf("%02d:%02d:%02d:%02d/%d", h, m, s, fr, type) + suffix);
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

QString readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

} // namespace

class CliMtcTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        REQUIRE_PRIVATE_NETWORK();
        // QSKIP's expansion written out, as in sandbox.h: clang's pedantic warnings reject
        // QSKIP with its message alone.
        if (QStandardPaths::findExecutable(QStringLiteral("jackd")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("jack_lsp")).isEmpty()) {
            QTest::qSkip("no jackd and jack_lsp here (Debian's jackd2)", __FILE__, __LINE__);
            return;
        }
    }

    void followThroughMtc_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("25") << "25" << frames(25, false, "10:00:59:00", 50, 1);
        QTest::newRow("29.97") << "29.97" << frames(30, true, "00:00:59:00", 60, 2);
    }

    // Two seconds of ArtTimeCode followed as MTC and bridged back: every frame from the first
    // the follower writes, in order, none twice, across a drop-frame minute, on the stream
    // asked for; after the last one the numbering goes on until the sender counts as silent,
    // then the MTC stops and the bridge says it lost it, naming the last frame it sent.
    void followThroughMtc()
    {
        QFETCH(QString, rate);
        QFETCH(QStringList, sent);
        static int servers = 0;
        JackServer jack(QStandardPaths::findExecutable(QStringLiteral("jackd")),
                        QStringLiteral("chronolume-test-%1-%2")
                            .arg(QCoreApplication::applicationPid())
                            .arg(++servers));
        const QString jackLsp = QStandardPaths::findExecutable(QStringLiteral("jack_lsp"));
        QVERIFY2(jack.ready(jackLsp), qPrintable(jack.output()));
        Receiver receiver;
        QVERIFY(receiver.open());
        QTemporaryDir dir;

        QProcess shell;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CLI"), kCli);
        environment.insert(QStringLiteral("LSP"), jackLsp);
        environment.insert(QStringLiteral("DIR"), dir.path());
        environment.insert(QStringLiteral("JACK_DEFAULT_SERVER"), jack.name);
        shell.setProcessEnvironment(environment);
        // Each wait is for something the programs promise, bounded at ten seconds.
        const QString script =
            QStringLiteral(
                "wait_for() { i=0; until eval \"$1\"; do i=$((i+1)); [ $i -lt 200 ] || "
                "{ echo \"waited in vain: $1\" >&2; exit 7; }; sleep 0.05; done; }\n"
                "\"$CLI\" mtc-bridge --midi-api jack --port 'MTC in' --stream 1 --to 127.0.0.2 "
                ">\"$DIR/bridge.out\" 2>\"$DIR/bridge.err\" & bridge=$!\n"
                "wait_for '\"$LSP\" | grep -q \":MTC in$\"'\n"
                "\"$CLI\" mtc-encode --follow 127.0.0.1:0 --freewheel 0 --midi-api jack "
                "--connect 'MTC in' >\"$DIR/encode.out\" 2>\"$DIR/encode.err\" & encode=$!\n"
                // Its port appears once the encoder listens for ArtTimeCode.
                "wait_for '\"$LSP\" | grep -q \":Chronolume MTC$\"'\n"
                "\"$CLI\" send --rate %1 --start %2 --frames %3 --to 127.0.0.1 >/dev/null || exit "
                "9\n"
                "wait_for 'grep -q \"MTC lost\" \"$DIR/bridge.err\"'\n"
                "kill -TERM $encode $bridge\n"
                "wait $encode; echo \"encode $?\"; wait $bridge; echo \"bridge $?\"\n")
                .arg(rate, sent.first().left(11))
                .arg(sent.size());
        shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
        const Finished run = finish(shell, 30000);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err + readFile(dir.filePath("bridge.err"))));
        QCOMPARE(run.out, QStringLiteral("encode 0\nbridge 0\n"));

        QStringList got;
        QTRY_VERIFY(!(got += receiver.take()).isEmpty());
        got += receiver.take();
        // The follower's first frame is the one after the first datagram it heard; past it,
        // every frame sent and up to a second and a frame more, the last one two frames on
        // from the last whole time the quarter frames carried.
        const int type = sent.first().right(1).toInt();
        const int first = int(sent.indexOf(got.first().left(13)));
        QVERIFY2(first >= 1 && first <= 3, qPrintable(got.join(QLatin1Char(' '))));
        const int fps = rate == QLatin1String("25") ? 25 : 30;
        QVERIFY2(got.size() >= sent.size() - first && got.size() <= sent.size() - first + fps + 2,
                 qPrintable(got.join(QLatin1Char(' '))));
        QCOMPARE(got, frames(fps, type == 2, sent.at(first).left(11), int(got.size()), type,
                             QStringLiteral(" s1")));

        QCOMPARE(readFile(dir.filePath("bridge.err")),
                 QStringLiteral("chronolume-cli: mtc-bridge: MTC lost after %1\n")
                     .arg(got.last().left(11)));
        QCOMPARE(readFile(dir.filePath("bridge.out")),
                 QStringLiteral("decoded %1 frames of MTC at %2 fps; sent %1, 0 errors\n")
                     .arg(got.size())
                     .arg(rate));
        QCOMPARE(readFile(dir.filePath("encode.err")),
                 QStringLiteral("following the ArtTimeCode of 127.0.0.1, stream 0\n"
                                "Art-Net timecode lost after %1, MTC stopped\n")
                     .arg(sent.last().left(11)));
    }
};

QTEST_GUILESS_MAIN(CliMtcTest)
#include "tst_climtc.moc"
