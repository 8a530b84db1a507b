// How promptly and how evenly the MTC commands work, through the MIDI ports of a JACK server with
// the dummy backend (48 kHz, periods of 32 samples) that the benchmark starts itself.
//
// mtc-encode --follow: its threads as the command runs them (the node receiving on the main
// thread, the follower's thread, the MIDI writer's thread, RtMidi's JACK client) behind 10 s of
// ArtTimeCode at each rate, sent on loopback from a thread of the benchmark, writing to
// jack_midi_dump, a reader in a process of its own. For every frame worked out on the arrival of
// the datagram before it, the delay from that arrival (the kernel's stamp) to its quarter frames
// waiting in the writer's queue, p99 (goal: under 1 ms); the spacing of consecutive quarter
// frames as the reader's sample clock has them, median (goal: a quarter frame) and p99 of its
// distance from a quarter frame (goal: within one server period); and the CPU the command's
// threads took as a share of one core (goal: under 1 %).
//
// mtc-bridge: the bridge's loop as the command runs it, fed through a JACK port by a writer of
// the benchmark that plays 10 s of MTC at each rate as mtc-encode does; from the arrival of the
// quarter frame that completes a frame to the return of its datagram's send to 127.0.0.1, p50
// and p99 (goal: p99 under 1 ms).
//
// Like the other benchmarks it runs only in a network namespace of its own, on loopback.
#include "isolation.h"

#include "framepacer.h"
#include "common/optionvalues.h"
#include "common/timecodesender.h"
#include "ltcencode/follower.h"
#include "mtc/inbox.h"
#include "mtc/messagewriter.h"
#include "mtc/midiport.h"
#include "mtc/mtcsequencer.h"
#include "mtcbridge/mtcbridgerun.h"

#include "artnet.h"
#include "timecode.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSampleRate = 48000;
constexpr int kPeriodSamples = 32;
// A period as JACK setups on show laptops often have, where the client's own wakeups cost less.
constexpr int kLongPeriodSamples = 256;
constexpr int kSeconds = 10;
constexpr qint64 kStartFrame = 900000;

double mean(const std::vector<double>& values)
{
    double sum = 0;
    for (const double value : values)
        sum += value;
    return sum / double(values.size());
}

double percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(share * double(values.size())))];
}

// CPU seconds of the process's threads that run at a real-time priority above the lowest: the
// JACK clients' process threads (libjack gives them the server's priority less 5), where the
// command's own threads ask for the lowest at most.
double jackThreadsCpuSeconds()
{
    double seconds = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task) + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // Fields after the command's name in parentheses, which may hold spaces: state is 3.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        const int utime = 14 - 3, stime = 15 - 3, rtPriority = 40 - 3;
        if (fields.size() > rtPriority && fields[rtPriority].toInt() > 1)
            seconds += double(fields[utime].toLongLong() + fields[stime].toLongLong()) /
                       double(sysconf(_SC_CLK_TCK));
    }
    return seconds;
}

double cpuSeconds(clockid_t clock)
{
    timespec time;
    clock_gettime(clock, &time);
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

// A process of the benchmark's own, ended by its PID.
class Child
{
public:
    Child(const QString& program, const QStringList& arguments, const QString& output = {})
    {
        if (!output.isEmpty())
            process.setStandardOutputFile(output);
        else
            process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(program, arguments);
        process.waitForStarted(5000);
    }
    ~Child()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }
    bool running() const { return process.state() == QProcess::Running; }

private:
    QProcess process;
};

