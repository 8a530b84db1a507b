// How fast and how promptly ltc-bridge turns LTC into ArtTimeCode, through the loop the
// command runs, with its sending socket aimed at 127.0.0.1.
//
// Speed: ten minutes of 25 fps LTC at 48 kHz, read from a WAV file as fast as it decodes
// (--fast), once with every frame sent and once with the sending left out; the ratio of the
// audio's length to the CPU time of the one thread that does it all (goal: at least 200 times
// real time on one core).
//
// Promptness: 20 s of 29.97 fps LTC played from a file at real time; for every frame, the delay
// from the end of its last sample to the return of its datagram's send, p50 and p99 after a
// warm-up second (goal: p99 under 5 ms).
//
// Following: ltc-encode --follow's threads as the command runs them (the node receiving on the
// main thread, the audio thread, the writer thread writing to /dev/null) behind 10 s of
// ArtTimeCode at each rate, sent on loopback from a thread of the benchmark. For every LTC frame
// worked out on the arrival of the datagram before it, the delay from that arrival (the kernel's
// time stamp) to the frame's samples waiting in the writer's queue, p50 and p99 after a warm-up
// second (goal: p99 under 1 ms); where each LTC frame begins on the sample clock against the
// arrival of the datagram of its time; the times sent that no frame carried; and the CPU the
// command's threads took as a share of one core.
//
// Like the other benchmarks it runs only in a network namespace of its own, on loopback.
#include "isolation.h"

#include "common/optionvalues.h"
#include "common/timecodesender.h"
#include "ltc/ltcencoder.h"
#include "ltc/pcmoutput.h"
#include "ltcbridge/bridgerun.h"
#include "ltcencode/followaudio.h"

#include "framepacer.h"
#include "timecode.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSampleRate = 48000;

// LTC of `seconds` at the Type's rate, written as a WAV file.
bool writeLtc(const QString& path, quint8 type, int seconds)
{
    QString error;
    std::unique_ptr<Pcm::SampleSink> sink = Pcm::createWav(path, kSampleRate, 16, &error);
    if (!sink)
        return false;
    LtcEncoder encoder(type, kSampleRate, -18);
    const qint64 frames = qint64(seconds * Timecode::nominalRate(type));
    std::vector<qint16> samples;
    for (qint64 n = 0; n < frames; ++n) {
        samples.clear();
        encoder.encode(Timecode::fromFrameNumber(n, type), &samples);
        if (sink->write(samples.data(), int(samples.size())) != Pcm::SampleSink::Written)
            return false;
    }
    samples.clear();
    encoder.finish(&samples);
    return sink->write(samples.data(), int(samples.size())) == Pcm::SampleSink::Written &&
           sink->finish();
}

double threadCpuSeconds()
{
    timespec time;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

double percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(share * double(values.size())))];
}

BridgeResult bridge(const QString& path, BridgeSettings::Pacing pacing, const BridgeSend& send)
{
    QString error;
    std::unique_ptr<Pcm::SampleSource> source = Pcm::openFile(path, 1, &error);
    if (!source) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::exit(1);
    }
    BridgeSettings settings;
    settings.pacing = pacing;
    MonotonicClock clock;
    const std::atomic<bool> stop{false};
    return runBridge(*source, settings, clock, stop, send, nullptr);
}

