// The bridge's timing without a socket: the time a decoded frame goes out as (one frame on for
// the decoding latency, a further offset in the stream's own numbering), a file's frames
// leaving as the wall clock, stepped by hand, reaches each frame's end, and what the bridge
// says and sends when the LTC stops, comes back, runs at the wrong speed or is sent too late.
#include "ltc/bridgetiming.h"
#include "ltc/ltcencoder.h"
#include "ltc/ltcwatch.h"
#include "ltc/pcminput.h"
#include "ltcbridge/bridgerun.h"
#include "ltcbridge/ltcbridgeoptions.h"
#include "timecode.h"

#include <QtTest>

namespace {

constexpr qint64 kStart = 5000000000; // far from zero, so a deadline taken as absolute shows

// Jumps to every deadline it is asked to sleep until, so time passes only by sleeping; the
// sleep the test names raises the stop flag instead, as a signal would.
class JumpingClock : public PacingClock
{
public:
    JumpingClock(int stopAtSleep, std::atomic<bool>& stop) : stopAt(stopAtSleep), stop(stop) {}
    qint64 now() override { return time; }
    void sleepUntil(qint64 deadline) override
    {
        if (sleeps++ == stopAt) {
            stop.store(true);
            return;
        }
        time = qMax(time, deadline);
    }
    qint64 time = kStart;
    int sleeps = 0;

private:
    int stopAt;
    std::atomic<bool>& stop;
};

// Jumps to every deadline too, and once, at the sleep the test names, oversleeps by stallNs as a
// descheduled process does.
class StallingClock : public PacingClock
{
public:
    StallingClock(int stallAtSleep, qint64 stallNs) : stallAt(stallAtSleep), stallNs(stallNs) {}
    qint64 now() override { return time; }
    void sleepUntil(qint64 deadline) override
    {
        time = qMax(time, deadline) + (sleeps++ == stallAt ? stallNs : 0);
    }
    qint64 time = kStart;

private:
    int sleeps = 0;
    int stallAt;
    qint64 stallNs;
};

// Samples from memory, stated to be at `rate`.
class MemorySource : public Pcm::SampleSource
{
public:
    MemorySource(std::vector<qint16> samples, int sampleRate) : samples(std::move(samples))
    {
        rate = sampleRate;
    }
    int read(qint16* out, int maxSamples) override
    {
        const int n = int(qMin<size_t>(size_t(maxSamples), samples.size() - next));
        std::copy_n(samples.data() + next, n, out);
        next += size_t(n);
        return n;
    }

private:
    std::vector<qint16> samples;
    size_t next = 0;
};

// `count` frames of 25 fps LTC from `first` (a frame number), without the closing edge, as a
// line that is cut off leaves them.
std::vector<qint16> ltcRun(qint64 first, int count, int sampleRate)
{
    LtcEncoder encoder(Timecode::kEbu, sampleRate, -18);
    std::vector<qint16> samples;
    for (int i = 0; i < count; ++i)
        encoder.encode(Timecode::fromFrameNumber(first + i, Timecode::kEbu), &samples);
    return samples;
}

QStringList times(qint64 first, int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list.append(Timecode::text(Timecode::fromFrameNumber(first + i, Timecode::kEbu)));
    return list;
}

struct BridgeRun
{
    QStringList sent;
    QStringList notices;
    BridgeCounts counts;
};

// A live source, ltc-encode --follow say: each frame's samples come whole, `gapNs` on the clock
// after the frame before.
class FrameByFrameSource : public MemorySource
{
public:
    FrameByFrameSource(std::vector<qint16> samples, int sampleRate, int frameSamples,
                       StallingClock& clock, qint64 gapNs)
        : MemorySource(std::move(samples), sampleRate), frameSamples(frameSamples), clock(clock),
          gapNs(gapNs)
    {
    }
    int read(qint16* out, int maxSamples) override
    {
        if (taken > 0 && taken % frameSamples == 0)
            clock.time += gapNs;
        const int n =
            MemorySource::read(out, qMin(maxSamples, frameSamples - taken % frameSamples));
        taken += n;
        return n;
    }

private:
    const int frameSamples;
    StallingClock& clock;
    const qint64 gapNs;
    int taken = 0;
};

BridgeRun bridgeFrom(Pcm::SampleSource& source, const BridgeSettings& settings, PacingClock& clock)
{
    std::atomic<bool> stop{false};
    BridgeRun run;
    run.counts =
        runBridge(
            source, settings, clock, stop,
            [&](const TimecodeRecord& record, qint64) {
                run.sent.append(Timecode::text(record));
                return true;
            },
            nullptr,
            [&](const BridgeNotice& notice) {
                run.notices.append(QStringLiteral("%1 %2, jump %3")
                                       .arg(notice.kind == BridgeNotice::Lost   ? "lost after"
                                            : notice.kind == BridgeNotice::Back ? "back at"
                                                                                : "other")
                                       .arg(Timecode::text(notice.time))
                                       .arg(notice.jump));
            })
            .counts;
    return run;
}

BridgeRun bridge(std::vector<qint16> samples, int statedRate, const BridgeSettings& settings,
                 PacingClock& clock)
{
    MemorySource source(std::move(samples), statedRate);
    return bridgeFrom(source, settings, clock);
}

} // namespace