// Waits, for ten seconds at most, until `ready` holds.
bool waitFor(const std::function<bool()>& ready)
{
    for (int i = 0; i < 200; ++i) {
        if (ready())
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool portThere(const QString& name)
{
    Midi::Output probe;
    return probe.open(Midi::Api::Jack, QStringLiteral("bench-probe")) &&
           probe.ports().contains(name);
}

class Forward : public ArtNetObserver
{
public:
    explicit Forward(Follow::Follower& follower) : follower(follower) {}
    void timecodeReceived(const SenderEntry& sender) override
    {
        follower.arrived(sender.timecode, sender.arrivalNs);
    }

private:
    Follow::Follower& follower;
};

// mtc-encode --follow behind a sender of ArtTimeCode of this Type on loopback, read by
// jack_midi_dump.
bool follow(quint8 type, int periodSamples, const QString& dumper, const QString& directory)
{
    const QString readerName = QStringLiteral("bench-reader-%1").arg(type);
    const QString dump = directory + QStringLiteral("/dump-%1-%2.txt").arg(type).arg(periodSamples);
    std::vector<double> delaysMs;
    qint64 frames = 0;
    qint64 sentMessages = 0;
    qint64 dropped = 0;
    double senderCpu = 0;
    double cpu = 0;
    double jackCpu = 0;
    double wall = 0;
    std::vector<qint64> sentNs;
    {
        Child reader(dumper, {QStringLiteral("-a"), readerName}, dump);
        if (!waitFor([&] { return portThere(readerName + QStringLiteral(":input")); })) {
            std::fprintf(stderr, "jack_midi_dump's port did not appear\n");
            return false;
        }
        Midi::Output midi;
        if (!midi.open(Midi::Api::Jack, QStringLiteral("Chronolume")) ||
            midi.start(QStringLiteral("Chronolume MTC"), readerName + QStringLiteral(":input")) !=
                Midi::Opened::Yes) {
            std::fprintf(stderr, "cannot open the MIDI output: %s\n", qPrintable(midi.errorText()));
            return false;
        }
        std::mutex mutex;
        const double cpuBefore = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double jackBefore = jackThreadsCpuSeconds();
        const qint64 wallBefore = artNetNowNs();
        {
            // The moment each quarter frame is handed to the MIDI system, the writer's thread's
            // own.
            Mtc::MessageWriter writer(
                [&midi, &sentNs](const quint8* bytes, int size) {
                    midi.send(bytes, size_t(size));
                    if (bytes[0] == Mtc::kQuarterFrame)
                        sentNs.push_back(artNetNowNs());
                },
                256);
            Mtc::Sequencer sequencer;
            std::vector<Mtc::TimedMessage> messages;
            Follow::Settings settings;
            settings.sampleRate = Follow::kNanosecondClock;
            Follow::Follower follower(
                settings,
                [&](const Follow::Block& block) {
                    if (block.kind != Follow::Block::Frame) {
                        sequencer.silence();
                        return;
                    }
                    messages.clear();
                    sequencer.frame(block.record, block.startNs, block.samples, &messages);
                    writer.push(messages);
                    const qint64 queued = artNetNowNs();
                    const std::lock_guard<std::mutex> lock(mutex);
                    ++frames;
                    if (block.afterArrival)
                        delaysMs.push_back(double(queued - block.arrivalNs) / 1e6);
                },
                [](const Follow::Notice&) {});
            Forward observer(follower);
            artnet node;
            node.setObserver(&observer);
            if (!node.openSocket()) {
                std::fprintf(stderr, "cannot listen on UDP port 6454\n");
                return false;
            }
            follower.start();
            std::atomic<bool> done{false};
            std::thread sending([&] {
                preferPromptWakeups(); // as send does
                TimecodeSender sender({QHostAddress(QHostAddress::LocalHost)});
                if (sender.open()) {
                    MonotonicClock clock;
                    const std::atomic<bool> stop{false};
                    runPaced(FrameSchedule::forType(type), clock,
                             qint64(kSeconds * Timecode::nominalRate(type)), stop, [&](qint64 n) {
                                 sender.send(Timecode::fromFrameNumber(kStartFrame + n, type));
                             });
                }
                senderCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
                done = true;
            });
            QEventLoop loop;
            QTimer tick;
            QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
                if (done.load())
                    loop.quit();
            });
            tick.start(50);
            loop.exec();
            sending.join();
            node.setObserver(nullptr);
            follower.stop();
            cpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore - senderCpu;
            jackCpu = jackThreadsCpuSeconds() - jackBefore;
            wall = double(artNetNowNs() - wallBefore) / 1e9;
            sentMessages = writer.sent();
            dropped = writer.dropped();
        }
        QThread::msleep(200); // the reader's last periods
    }

    // The reader's lines: "  <sample>: f1 <data>".
    QFile file(dump);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(dump));
        return false;
    }
    std::vector<qint64> samples;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> parts = line.trimmed().split(':');
        if (parts.size() == 2 && parts[1].trimmed().startsWith("f1"))
            samples.push_back(parts[0].toLongLong());
    }
    const Timecode::Rate rate = Timecode::rate(type);
    const double quarterSamples =
        double(kSampleRate) * double(rate.periodNumerator) / double(rate.periodDenominator) / 4;
    const size_t warmUp = size_t(4 * Timecode::nominalRate(type)); // a second of quarter frames
    std::vector<double> spacingsMs;
    std::vector<double> offQuarterSamples;
    for (size_t i = warmUp + 1; i < samples.size(); ++i) {
        const double spacing = double(samples[i] - samples[i - 1]);
        spacingsMs.push_back(spacing * 1000 / kSampleRate);
        offQuarterSamples.push_back(std::abs(spacing - quarterSamples));
    }
    // The same as the writer hands them to the MIDI system, on the steady clock: what JACK's
    // periods and a late period of the dummy driver add shows between the two.
    std::vector<double> sentOffQuarterMs;
    for (size_t i = warmUp + 1; i < sentNs.size(); ++i)
        sentOffQuarterMs.push_back(std::abs(double(sentNs[i] - sentNs[i - 1]) / 1e6 -
                                            quarterSamples * 1000 / kSampleRate));
    const size_t delayWarmUp = size_t(Timecode::nominalRate(type));
    if (delaysMs.size() < delayWarmUp + 100 || spacingsMs.size() < 100 ||
        sentOffQuarterMs.size() < 100) {
        std::fprintf(stderr, "only %zu frames followed an arrival, %zu quarter frames read\n",
                     delaysMs.size(), samples.size());
        return false;
    }
    delaysMs.erase(delaysMs.begin(), delaysMs.begin() + long(delayWarmUp));
    const double periodMs = 1000.0 * periodSamples / kSampleRate;
    std::printf("mtc-encode --follow, %s fps for %d s, periods of %d samples: %lld frames, %lld "
                "messages sent, %lld dropped, %zu quarter frames read; arrival to quarter frames "
                "queued: p50 %.3f ms, p99 %.3f ms, largest %.3f ms (goal: p99 under 1 ms); "
                "quarter-frame spacing at the reader: median %.3f ms, mean %.4f ms (a quarter "
                "frame: %.4f ms), p99 off a quarter %.3f ms, server period %.3f ms (goal: within "
                "it); as sent, p99 off a quarter %.3f ms; CPU %.2f %% of one core "
                "(goal: under 1 %%), of which %.2f %% the JACK client's process thread and %.2f "
                "%% the command's own threads\n",
                qPrintable(OptionValues::rateText(type)), kSeconds, periodSamples, frames,
                sentMessages, dropped, samples.size(), percentile(delaysMs, 0.50),
                percentile(delaysMs, 0.99), *std::max_element(delaysMs.begin(), delaysMs.end()),
                percentile(spacingsMs, 0.5), mean(spacingsMs), quarterSamples * 1000 / kSampleRate,
                percentile(offQuarterSamples, 0.99) * 1000 / kSampleRate, periodMs,
                percentile(sentOffQuarterMs, 0.99), 100.0 * cpu / wall, 100.0 * jackCpu / wall,
                100.0 * (cpu - jackCpu) / wall);
    return true;
}