double processCpuSeconds()
{
    timespec time;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

class Forward : public ArtNetObserver
{
public:
    explicit Forward(Follow::FollowAudio& audio) : audio(audio) {}
    void timecodeReceived(const SenderEntry& sender) override
    {
        arrivals[Timecode::toFrameNumber(sender.timecode)] = sender.arrivalNs;
        audio.arrived(sender.timecode, sender.arrivalNs);
    }
    std::map<qint64, qint64> arrivals; // frame number to arrival, the node's thread's own

private:
    Follow::FollowAudio& audio;
};

// ltc-encode --follow behind a sender of `seconds` of ArtTimeCode of this Type on loopback.
bool follow(quint8 type, int seconds)
{
    const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const std::unique_ptr<Pcm::SampleSink> sink = Pcm::rawSink(fd);
    std::mutex mutex;
    std::vector<double> delaysMs;
    std::map<qint64, qint64> starts;   // frame number to the LTC frame's first sample
    std::map<qint64, qint64> arrivals; // frame number to its datagram's arrival
    qint64 frames = 0;
    double senderCpu = 0;
    double cpu = 0;
    double wall = 0;
    qint64 dropped = 0;
    {
        Follow::SampleWriter writer(*sink, kSampleRate);
        Follow::FollowAudio audio(
            Follow::Settings(), -18,
            [&](const Follow::Block& block, std::vector<qint16>&& samples) {
                writer.push(std::move(samples));
                const qint64 ready = artNetNowNs();
                const std::lock_guard<std::mutex> lock(mutex);
                if (block.kind == Follow::Block::Frame) {
                    ++frames;
                    starts[Timecode::toFrameNumber(block.record)] = block.startNs;
                }
                if (block.afterArrival)
                    delaysMs.push_back(double(ready - block.arrivalNs) / 1e6);
            },
            [](const Follow::Notice&) {});
        Forward observer(audio);
        artnet::setDiagnosticLines(false);
        artnet node;
        node.setObserver(&observer);
        if (!node.openSocket()) {
            std::fprintf(stderr, "cannot listen on UDP port 6454\n");
            return false;
        }
        audio.start();
        std::atomic<bool> sent{false};
        const double cpuBefore = processCpuSeconds();
        const qint64 wallBefore = artNetNowNs();
        std::thread sending([&] {
            preferPromptWakeups(); // as send does
            TimecodeSender sender({QHostAddress(QHostAddress::LocalHost)});
            if (sender.open()) {
                MonotonicClock clock;
                const std::atomic<bool> stop{false};
                runPaced(FrameSchedule::forType(type), clock,
                         qint64(seconds * Timecode::nominalRate(type)), stop, [&](qint64 n) {
                             sender.send(Timecode::fromFrameNumber(900000 + n, type));
                         });
            }
            senderCpu = threadCpuSeconds();
            sent = true;
        });
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (sent.load())
                loop.quit();
        });
        tick.start(50);
        loop.exec();
        sending.join();
        cpu = processCpuSeconds() - cpuBefore - senderCpu;
        wall = double(artNetNowNs() - wallBefore) / 1e9;
        node.setObserver(nullptr);
        audio.stop();
        dropped = writer.droppedSamples();
        arrivals = observer.arrivals;
    }
    ::close(fd);
    const size_t warmUp = 25;
    if (delaysMs.size() < warmUp + 100) {
        std::fprintf(stderr, "only %zu frames followed an arrival\n", delaysMs.size());
        return false;
    }
    delaysMs.erase(delaysMs.begin(), delaysMs.begin() + long(warmUp));
    // Where each LTC frame begins on the sample clock against the arrival of the datagram that
    // carries the same time, after the warm-up second; and whether every time sent was written.
    std::vector<double> offsetsMs;
    qint64 missing = 0;
    for (const auto& [frame, arrival] : arrivals) {
        const auto start = starts.find(frame);
        if (start == starts.end())
            ++missing;
        else if (frame >= 900000 + qint64(Timecode::nominalRate(type)))
            offsetsMs.push_back(double(start->second - arrival) / 1e6);
    }
    std::vector<double> sizes;
    for (const double offset : offsetsMs)
        sizes.push_back(std::abs(offset));
    std::printf("following %s fps for %d s: %lld LTC frames, %zu after an arrival, %lld of %zu "
                "times sent not written, %lld samples dropped; delay from an arrival to its "
                "frame's samples queued: p50 %.3f ms, p99 %.3f ms, largest %.3f ms (goal: p99 "
                "under 1 ms); LTC frame begins after the datagram of its time: p50 %.3f ms, "
                "p99 of the size %.3f ms; CPU %.2f %% of one core\n",
                qPrintable(OptionValues::rateText(type)), seconds, frames, delaysMs.size(), missing,
                arrivals.size(), dropped, percentile(delaysMs, 0.50), percentile(delaysMs, 0.99),
                *std::max_element(delaysMs.begin(), delaysMs.end()), percentile(offsetsMs, 0.50),
                percentile(sizes, 0.99), 100.0 * cpu / wall);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (!ensureIsolated(argc, argv))
        return 1;
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    const QString speedFile = dir.filePath(QStringLiteral("speed.wav"));
    const QString paceFile = dir.filePath(QStringLiteral("pace.wav"));
    if (!writeLtc(speedFile, Timecode::kEbu, 600) ||
        !writeLtc(paceFile, Timecode::kDropFrame, 20)) {
        std::fprintf(stderr, "cannot write the LTC files in %s\n", qPrintable(dir.path()));
        return 1;
    }
    TimecodeSender sender({QHostAddress(QHostAddress::LocalHost)});
    if (!sender.open()) {
        std::fprintf(stderr, "cannot open the sending socket: %s\n",
                     qPrintable(sender.errorText()));
        return 1;
    }

    for (const bool sending : {true, false}) {
        const double before = threadCpuSeconds();
        const BridgeResult result =
            bridge(speedFile, BridgeSettings::Fast, [&](const TimecodeRecord& record, qint64) {
                return !sending || sender.send(record);
            });
        const double cpu = threadCpuSeconds() - before;
        const double audio = double(result.counts.samples) / kSampleRate;
        std::printf("decoding %s: %.0f s of 25 fps LTC (%lld frames) in %.3f s of CPU: %.0f x "
                    "real time (goal: at least 200)\n",
                    sending ? "and sending" : "alone", audio, result.counts.decoded, cpu,
                    audio / cpu);
    }

    preferPromptWakeups(); // as the command does
    MonotonicClock clock;
    std::vector<double> delaysMs;
    const BridgeResult paced = bridge(paceFile, BridgeSettings::BySampleClock,
                                      [&](const TimecodeRecord& record, qint64 due) {
                                          const bool sent = sender.send(record);
                                          delaysMs.push_back(double(clock.now() - due) / 1e6);
                                          return sent;
                                      });
    // The first second warms up code and caches that no process touched for a while.
    const size_t warmUp = 30;
    if (paced.counts.sent < qint64(warmUp) + 100) {
        std::fprintf(stderr, "only %lld frames sent at real time\n", paced.counts.sent);
        return 1;
    }
    delaysMs.erase(delaysMs.begin(), delaysMs.begin() + long(warmUp));
    if (paced.counts.failed > 0)
        std::printf("%lld sends failed\n", paced.counts.failed);
    std::printf("at real time, 29.97 fps from a file: %zu frames; delay from a frame's last "
                "sample to its send: p50 %.3f ms, p99 %.3f ms, largest %.3f ms (goal: p99 under "
                "5 ms)\n",
                delaysMs.size(), percentile(delaysMs, 0.50), percentile(delaysMs, 0.99),
                *std::max_element(delaysMs.begin(), delaysMs.end()));
    for (const quint8 type :
         {Timecode::kFilm, Timecode::kEbu, Timecode::kDropFrame, Timecode::kSmpte}) {
        if (!follow(type, 10))
            return 1;
    }
    return 0;
}
