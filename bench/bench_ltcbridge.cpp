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
// Like the other benchmarks it runs only in a network namespace of its own, on loopback.
#include "isolation.h"

#include "common/framepacer.h"
#include "common/timecodesender.h"
#include "ltc/ltcencoder.h"
#include "ltc/pcmoutput.h"
#include "ltcbridge/bridgerun.h"

#include "timecode.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
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
    return 0;
}