class LtcTimingTest : public QObject
{
    Q_OBJECT

private slots:
    void bridged_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("decoded");
        QTest::addColumn<QString>("offset"); // empty: none
        QTest::addColumn<bool>("correction");
        QTest::addColumn<QString>("sent"); // empty: the offset is refused at this rate
        QTest::newRow("25: one frame on, into the next minute") << 1 << "10:00:59:24"
                                                                << "" << true << "10:01:00:00";
        QTest::newRow("without correction: as decoded") << 1 << "10:00:59:24"
                                                        << "" << false << "10:00:59:24";
        QTest::newRow("29.97: one frame on skips the dropped 00 and 01")
            << 2 << "00:00:59:29"
            << "" << true << "00:01:00:02";
        QTest::newRow("29.97: a tenth minute keeps 00") << 2 << "00:09:59:29"
                                                        << "" << true << "00:10:00:00";
        QTest::newRow("29.97: +00:10:00:00 is ten minutes of drop-frame numbering")
            << 2 << "00:00:59:29"
            << "+00:10:00:00" << false << "00:10:59:29";
        QTest::newRow("29.97: -00:00:00:02 steps back over the dropped numbers")
            << 2 << "00:01:00:02"
            << "-00:00:00:02" << true << "00:00:59:29";
        QTest::newRow("24: back across midnight") << 0 << "00:00:00:05"
                                                  << "-00:00:01:00" << true << "23:59:59:06";
        QTest::newRow("30: forward across midnight") << 3 << "23:59:59:29"
                                                     << "01:00:00:00" << true << "01:00:00:00";
        QTest::newRow("25: frame 27 is no offset at 25") << 1 << "10:00:00:00"
                                                         << "00:00:00:27" << true << "";
        QTest::newRow("29.97: 00:01:00:00 is a skipped number") << 2 << "10:00:00:00"
                                                                << "+00:01:00:00" << true << "";
    }

    void bridged()
    {
        QFETCH(int, type);
        QFETCH(QString, decoded);
        QFETCH(QString, offset);
        QFETCH(bool, correction);
        QFETCH(QString, sent);
        TimecodeOffset parsed;
        QVERIFY(offset.isEmpty() || parseOffset(offset, &parsed));
        qint64 frames = 0;
        QCOMPARE(offsetFrames(parsed, quint8(type), &frames), !sent.isEmpty());
        if (sent.isEmpty())
            return;
        const QStringList f = decoded.split(QLatin1Char(':'));
        LtcFrame frame;
        frame.hours = quint8(f[0].toUInt());
        frame.minutes = quint8(f[1].toUInt());
        frame.seconds = quint8(f[2].toUInt());
        frame.frames = quint8(f[3].toUInt());
        const TimecodeRecord out =
            bridgedRecord(frame, quint8(type), bridgeShift(frames, correction));
        QCOMPARE(Timecode::text(out), sent);
        QCOMPARE(int(out.type), type);
    }

    void offsetText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("signed") << "-01:02:03:04" << true;
        QTest::newRow("one-digit fields") << "+1:2:3:4" << true;
        QTest::newRow("hours beyond a day") << "24:00:00:00" << false;
        QTest::newRow("frames beyond any rate") << "00:00:00:30" << false;
        QTest::newRow("three fields") << "00:00:01" << false;
        QTest::newRow("two signs") << "+-00:00:00:01" << false;
    }

    void offsetText()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        TimecodeOffset offset;
        QCOMPARE(parseOffset(text, &offset), accepted);
    }

    void sampleEnds()
    {
        QCOMPARE(sampleEndNs(0, 48000), qint64(20833));
        QCOMPARE(sampleEndNs(1919, 48000), qint64(40000000));
        // A day at 96 kHz, where sample × 10^9 would not fit in 64 bits.
        QCOMPARE(sampleEndNs(qint64(96000) * 86400 * 1200 - 1, 96000),
                 qint64(86400) * 1200 * 1000000000);
    }

    // Frames decoded from a file leave at their ends in the file, read ahead however far.
    void fileFramesLeaveAtTheirEnds_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("stopAtSleep"); // -1: never
        QTest::addColumn<int>("sent");
        QTest::newRow("25 at 48000") << 1 << 48000 << -1 << 12;
        QTest::newRow("29.97 at 44100") << 2 << 44100 << -1 << 12;
        QTest::newRow("stopped while waiting for frame 5") << 1 << 48000 << 5 << 5;
    }

    void fileFramesLeaveAtTheirEnds()
    {
        QFETCH(int, type);
        QFETCH(int, sampleRate);
        QFETCH(int, stopAtSleep);
        QFETCH(int, sent);
        LtcEncoder encoder(quint8(type), sampleRate, -18);
        std::vector<qint16> samples;
        for (int i = 0; i < 12; ++i)
            encoder.encode(Timecode::fromFrameNumber(i, quint8(type)), &samples);
        encoder.finish(&samples);

        std::atomic<bool> stop{false};
        JumpingClock clock(stopAtSleep, stop);
        SamplePacer pacer(clock, sampleRate);
        LtcDecoder decoder(sampleRate);
        QList<qint64> sendTimes;
        for (size_t i = 0; i < samples.size() && !stop; i += Pcm::kMaxBlock) {
            decoder.write(samples.data() + i,
                          int(qMin<size_t>(Pcm::kMaxBlock, samples.size() - i)));
            LtcFrame frame;
            while (decoder.read(&frame) && pacer.waitForEnd(frame.lastSample, stop)) {
                sendTimes.append(clock.now() - kStart);
                QCOMPARE(clock.now(), pacer.due(frame.lastSample));
            }
        }
        QCOMPARE(sendTimes.size(), sent);
        // Frame k ends (k + 1) periods in, to within the two samples the decoder may place its
        // last edge off by.
        const double periodNs = 1e9 / Timecode::nominalRate(quint8(type));
        for (int k = 0; k < sent; ++k)
            QVERIFY2(std::abs(sendTimes[k] - (k + 1) * periodNs) <= 2e9 / sampleRate,
                     qPrintable(QStringLiteral("frame %1 left at %2 ns").arg(k).arg(sendTimes[k])));
    }

    // What happens as samples are read after the last frame (0 to 1919) was decoded.
    void lossSteps_data()
    {
        QTest::addColumn<int>("freewheel");
        QTest::addColumn<qint64>("lastRead"); // the last sample read
        QTest::addColumn<QStringList>("steps");
        const QStringList none;
        QTest::newRow("2 periods less a sample: nothing") << 0 << qint64(1919 + 3839) << none;
        QTest::newRow("2 periods: lost") << 0 << qint64(1919 + 3840) << QStringList{"lost 5759"};
        QTest::newRow("freewheel 2, a quarter frame less a sample after the next frame's end")
            << 2 << qint64(3839 + 479) << none;
        QTest::newRow("freewheel 2, a quarter frame after it: the first frame")
            << 2 << qint64(3839 + 480) << QStringList{"freewheel 3839"};
        QTest::newRow("freewheel 2, lost, before the second")
            << 2 << qint64(5759 + 479) << QStringList{"freewheel 3839", "lost 5759"};
        QTest::newRow("freewheel 2, long after: two and no more")
            << 2 << qint64(100000) << QStringList{"freewheel 3839", "lost 5759", "freewheel 5759"};
    }

    void lossSteps()
    {
        QFETCH(int, freewheel);
        QFETCH(qint64, lastRead);
        QFETCH(QStringList, steps);
        LossWatch watch(freewheel);
        qint64 sample = 0;
        QCOMPARE(watch.advance(lastRead + 1, &sample), LossWatch::Nothing); // no frame yet
        LtcFrame frame;
        frame.lastSample = 1919;
        QVERIFY(!watch.decoded(frame));
        QStringList got;
        for (LossWatch::Step step;
             (step = watch.advance(lastRead + 1, &sample)) != LossWatch::Nothing;)
            got.append(QStringLiteral("%1 %2")
                           .arg(step == LossWatch::Lost ? "lost" : "freewheel")
                           .arg(sample));
        QCOMPARE(got, steps);
        QCOMPARE(watch.lost(), steps.contains("lost 5759"));
        if (!watch.lost())
            return;
        // A frame ending where the loss was declared is from before it; one a sample later is
        // the signal back.
        QVERIFY(watch.fromBeforeLoss(5759));
        QVERIFY(!watch.fromBeforeLoss(5760));
        frame.firstSample = 192000;
        frame.lastSample = 193919;
        QCOMPARE(watch.framesSinceLast(192000), qint64(100));
        QVERIFY(watch.decoded(frame));
        QVERIFY(!watch.lost());
    }

    void rules_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<double>("a");
        QTest::addColumn<double>("b");
        QTest::addColumn<double>("c");
        QTest::addColumn<double>("expected");
        // stale: due, now, period
        QTest::newRow("stale: one period late is still sent")
            << "stale" << 0.0 << 40e6 << 40e6 << 0.0;
        QTest::newRow("stale: a nanosecond more is not")
            << "stale" << 0.0 << 40e6 + 1 << 40e6 << 1.0;
        // speed: frames, samples, rate at 25 fps
        QTest::newRow("44100 read as 48000: 8.8 % fast")
            << "speed" << 48.0 << 48.0 * 1764 << 48000.0 << 0.0884;
        QTest::newRow("48000 read as 44100: 8.1 % slow")
            << "speed" << 48.0 << 48.0 * 1920 << 44100.0 << -0.0813;
        QTest::newRow("1 % fast is no fault") << "wrong" << 0.01 << 0.0 << 0.0 << 0.0;
        QTest::newRow("1.01 % fast is") << "wrong" << 0.0101 << 0.0 << 0.0 << 1.0;
        QTest::newRow("1 % slow is no fault") << "wrong" << -0.01 << 0.0 << 0.0 << 0.0;
        QTest::newRow("1.01 % slow is") << "wrong" << -0.0101 << 0.0 << 0.0 << 1.0;
        // fitting: stated rate, error
        QTest::newRow("fits 44100")
            << "fitting" << 48000.0 << 48000.0 / 44100 - 1 << 0.0 << 44100.0;
        QTest::newRow("fits 48000")
            << "fitting" << 44100.0 << 44100.0 / 48000 - 1 << 0.0 << 48000.0;
        QTest::newRow("fits no usual rate") << "fitting" << 48000.0 << 0.2 << 0.0 << 40000.0;
        // pipe: samples, rate, elapsed
        QTest::newRow("pipe: less than 2 s of audio, however fast")
            << "pipe" << 95999.0 << 48000.0 << 1e6 << 0.0;
        QTest::newRow("pipe: 3 s in 2 s is 1.5 times, not more")
            << "pipe" << 144000.0 << 48000.0 << 2e9 << 0.0;
        QTest::newRow("pipe: 3 s in a nanosecond less is")
            << "pipe" << 144000.0 << 48000.0 << 2e9 - 1 << 1.0;
    }

    void rules()
    {
        QFETCH(QString, rule);
        QFETCH(double, a);
        QFETCH(double, b);
        QFETCH(double, c);
        QFETCH(double, expected);
        if (rule == "stale")
            QCOMPARE(frameStale(qint64(a), qint64(b), qint64(c)), expected != 0);
        else if (rule == "speed")
            QCOMPARE(std::round(speedError(qint64(a), qint64(b), int(c), 25) * 1e4) / 1e4,
                     expected);
        else if (rule == "wrong")
            QCOMPARE(speedWrong(a), expected != 0);
        else if (rule == "fitting")
            QCOMPARE(fittingSampleRate(int(a), b), int(expected));
        else
            QCOMPARE(pipeTooFast(qint64(a), int(b), qint64(c)), expected != 0);
    }

    // Two seconds of silence in a file's LTC: the loss and the return are told, no frame from
    // before the silence goes out after it, and freewheeling fills exactly the frames it may.
    void acrossSilence_data()
    {
        QTest::addColumn<int>("freewheel");
        QTest::addColumn<int>("stallAtSleep"); // -1: none
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<qint64>("stale");
        const qint64 start = 36000 * 25; // 10:00:00:00
        QTest::newRow("no freewheel")
            << 0 << -1 << times(start + 1, 49) + times(start + 101, 49) << qint64(1);
        QTest::newRow("freewheel 10")
            << 10 << -1 << times(start + 1, 49) + times(start + 50, 10) + times(start + 101, 49)
            << qint64(1);
        // The 100 ms stall passes the end of the frame waited on and the next by more than a
        // period (40 ms): both are dropped.
        QStringList stalled = times(start + 1, 49) + times(start + 101, 49);
        stalled.removeAt(5);
        stalled.removeAt(5);
        QTest::newRow("a 100 ms stall in the 6th wait") << 0 << 5 << stalled << qint64(3);
    }

    void acrossSilence()
    {
        QFETCH(int, freewheel);
        QFETCH(int, stallAtSleep);
        QFETCH(QStringList, sent);
        QFETCH(qint64, stale);
        const qint64 start = 36000 * 25;
        std::vector<qint16> samples = ltcRun(start, 50, 48000);
        samples.resize(samples.size() + 96000, 0);
        const std::vector<qint16> after = ltcRun(start + 100, 50, 48000);
        samples.insert(samples.end(), after.begin(), after.end());
        StallingClock clock(stallAtSleep, 100000000);
        BridgeSettings settings;
        settings.pacing = BridgeSettings::BySampleClock;
        settings.freewheelFrames = freewheel;
        const BridgeRun run = bridge(samples, 48000, settings, clock);
        QCOMPARE(run.sent, sent);
        QCOMPARE(run.notices,
                 QStringList({"lost after 10:00:01:24, jump 0", "back at 10:00:04:01, jump 0"}));
        QCOMPARE(run.counts.stale, stale);
        QCOMPARE(run.counts.freewheeled, qint64(freewheel));
    }

    // A pipe from a program that writes each frame whole, a period apart: a frame is decoded
    // only when the next one's first edge comes, and that is no reason to drop it as stale.
    void liveFramesAsDecoded_data()
    {
        QTest::addColumn<qint64>("gapNs");
        QTest::newRow("each frame a period after the one before") << qint64(40'000'000);
        QTest::newRow("a nanosecond later") << qint64(40'000'001);
        QTest::newRow("a millisecond later") << qint64(41'000'000);
    }

    void liveFramesAsDecoded()
    {
        QFETCH(qint64, gapNs);
        const qint64 start = 36000 * 25;
        StallingClock clock(-1, 0);
        FrameByFrameSource source(ltcRun(start, 20, 48000), 48000, 1920, clock, gapNs);
        BridgeSettings settings;
        settings.pacing = BridgeSettings::AsDecoded;
        settings.type = Timecode::kEbu;
        const BridgeRun run = bridgeFrom(source, settings, clock);
        QCOMPARE(run.counts.stale, qint64(0));
        QCOMPARE(run.sent, times(start + 1, 19));
    }

    // The new options' ranges, first and last value in and the next one out.
    void bridgeOptions_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("--stream 255") << "--stream 255" << true;
        QTest::newRow("--stream 256") << "--stream 256" << false;
        QTest::newRow("--stream -1") << "--stream -1" << false;
        QTest::newRow("--freewheel 0") << "--freewheel 0" << true;
        QTest::newRow("--freewheel 1800") << "--freewheel 1800" << true;
        QTest::newRow("--freewheel 1801") << "--freewheel 1801" << false;
        QTest::newRow("--format f32") << "--format f32" << true;
        QTest::newRow("--format S24") << "--format S24" << false;
        QTest::newRow("--format for a file") << "--input x.wav --format s24" << false;
        QTest::newRow("--sample-rate 32000") << "--sample-rate 32000" << true;
        QTest::newRow("--sample-rate 31999") << "--sample-rate 31999" << false;
    }

    void bridgeOptions()
    {
        QFETCH(QString, arguments);
        QFETCH(bool, accepted);
        LtcBridgeOptions options;
        int status = -1;
        QCOMPARE(parseLtcBridgeOptions(arguments.split(' '), &options, &status), accepted);
        QCOMPARE(status, accepted ? 0 : 2);
        if (arguments == "--stream 255")
            QCOMPARE(int(options.stream), 255);
        if (arguments == "--freewheel 1800")
            QCOMPARE(options.settings.freewheelFrames, 1800);
        if (arguments == "--format f32")
            QCOMPARE(int(options.format), int(Pcm::RawFormat::F32));
    }
};

QTEST_GUILESS_MAIN(LtcTimingTest)
#include "tst_ltctiming.moc"
