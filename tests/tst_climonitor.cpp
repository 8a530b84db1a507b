// chronolume-cli monitor as it runs: the real program in this test's network namespace, fed real
// ArtTimeCode datagrams from a sender on 127.0.0.2 at a paced rate, with faults put in on
// purpose, read back through its JSON lines, its table and its exit status.
#include "patience.h"
#include "sandbox.h"
#include "terminal.h"
#include "timecode.h"
#include "traffic.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <csignal>
#include <thread>

using namespace TestSupport;

namespace {

const QHostAddress kSenderAddress(QStringLiteral("127.0.0.2"));

// Nominal periods in nanoseconds, written out here rather than taken from the program.
qint64 periodNs(quint8 type)
{
    const qint64 periods[] = {41'666'667, 40'000'000, 33'366'667, 33'333'333};
    return periods[type];
}

// One datagram of a scenario: its timecode and when it leaves, from the scenario's start.
struct Frame
{
    TimecodeRecord timecode;
    qint64 atNs = 0;
};

// What the sender does to an otherwise steady stream.
enum class Fault { None, Drop3, Repeat2, Locate, TypeChange, StopAndResume, RateFast2 };

// Three seconds of frames at the type's nominal rate, across midnight (at 29.97 across the
// first minute, whose frames 00 and 01 the numbering skips); then the fault.
QList<Frame> scenario(quint8 type, Fault fault)
{
    const int count = type == 0 ? 72 : type == 1 ? 75 : 90;
    double period = double(periodNs(type));
    if (fault == Fault::RateFast2)
        period /= 1.02;
    TimecodeRecord tc;
    tc.hours = type == 2 ? 0 : 23;
    tc.minutes = type == 2 ? 0 : 59;
    tc.seconds = 59;
    tc.type = type;
    QList<Frame> frames;
    qint64 silenceNs = 0;
    for (int i = 0; i < count; ++i) {
        // Long enough that one of the once-a-second lines falls into the stopped time.
        if (fault == Fault::StopAndResume && i == count / 2)
            silenceNs = 2'200'000'000;
        if (fault == Fault::Locate && i == count / 2)
            tc.hours = 10;
        if (fault == Fault::TypeChange && i == count / 2)
            tc.type = quint8(type == 1 ? 3 : 1);
        const bool dropped = fault == Fault::Drop3 && i >= count / 2 && i < count / 2 + 3;
        if (!dropped)
            frames.append(Frame{tc, std::llround(i * period) + silenceNs});
        if (fault == Fault::Repeat2 && (i == 10 || i == 30))
            continue; // the same timecode goes out again in the next slot
        tc = Timecode::next(tc);
    }
    return frames;
}

// Sends the frames at their times from now on, on absolute deadlines.
bool sendFrames(const QList<Frame>& frames)
{
    QUdpSocket socket;
    if (!socket.bind(kSenderAddress, 0))
        return false;
    const auto start = std::chrono::steady_clock::now();
    for (const Frame& f : frames) {
        std::this_thread::sleep_until(start + std::chrono::nanoseconds(f.atNs));
        const TimecodeRecord& t = f.timecode;
        if (socket.writeDatagram(artTimeCode(t.frames, t.seconds, t.minutes, t.hours, t.type),
                                 QHostAddress(QHostAddress::LocalHost), kArtNetPort) < 0)
            return false;
    }
    return true;
}

// The bytes waiting in the receive queue of the socket on port 6454, as the namespace lists
// them; -1 while there is none. Read, not probed with a bind of its own, which the program
// would take for another program on the port.
qint64 receiveQueueBytes()
{
    QFile sockets(QStringLiteral("/proc/net/udp"));
    if (!sockets.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray local = ":" + QByteArray::number(kArtNetPort, 16).toUpper();
    for (const QByteArray& line : sockets.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // sl, local address, remote address, state, tx_queue:rx_queue
        if (fields.size() > 4 && fields.at(1).endsWith(local))
            return fields.at(4).mid(fields.at(4).indexOf(':') + 1).toLongLong(nullptr, 16);
    }
    return -1;
}

bool portTaken()
{
    return receiveQueueBytes() >= 0;
}

// monitor captures: a packet socket in this namespace (no other program here opens one) with
// its filter for port 6454 attached. Until then the capture may still drop what it sees.
bool captureOpen()
{
    QProcess ss;
    ss.start(QStringLiteral("ss"), {QStringLiteral("--packet"), QStringLiteral("--bpf")});
    return ss.waitForFinished(Patience::ms()) && ss.readAllStandardOutput().contains(" 6454,");
}

// The bytes waiting in the capture's receive queue; -1 while there is no capture.
qint64 captureQueueBytes()
{
    QFile sockets(QStringLiteral("/proc/net/packet"));
    if (!sockets.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = sockets.readAll().split('\n');
    // sk, RefCnt, Type, Proto, Iface, R, Rmem, ...
    const QList<QByteArray> fields = lines.value(1).simplified().split(' ');
    return fields.size() > 6 ? fields.at(6).toLongLong() : -1;
}

// monitor listens, by capture or on the port it shares.
bool listening()
{
    return captureOpen() || portTaken();
}

// Eight desks on 127.0.0.2 to 127.0.0.9, each counting its own frames at 30 fps, on absolute
// deadlines, for `count` frames.
bool sendEightDesks(int count)
{
    QUdpSocket desks[8];
    for (int d = 0; d < 8; ++d) {
        if (!desks[d].bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(d + 2)), 0))
            return false;
    }
    const auto start = std::chrono::steady_clock::now();
    TimecodeRecord tc;
    tc.type = 3;
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_until(start + std::chrono::nanoseconds(i * periodNs(3)));
        const QByteArray datagram =
            artTimeCode(tc.frames, tc.seconds, tc.minutes, tc.hours, tc.type);
        for (QUdpSocket& desk : desks) {
            if (desk.writeDatagram(datagram, QHostAddress(QHostAddress::LocalHost), kArtNetPort) <
                0)
                return false;
        }
        tc = Timecode::next(tc);
    }
    return true;
}