// The bridge's loop behind a writer of the benchmark playing MTC of this Type through JACK.
bool bridge(quint8 type)
{
    Mtc::Inbox inbox(1024);
    Midi::Input input;
    if (!input.open(Midi::Api::Jack, QStringLiteral("Chronolume")) ||
        input.start(QStringLiteral("MTC in"), QString(),
                    [&inbox](const unsigned char* bytes, size_t size) {
                        inbox.push(bytes, size, artNetNowNs());
                    }) != Midi::Opened::Yes) {
        std::fprintf(stderr, "cannot open the MIDI input: %s\n", qPrintable(input.errorText()));
        return false;
    }
    Midi::Output midi;
    if (!midi.open(Midi::Api::Jack, QStringLiteral("bench-writer")) ||
        midi.start(QStringLiteral("MTC out"), QStringLiteral("Chronolume:MTC in")) !=
            Midi::Opened::Yes) {
        std::fprintf(stderr, "cannot open the MIDI output: %s\n", qPrintable(midi.errorText()));
        return false;
    }
    std::atomic<bool> stop{false};
    std::vector<double> delaysMs;
    MtcBridgeResult result;
    std::thread bridging([&] {
        preferPromptWakeups(); // as the command does
        // The socket on the thread that sends, as the command has it on its one thread.
        TimecodeSender sender({QHostAddress(QHostAddress::LocalHost)});
        if (!sender.open())
            return;
        result = bridgeMtc(
            inbox, Mtc::BridgeSettings(), stop,
            [&](const TimecodeRecord& record, qint64 arrivalNs) {
                const bool sent = sender.send(record);
                if (arrivalNs >= 0)
                    delaysMs.push_back(double(artNetNowNs() - arrivalNs) / 1e6);
                return sent;
            },
            nullptr, nullptr);
    });
    {
        // As mtc-encode plays MTC: frame n at start + n periods, handed over half a period
        // before.
        Mtc::MessageWriter writer(
            [&midi](const quint8* bytes, int size) { midi.send(bytes, size_t(size)); }, 256);
        Mtc::Sequencer sequencer;
        std::vector<Mtc::TimedMessage> messages;
        const FrameSchedule schedule = FrameSchedule::forType(type);
        MonotonicClock clock;
        const qint64 start = clock.now() + 5'000'000;
        const qint64 count = qint64(kSeconds * Timecode::nominalRate(type));
        for (qint64 n = 0; n < count; ++n) {
            const qint64 begins = start + schedule.deadline(n);
            const qint64 length = schedule.deadline(n + 1) - schedule.deadline(n);
            clock.sleepUntil(begins - length / 2);
            messages.clear();
            sequencer.frame(Timecode::fromFrameNumber(kStartFrame + n, type), begins, length,
                            &messages);
            writer.push(messages);
        }
    }
    QThread::msleep(100);
    stop = true;
    bridging.join();
    const size_t warmUp = size_t(Timecode::nominalRate(type));
    if (delaysMs.size() < warmUp + 100) {
        std::fprintf(stderr, "only %zu frames bridged\n", delaysMs.size());
        return false;
    }
    delaysMs.erase(delaysMs.begin(), delaysMs.begin() + long(warmUp));
    std::printf("mtc-bridge, %s fps for %d s: %lld frames decoded, %lld sent, %lld errors, %lld "
                "failed; last quarter frame of a frame to its datagram sent: p50 %.3f ms, p99 "
                "%.3f ms, largest %.3f ms (goal: p99 under 1 ms)\n",
                qPrintable(OptionValues::rateText(type)), kSeconds, result.counts.decoded,
                result.counts.sent, result.counts.errors, result.failed, percentile(delaysMs, 0.50),
                percentile(delaysMs, 0.99), *std::max_element(delaysMs.begin(), delaysMs.end()));
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (!ensureIsolated(argc, argv))
        return 1;
    QCoreApplication application(argc, argv);
    const QString jackd = QStandardPaths::findExecutable(QStringLiteral("jackd"));
    const QString dumper = QStandardPaths::findExecutable(QStringLiteral("jack_midi_dump"));
    if (jackd.isEmpty() || dumper.isEmpty()) {
        std::fprintf(stderr, "needs jackd and jack_midi_dump (Debian's jackd2)\n");
        return 1;
    }
    preferPromptWakeups(); // as the commands do
    artnet::setDiagnosticLines(false);
    QTemporaryDir directory;
    for (const int period : {kPeriodSamples, kLongPeriodSamples}) {
        const QString server = QStringLiteral("chronolume-bench-%1-%2")
                                   .arg(QCoreApplication::applicationPid())
                                   .arg(period);
        qputenv("JACK_DEFAULT_SERVER", server.toLocal8Bit());
        const Child jack(jackd, {QStringLiteral("-n"), server, QStringLiteral("-d"),
                                 QStringLiteral("dummy"), QStringLiteral("-r"),
                                 QString::number(kSampleRate), QStringLiteral("-p"),
                                 QString::number(period)});
        if (!waitFor([] { return Midi::unavailable(Midi::Api::Jack).isNull(); })) {
            std::fprintf(stderr, "the JACK server did not start\n");
            return 1;
        }
        if (period != kPeriodSamples) {
            if (!follow(Timecode::kEbu, period, dumper, directory.path()))
                return 1;
            continue;
        }
        for (const quint8 type :
             {Timecode::kFilm, Timecode::kEbu, Timecode::kDropFrame, Timecode::kSmpte}) {
            if (!follow(type, period, dumper, directory.path()))
                return 1;
        }
        for (const quint8 type : {Timecode::kEbu, Timecode::kDropFrame}) {
            if (!bridge(type))
                return 1;
        }
    }
    return 0;
}