// The window, with a settings store of its own, as a user starts it.
void startWindow(QProcess& window, const QTemporaryDir& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    window.setProcessEnvironment(env);
    window.start(QStringLiteral(CHRONOLUME_WINDOW), {});
}

// The screen of a terminal `columns` wide after the output: what a terminal does with text, a
// carriage return, a line break, the cursor up (ESC [ n A), erase to the end of the line
// (ESC [ K) and of the screen (ESC [ J), wrapping a line at the last column.
QStringList screenAfter(const QByteArray& output, int columns)
{
    QStringList screen(1);
    int row = 0;
    int column = 0;
    for (int i = 0; i < output.size(); ++i) {
        const char c = output.at(i);
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            if (++row == screen.size())
                screen.append(QString());
        } else if (c == '\x1b' && i + 1 < output.size() && output.at(i + 1) == '[') {
            int j = i + 2;
            int n = 0;
            while (j < output.size() && output.at(j) >= '0' && output.at(j) <= '9')
                n = n * 10 + (output.at(j++) - '0');
            const char command = j < output.size() ? output.at(j) : '\0';
            if (command == 'A')
                row = qMax(0, row - qMax(1, n));
            if (command == 'K' || command == 'J')
                screen[row].truncate(column);
            if (command == 'J')
                screen = screen.mid(0, row + 1);
            i = j;
        } else {
            if (column == columns) {
                column = 0;
                if (++row == screen.size())
                    screen.append(QString());
            }
            QString& line = screen[row];
            if (line.size() <= column)
                line = line.leftJustified(column + 1);
            line[column++] = QLatin1Char(c);
        }
    }
    return screen;
}

class MonitorRun
{
public:
    // Standard output on the named terminal where one is given, else on a pipe. Without
    // capture, it runs as a user without CAP_NET_RAW would (the capability taken away by
    // setpriv, which then runs it in its own place).
    explicit MonitorRun(const QStringList& arguments, const QString& terminal = QString(),
                        bool capture = true)
    {
        if (!terminal.isEmpty())
            process.setStandardOutputFile(terminal);
        const QStringList command =
            QStringList{QStringLiteral(CHRONOLUME_CLI), QStringLiteral("monitor")} + arguments;
        if (capture) {
            process.setProgram(command.first());
            process.setArguments(command.mid(1));
        } else {
            process.setProgram(QStringLiteral("setpriv"));
            process.setArguments(QStringList{QStringLiteral("--inh-caps=-net_raw"),
                                             QStringLiteral("--bounding-set=-net_raw"),
                                             QStringLiteral("--")} +
                                 command);
        }
        process.start();
    }
    ~MonitorRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    // Ends the run as an operator would, with SIGTERM, or waits for it to end by itself after
    // the forSeconds it was given, and collects what it wrote. A signal ends it at its next tick,
    // a tenth of a second on.
    bool finish(bool terminate = true, double forSeconds = 0)
    {
        if (terminate)
            process.terminate();
        if (!process.waitForFinished(Patience::seconds(forSeconds + 0.1)))
            return false;
        out = process.readAllStandardOutput();
        err = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit;
    }
    QProcess process;
    QByteArray out;
    QByteArray err;
};

// Every line of the output parsed as a JSON object holding every field, of the right kind.
bool jsonObjects(const QByteArray& out, QList<QJsonObject>* objects)
{
    const QStringList numbers = {"stream",        "type",          "frames",      "measured_fps",
                                 "missing",       "repeated",      "jumps",       "late",
                                 "duplicate",     "reverse",       "dropout",     "silent_s",
                                 "jitter_p50_ms", "jitter_p99_ms", "kernel_drops"};
    const QStringList strings = {"sender", "timecode", "rate_name"};
    const QStringList flags = {"stopped", "conflict", "final"};
    for (const QByteArray& line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            qWarning() << "not a JSON object:" << line;
            return false;
        }
        const QJsonObject o = doc.object();
        if (o.size() != numbers.size() + strings.size() + flags.size()) {
            qWarning() << "unexpected keys:" << o.keys();
            return false;
        }
        for (const QString& key : numbers)
            if (!o.value(key).isDouble())
                return false;
        for (const QString& key : strings)
            if (!o.value(key).isString())
                return false;
        for (const QString& key : flags)
            if (!o.value(key).isBool())
                return false;
        objects->append(o);
    }
    return true;
}

} // namespace

class CliMonitorTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    // chronolume-cli send at each rate, across midnight (at 29.97 across a minute that skips
    // frames 00 and 01) is healthy, and measured at its rate.
    void generatorIsHealthy_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QString>("end");
        QTest::addColumn<double>("fps");
        QTest::newRow("24 fps") << "24" << 0 << "23:59:59:00" << 72 << "00:00:01:23" << 24.0;
        QTest::newRow("25 fps") << "25" << 1 << "23:59:59:00" << 75 << "00:00:01:24" << 25.0;
        QTest::newRow("29.97 fps drop-frame")
            << "29.97" << 2 << "00:00:59:00" << 90 << "00:01:02:01" << 30000.0 / 1001.0;
        QTest::newRow("30 fps") << "30" << 3 << "23:59:59:00" << 90 << "00:00:01:29" << 30.0;
    }
    void generatorIsHealthy()
    {
        QFETCH(QString, rate);
        QFETCH(int, type);
        QFETCH(QString, start);
        QFETCH(int, frames);
        QFETCH(QString, end);
        QFETCH(double, fps);

        MonitorRun run({QStringLiteral("--json")});
        QTRY_VERIFY_WITH_TIMEOUT(listening(), Patience::ms());
        QProcess send;
        send.start(QStringLiteral(CHRONOLUME_CLI),
                   {QStringLiteral("send"), QStringLiteral("--rate"), rate,
                    QStringLiteral("--start"), start, QStringLiteral("--frames"),
                    QString::number(frames), QStringLiteral("--to"), QStringLiteral("127.0.0.1"),
                    QStringLiteral("--quiet")});
        QVERIFY(send.waitForFinished(Patience::frames(frames, fps)));
        QCOMPARE(send.exitCode(), 0);
        QVERIFY(run.finish());
        // A generator held off the processor past a frame's time skips that frame rather than
        // send it late, and says so: monitor must count exactly what was sent.
        const QByteArray summary = send.readAllStandardOutput();
        const QRegularExpressionMatch said =
            QRegularExpression(QStringLiteral("^sent (\\d+) frames .*?(?:, (\\d+) skipped)?\\n$"))
                .match(QString::fromUtf8(summary));
        QVERIFY2(said.hasMatch(), summary.constData());
        const int sent = said.captured(1).toInt();
        const int skipped = said.captured(2).toInt();
        QCOMPARE(sent + skipped, frames);

        QList<QJsonObject> lines;
        QVERIFY(jsonObjects(run.out, &lines));
        QVERIFY(!lines.isEmpty());
        const QJsonObject last = lines.last();
        QCOMPARE(last.value("final").toBool(), true);
        QCOMPARE(last.value("sender").toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(last.value("timecode").toString(), end);
        QCOMPARE(last.value("type").toInt(), type);
        QCOMPARE(last.value("frames").toInt(), sent);
        QVERIFY(last.value("missing").toInt() <= skipped);
        QCOMPARE(last.value("repeated").toInt(), 0);
        QCOMPARE(last.value("jumps").toInt(), 0);
        QCOMPARE(last.value("stopped").toBool(), false);
        if (skipped > 0)
            return; // the run is then as unhealthy as monitor says, and its rate is not the rate
        const double measured = last.value("measured_fps").toDouble();
        QVERIFY2(qAbs(measured - fps) < fps * 0.005, qPrintable(QString::number(measured)));
        QCOMPARE(run.process.exitCode(), 0);
    }

    // A sender of this test's own, steady but for one fault each: the final JSON line counts
    // what was done and the exit status says whether the run was healthy.
    void countsWhatTheSenderDid_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("missing");
        QTest::addColumn<int>("repeated");
        QTest::addColumn<int>("jumps");
        QTest::addColumn<double>("fps");
        QTest::addColumn<int>("status");

        const double rates[] = {24.0, 25.0, 30000.0 / 1001.0, 30.0};
        QTest::newRow("three frames dropped are missing")
            << 1 << int(Fault::Drop3) << 3 << 0 << 0 << -1.0 << 1;
        QTest::newRow("frames sent twice are repeated, and still healthy")
            << 1 << int(Fault::Repeat2) << 0 << 2 << 0 << rates[1] << 0;
        QTest::newRow("a locate is a jump")
            << 3 << int(Fault::Locate) << 0 << 0 << 1 << rates[3] << 1;
        QTest::newRow("a change of Type is a jump")
            << 1 << int(Fault::TypeChange) << 0 << 0 << 1 << -1.0 << 1;
        QTest::newRow("a sender that stops and resumes was not healthy")
            << 1 << int(Fault::StopAndResume) << 0 << 0 << 0 << rates[1] << 1;
        QTest::newRow("a rate 2 % fast is off")
            << 1 << int(Fault::RateFast2) << 0 << 0 << 0 << rates[1] * 1.02 << 1;
    }
    void countsWhatTheSenderDid()
    {
        QFETCH(int, type);
        QFETCH(int, fault);
        QFETCH(int, missing);
        QFETCH(int, repeated);
        QFETCH(int, jumps);
        QFETCH(double, fps);
        QFETCH(int, status);

        const QList<Frame> frames = scenario(quint8(type), Fault(fault));
        MonitorRun run({QStringLiteral("--json")});
        QTRY_VERIFY_WITH_TIMEOUT(listening(), Patience::ms());
        QVERIFY(sendFrames(frames));
        QVERIFY(run.finish());
        QVERIFY2(run.err.isEmpty(), run.err.constData());

        QList<QJsonObject> lines;
        QVERIFY(jsonObjects(run.out, &lines));
        QVERIFY(!lines.isEmpty());
        const QJsonObject last = lines.last();
        QCOMPARE(last.value("final").toBool(), true);
        for (int i = 0; i + 1 < lines.size(); ++i)
            QCOMPARE(lines.at(i).value("final").toBool(), false);
        QCOMPARE(last.value("sender").toString(), QStringLiteral("127.0.0.2"));
        const TimecodeRecord& end = frames.last().timecode;
        QCOMPARE(last.value("timecode").toString(), QStringLiteral("%1:%2:%3:%4")
                                                        .arg(end.hours, 2, 10, QLatin1Char('0'))
                                                        .arg(end.minutes, 2, 10, QLatin1Char('0'))
                                                        .arg(end.seconds, 2, 10, QLatin1Char('0'))
                                                        .arg(end.frames, 2, 10, QLatin1Char('0')));
        QCOMPARE(last.value("type").toInt(), int(end.type));
        QCOMPARE(last.value("frames").toInt(), int(frames.size()));
        QCOMPARE(last.value("missing").toInt(), missing);
        QCOMPARE(last.value("repeated").toInt(), repeated);
        QCOMPARE(last.value("jumps").toInt(), jumps);
        QCOMPARE(last.value("stopped").toBool(), false);
        bool stoppedSeen = false;
        for (const QJsonObject& line : lines)
            stoppedSeen = stoppedSeen || line.value("stopped").toBool();
        QCOMPARE(stoppedSeen, Fault(fault) == Fault::StopAndResume);
        if (fps > 0) {
            // A loaded machine delays single arrivals, not the rate over seconds.
            const double measured = last.value("measured_fps").toDouble();
            QVERIFY2(qAbs(measured - fps) < fps * 0.005, qPrintable(QString::number(measured)));
        }
        QCOMPARE(run.process.exitCode(), status);
    }

    // The rate names, one per Type, as the JSON lines carry them.
    void namesEachRate()
    {
        QList<Frame> frames;
        for (quint8 type = 0; type < 5; ++type) {
            TimecodeRecord tc;
            tc.type = type;
            frames.append(Frame{tc, type * 1'000'000});
        }
        MonitorRun run({QStringLiteral("--json")});
        QTRY_VERIFY_WITH_TIMEOUT(listening(), Patience::ms());
        QVERIFY(sendFrames(frames));
        QVERIFY(run.finish());
        QList<QJsonObject> lines;
        QVERIFY(jsonObjects(run.out, &lines));
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.at(0).value("rate_name").toString(), QStringLiteral("unknown"));
        QCOMPARE(lines.at(0).value("type").toInt(), 4);
        QCOMPARE(lines.at(0).value("jumps").toInt(), 4);
        QCOMPARE(run.process.exitCode(), 1);
    }

    // --for ends the run by itself: nothing heard is status 3 and no line at all.
    void nothingHeard()
    {
        MonitorRun run({QStringLiteral("--json"), QStringLiteral("--for"), QStringLiteral("0.3")});
        QVERIFY(run.finish(false, 0.3));
        QCOMPARE(run.out, QByteArray());
        QCOMPARE(run.err, QByteArray("chronolume-cli: monitor: no ArtTimeCode heard\n"));
        QCOMPARE(run.process.exitCode(), 3);
    }

    // On a pipe without --json: only the final table, no terminal controls; SIGINT ends the run
    // as SIGTERM does.
    void finalTableOnAPipe()
    {
        MonitorRun run({});
        QTRY_VERIFY_WITH_TIMEOUT(listening(), Patience::ms());
        QVERIFY(sendFrames(scenario(1, Fault::None)));
        QCOMPARE(::kill(pid_t(run.process.processId()), SIGINT), 0);
        QVERIFY(run.finish(false));
        const QList<QByteArray> lines = run.out.split('\n');
        QCOMPARE(lines.size(), 3); // header, one sender, the final line break
        QVERIFY(lines.at(0).startsWith("SENDER     TIMECODE     RATE    FRAMES  FPS"));
        QVERIFY(lines.at(1).startsWith("127.0.0.2  00:00:01:24  25 FPS  75      2"));
        QVERIFY(lines.at(1).endsWith("running"));
        QVERIFY(!run.out.contains('\x1b'));
        QVERIFY(!run.out.contains('\r'));
        QCOMPARE(run.process.exitCode(), 0);
    }

    // On a terminal (here the pseudo-terminal of script(1)) the table stands still: each redraw
    // goes back up over the last one and clears what it overwrites.
    void tableRedrawnOnATerminal()
    {
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty(),
                 "script(1) from util-linux is missing");
        QProcess terminal;
        terminal.start(QStringLiteral("script"),
                       {QStringLiteral("-qec"),
                        QStringLiteral("%1 monitor --for 2.5").arg(QStringLiteral(CHRONOLUME_CLI)),
                        QStringLiteral("/dev/null")});
        QTRY_VERIFY_WITH_TIMEOUT(listening(), Patience::ms());
        QVERIFY(sendFrames(scenario(1, Fault::None).mid(0, 25)));
        QVERIFY(terminal.waitForFinished(Patience::seconds(2.5)));
        const QByteArray out = terminal.readAllStandardOutput();
        QVERIFY2(out.startsWith("\rwaiting for ArtTimeCode on UDP port 6454\x1b[K"), out.left(80));
        // Two lines (header and sender) drawn over again, many times over 2.5 s.
        QVERIFY2(out.count("\x1b[2A\rSENDER") >= 10, out.right(400));
        QVERIFY(out.contains("\r127.0.0.2  23:59:59:24  25 FPS  25"));
        // The sender stopped a second before the end: the line that says so under the table.
        QVERIFY2(out.contains("\x1b[K\r\n\x1b[J127.0.0.2: 1."), out.right(200));
        QVERIFY(out.endsWith(" s without timecode\r\n"));
    }

    // In an 80 × 24 terminal the table leaves out what does not fit: many redraws later the
    // screen holds one table, no pile of wrapped copies.
    void oneTableOnAnEightyColumnTerminal()
    {
        PausableTerminal terminal;
        QVERIFY(terminal.isOpen() && terminal.setSize(80, 24));
        MonitorRun run({QStringLiteral("--for"), QStringLiteral("2.5")}, terminal.name());
        QTRY_VERIFY_WITH_TIMEOUT(listening(), Patience::ms());
        QVERIFY(sendFrames(scenario(1, Fault::None).mid(0, 40)));
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT(
            (out += terminal.read(), run.process.state() == QProcess::NotRunning),
            Patience::seconds(2.5));
        out += terminal.read();
        QVERIFY2(out.count("\x1b[2A\rSENDER") >= 10, out.right(400));
        const QStringList screen = screenAfter(out, 80);
        QCOMPARE(screen.filter(QRegularExpression(QStringLiteral("^SENDER"))).size(), 1);
        QCOMPARE(screen.filter(QRegularExpression(QStringLiteral("^127\\.0\\.0\\.2 "))).size(), 1);
        for (const QString& line : screen)
            QVERIFY2(line.size() < 80, qPrintable(line));
    }

    // A terminal narrowed while monitor runs (SIGWINCH): the redraws after it fit the new width.
    void narrowedTerminalNarrowsTheTable()
    {
        PausableTerminal terminal;
        QVERIFY(terminal.isOpen() && terminal.setSize(200, 24));
        MonitorRun run({QStringLiteral("--for"), QStringLiteral("2.5")}, terminal.name());
        QTRY_VERIFY_WITH_TIMEOUT(listening(), Patience::ms());
        QVERIFY(sendFrames(scenario(1, Fault::None).mid(0, 10)));
        QByteArray out;
        // The table is drawn again every tenth of a second.
        QTRY_VERIFY_WITH_TIMEOUT((out += terminal.read()).contains("DUPLICATE"), Patience::ms(100));
        QVERIFY(terminal.setSize(60, 24));
        QCOMPARE(::kill(pid_t(run.process.processId()), SIGWINCH), 0);
        QTRY_VERIFY_WITH_TIMEOUT(
            (out += terminal.read(), run.process.state() == QProcess::NotRunning),
            Patience::seconds(2.5));
        out += terminal.read();
        const QByteArray last = out.mid(out.lastIndexOf("\rSENDER"));
        QVERIFY2(last.startsWith("\rSENDER  ") && !last.contains("DUPLICATE"), last);
        for (QByteArray line : last.split('\n')) {
            line.replace("\r", "").replace("\x1b[K", "").replace("\x1b[J", "");
            QVERIFY2(line.size() < 60, line);
        }
    }

    // Its terminal paused (Ctrl-S) for over ten seconds, monitor writes nothing and hears
    // everything all the same: once the terminal moves, eight desks at 30 fps are healthy at
    // their rate, with every frame counted and none missing.
    void pausedTerminalLosesNothing()
    {
        PausableTerminal terminal;
        QVERIFY(terminal.isOpen() && terminal.pause());
        MonitorRun run({QStringLiteral("--json")}, terminal.name());
        QTRY_VERIFY_WITH_TIMEOUT(listening(), Patience::ms());
        constexpr int kFrames = 315; // 10.5 s
        QVERIFY(sendEightDesks(kFrames));
        // Read as it came, not kept waiting in the capture for the terminal.
        QTRY_COMPARE_WITH_TIMEOUT(captureQueueBytes(), qint64(0), Patience::ms());
        QCOMPARE(terminal.read(), QByteArray());
        QVERIFY(terminal.resume());
        run.process.terminate();
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT(
            (out += terminal.read(), run.process.state() == QProcess::NotRunning),
            Patience::ms(100));
        out += terminal.read();
        QCOMPARE(run.process.exitCode(), 0);

        QList<QJsonObject> lines;
        QVERIFY(jsonObjects(out.replace("\r\n", "\n"), &lines));
        QStringList finals;
        for (const QJsonObject& line : std::as_const(lines)) {
            if (!line.value("final").toBool())
                continue;
            finals.append(line.value("sender").toString());
            for (const char* key : {"missing", "late", "repeated", "jumps", "duplicate"})
                QCOMPARE(line.value(key).toInt(), 0);
            QCOMPARE(line.value("frames").toInt(), kFrames);
            QVERIFY(qAbs(line.value("measured_fps").toDouble() - 30.0) < 0.3);
        }
        QCOMPARE(finals.size(), 8);
    }

    void withoutCaptureThePortIsShared_data()
    {
        QTest::addColumn<bool>("windowFirst");
        QTest::newRow("the window first") << true;
        QTest::newRow("monitor first") << false;
    }

    // Without CAP_NET_RAW monitor says how to grant it. Started first, it shares port 6454 with
    // the window that comes later, which says so and takes the unicast; started after the window
    // it takes nothing, on the broadcast addresses only, and says what it cannot see. Having
    // heard nothing, it names the other program as where the timecode may have gone.
    void withoutCaptureThePortIsShared()
    {
        QFETCH(bool, windowFirst);
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcess window;
        std::unique_ptr<MonitorRun> run;
        if (windowFirst) {
            startWindow(window, home);
            QTRY_VERIFY_WITH_TIMEOUT(portTaken(), Patience::ms());
            run = std::make_unique<MonitorRun>(QStringList{"--for", "0.5"}, QString(), false);
            QVERIFY(run->finish(false, 0.5));
        } else {
            run = std::make_unique<MonitorRun>(QStringList{}, QString(), false);
            QTRY_VERIFY_WITH_TIMEOUT(portTaken(), Patience::ms());
            QVERIFY(!captureOpen());
            startWindow(window, home);
            QByteArray windowOut;
            QTRY_VERIFY_WITH_TIMEOUT(
                (windowOut += window.readAllStandardOutput())
                    .contains("another program already listens on UDP port 6454; unicast "
                              "timecode to this machine reaches only the program that bound "
                              "the port last\n"),
                Patience::ms());
            QVERIFY(run->finish());
        }
        window.terminate();
        QVERIFY(window.waitForFinished(Patience::ms()));

        // Beside the window's port, only on the broadcast addresses (here there are none).
        QByteArray expected =
            windowFirst ? "chronolume-cli: monitor: without CAP_NET_RAW, timecode sent to this "
                          "machine's own address is not seen; grant it with: sudo setcap "
                          "cap_net_raw+ep " CHRONOLUME_CLI "\n"
                        : "chronolume-cli: monitor: packet capture needs CAP_NET_RAW (grant it "
                          "with: sudo setcap cap_net_raw+ep " CHRONOLUME_CLI "); sharing UDP port "
                          "6454 instead\n";
        expected += "chronolume-cli: monitor: no ArtTimeCode heard; another program listens on "
                    "UDP port 6454 and may be receiving the timecode sent to this machine's own "
                    "address\n";
        QCOMPARE(run->err, expected);
        QCOMPARE(run->process.exitCode(), 3);
    }

    void helpOnStandardOutput()
    {
        MonitorRun run({QStringLiteral("--help")});
        QVERIFY(run.finish(false));
        QCOMPARE(run.process.exitCode(), 0);
        QVERIFY2(run.out.startsWith("Usage: chronolume-cli monitor [options]\n"), run.out);
        QVERIFY(run.out.contains("--for <SECONDS>"));
        QCOMPARE(run.err, QByteArray());
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("--for not a number")
            << QStringList{"--for", "soon"}
            << QByteArray("monitor: --for needs a positive number of seconds, not \"soon\"");
        QTest::newRow("--for zero")
            << QStringList{"--for", "0"} << QByteArray("monitor: --for needs a positive number");
        QTest::newRow("--for negative")
            << QStringList{"--for=-3"} << QByteArray("monitor: --for needs a positive number");
        QTest::newRow("--for without its value")
            << QStringList{"--for"} << QByteArray("monitor: Missing value after '--for'.");
        QTest::newRow("an unknown option")
            << QStringList{"--rate", "25"} << QByteArray("monitor: Unknown option 'rate'.");
        QTest::newRow("a stray argument")
            << QStringList{"now"} << QByteArray("monitor: unexpected argument \"now\"");
    }
    void badInput()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, error);
        MonitorRun run(arguments);
        QVERIFY(run.finish(false));
        QCOMPARE(run.process.exitCode(), 2);
        QVERIFY2(run.err.startsWith("chronolume-cli: " + error), run.err.constData());
        QCOMPARE(run.err.count('\n'), 1);
        QCOMPARE(run.out, QByteArray());
    }
};

QTEST_GUILESS_MAIN(CliMonitorTest)
#include "tst_climonitor.moc"
