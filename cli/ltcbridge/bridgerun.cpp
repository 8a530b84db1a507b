#include "ltcbridge/bridgerun.h"
#include "common/optionvalues.h"
#include "ltc/ltcdecoder.h"
#include "ltc/ltcwatch.h"
#include "ltc/ratedetector.h"

#include "timecode.h"

#include <cmath>
#include <deque>
#include <optional>

namespace {

// Blocks whose arrival is remembered: far more than a frame's worth at any sample rate.
constexpr size_t kArrivals = 256;
constexpr int kLtcBits = 80; // bits in one LTC frame

// What is to go out, in the order of the audio.
struct Pending
{
    enum Kind { Decoded, Freewheel, LossMark };
    Kind kind = Decoded;
    LtcFrame frame;    // Decoded: the frame; Freewheel: the last decoded one
    qint64 sample = 0; // the sample it is due at the end of
    int freewheel = 0; // Freewheel: frames on from `frame`
    bool back = false; // Decoded: the first after a loss
    qint64 jump = 0;   // with back: frames beyond the numbering continued
};

class Bridge
{
public:
    Bridge(Pcm::SampleSource& source, const BridgeSettings& settings, PacingClock& clock,
           const std::atomic<bool>& stop, const BridgeSend& send, const BridgeProgress& progress,
           const BridgeNotify& notify)
        : source(source), settings(settings), clock(clock), stop(stop), send(send),
          progress(progress), notify(notify), decoder(source.sampleRate()),
          detector(source.sampleRate()), watch(settings.freewheelFrames)
    {
    }

    BridgeResult run()
    {
        if (settings.type >= 0 && !rateKnown(quint8(settings.type)))
            return finish(BridgeResult::OffsetRefused);
        bool ended = false;
        while (!stop.load()) {
            if (contradicted)
                return finish(BridgeResult::RateContradicted);
            if (counts.rateKnown && !waiting.empty()) {
                const Pending item = waiting.front();
                waiting.pop_front();
                if (pacer && !pacer->waitForEnd(item.sample, stop))
                    break;
                handle(item);
                continue;
            }
            if (ended)
                return finish(BridgeResult::EndOfInput);
            const int count = source.read(block, Pcm::kMaxBlock);
            if (count == Pcm::SampleSource::kInterrupted)
                continue;
            if (count == Pcm::SampleSource::kFailed) {
                result.errorText = source.errorText();
                return finish(BridgeResult::ReadFailed);
            }
            if (count == Pcm::SampleSource::kEnd) {
                ended = true;
                if (!counts.rateKnown && detector.settle() && !rateKnown(detector.type()))
                    return finish(BridgeResult::OffsetRefused);
                continue;
            }
            if (!pacer && settings.pacing == BridgeSettings::BySampleClock)
                pacer.emplace(clock, source.sampleRate()); // the first sample is due now
            if (!take(count))
                return finish(BridgeResult::OffsetRefused);
        }
        return finish(BridgeResult::Stopped);
    }

private:
    // Decodes a block; false when the rate became known and the offset does not fit it.
    bool take(int count)
    {
        counts.samples += count;
        if (settings.pacing == BridgeSettings::AsDecoded)
            arrived(clock.now());
        for (int i = 0; i < count; ++i)
            counts.peak = qMax(counts.peak, qAbs(int(block[i])));
        decoder.write(block, count);
        LtcFrame frame;
        while (decoder.read(&frame)) {
            if (watch.fromBeforeLoss(frame.lastSample)) {
                ++counts.stale; // its closing edge came only with the signal's return
                continue;
            }
            ++counts.decoded;
            measureSpeed(frame);
            Pending item;
            item.frame = frame;
            item.sample = frame.lastSample;
            if (counts.rateKnown) {
                const qint64 since = watch.framesSinceLast(frame.firstSample);
                const qint64 number = frameNumber(frame);
                if (watch.decoded(frame)) {
                    item.back = true;
                    item.jump = number < 0 || lastNumber < 0
                                    ? 0
                                    : wrapped(number - lastNumber - since, counts.type);
                }
                lastNumber = number;
            } else {
                watch.decoded(frame);
            }
            lastFrame = frame;
            waiting.push_back(item);
            if (!detector.known() && detector.add(frame)) {
                if (!counts.rateKnown) {
                    if (!rateKnown(detector.type()))
                        return false;
                    lastNumber = frameNumber(frame);
                } else if (detector.type() != counts.type) {
                    contradicted = true;
                    shownType = detector.type();
                }
            }
        }
        if (counts.rateKnown) {
            qint64 sample = 0;
            for (LossWatch::Step step;
                 (step = watch.advance(counts.samples, &sample)) != LossWatch::Nothing;) {
                Pending item;
                item.kind = step == LossWatch::Lost ? Pending::LossMark : Pending::Freewheel;
                item.sample = sample;
                item.freewheel = watch.freewheeled();
                item.frame = lastFrame;
                waiting.push_back(item);
            }
        }
        checkPipe();
        return true;
    }

    qint64 frameNumber(const LtcFrame& frame) const
    {
        return Timecode::toFrameNumber(
            TimecodeRecord{frame.frames, frame.seconds, frame.minutes, frame.hours, counts.type});
    }

    // A difference of frame numbers, the short way round midnight.
    static qint64 wrapped(qint64 difference, quint8 type)
    {
        const qint64 day = Timecode::framesPerDay(type);
        difference %= day;
        if (difference > day / 2)
            difference -= day;
        if (difference <= -day / 2)
            difference += day;
        return difference;
    }

    bool rateKnown(quint8 type)
    {
        counts.rateKnown = true;
        counts.type = type;
        qint64 frames = 0;
        if (!offsetFrames(settings.offset, type, &frames)) {
            result.errorText =
                OptionValues::invalidTimecodeReason(offsetRecord(settings.offset, type));
            return false;
        }
        shift = bridgeShift(frames, settings.latencyCorrection);
        // A live source's frames from before are out of date now; only the newest goes out.
        if (settings.pacing == BridgeSettings::AsDecoded && waiting.size() > 1) {
            counts.skipped += qint64(waiting.size()) - 1;
            waiting.erase(waiting.begin(), waiting.end() - 1);
        }
        return true;
    }

    void handle(const Pending& item)
    {
        if (item.kind == Pending::LossMark) {
            counts.state = freewheelShown < settings.freewheelFrames ? BridgeCounts::Freewheel
                                                                     : BridgeCounts::Lost;
            lossShown = true;
            BridgeNotice notice;
            notice.kind = BridgeNotice::Lost;
            notice.time = counts.lastDecoded;
            tell(notice);
            if (progress)
                progress(counts);
            return;
        }
        if (settings.pacing != BridgeSettings::Fast &&
            frameStale(knownFrom(item.sample), clock.now(), Timecode::periodNs(counts.type))) {
            ++counts.stale;
            return;
        }
        if (item.kind == Pending::Freewheel) {
            freewheelShown = item.freewheel;
            counts.state = lossShown && item.freewheel >= settings.freewheelFrames
                               ? BridgeCounts::Lost
                               : BridgeCounts::Freewheel;
            ++counts.freewheeled;
            sendRecord(bridgedRecord(item.frame, counts.type, shift + item.freewheel), item);
            return;
        }
        const LtcFrame& frame = item.frame;
        const TimecodeRecord decoded{frame.frames, frame.seconds, frame.minutes, frame.hours,
                                     counts.type};
        if (!Timecode::isValid(decoded)) {
            ++notOfRate; // a frame number beyond the rate --rate gave, say
            return;
        }
        counts.state = BridgeCounts::Running;
        freewheelShown = 0;
        counts.lastDecoded = bridgedRecord(frame, counts.type, shift);
        if (item.back && lossShown) {
            BridgeNotice notice;
            notice.kind = BridgeNotice::Back;
            notice.time = counts.lastDecoded;
            notice.jump = item.jump;
            tell(notice);
        }
        lossShown = false;
        sendRecord(counts.lastDecoded, item);
    }

    void sendRecord(const TimecodeRecord& record, const Pending& item)
    {
        counts.last = record;
        if (!send(counts.last, pacer ? pacer->due(item.sample) : -1))
            ++counts.failed;
        ++counts.sent;
        counts.errors = decoder.errors() + notOfRate;
        if (progress)
            progress(counts);
    }

    // When a frame ending at `sample` was due: by the sample clock, or when that sample came.
    qint64 due(qint64 sample) const
    {
        if (pacer)
            return pacer->due(sample);
        for (const auto& [end, ns] : arrivals) {
            if (sample < end)
                return ns;
        }
        return arrivals.empty() ? clock.now() : arrivals.back().second;
    }

    // When a frame ending at `sample` could first be decoded. As decoded, that is when the edge
    // that closes it came: the next frame's first, within a bit of its end. A live source that
    // writes each frame whole, one period after the one before, hands that edge over a period
    // after the frame; counted from the frame's own last sample, each such frame would sit on
    // the stale limit and drop out at the first microsecond of jitter.
    qint64 knownFrom(qint64 sample) const
    {
        if (pacer)
            return pacer->due(sample);
        const double bit =
            double(source.sampleRate()) / (Timecode::nominalRate(counts.type) * kLtcBits);
        return due(sample + qint64(std::ceil(bit)));
    }

    void arrived(qint64 now)
    {
        if (firstArrival < 0)
            firstArrival = now;
        arrivals.emplace_back(counts.samples, now);
        if (arrivals.size() > kArrivals)
            arrivals.pop_front();
    }

    void measureSpeed(const LtcFrame& frame)
    {
        const bool continuous =
            havePrevious &&
            joinFrames(previous.firstSample, previous.lastSample, frame.firstSample).kind ==
                FrameJoin::Continuous;
        havePrevious = true;
        previous = frame;
        if (!continuous) {
            speedFrames = 0;
            speedSamples = 0;
            return;
        }
        ++speedFrames;
        speedSamples += frame.lastSample - frame.firstSample + 1;
        if (speedTold || !counts.rateKnown || speedFrames < kSpeedFrames)
            return;
        const double error = speedError(speedFrames, speedSamples, source.sampleRate(),
                                        Timecode::nominalRate(counts.type));
        speedFrames = 0;
        speedSamples = 0;
        if (!speedWrong(error))
            return;
        speedTold = true;
        BridgeNotice notice;
        notice.kind = BridgeNotice::WrongSpeed;
        notice.speedError = error;
        notice.fittingRate = fittingSampleRate(source.sampleRate(), error);
        tell(notice);
    }

    void checkPipe()
    {
        if (pipeTold || settings.pacing != BridgeSettings::AsDecoded ||
            !pipeTooFast(counts.samples, source.sampleRate(), clock.now() - firstArrival))
            return;
        pipeTold = true;
        BridgeNotice notice;
        notice.kind = BridgeNotice::PipeTooFast;
        tell(notice);
    }

    void tell(const BridgeNotice& notice)
    {
        if (!notify)
            return;
        BridgeNotice told = notice;
        told.type = counts.type;
        notify(told);
    }

    BridgeResult finish(BridgeResult::End end)
    {
        counts.errors = decoder.errors() + notOfRate;
        if (end == BridgeResult::RateContradicted)
            counts.type = shownType;
        result.end = end;
        result.counts = counts;
        return result;
    }

    Pcm::SampleSource& source;
    const BridgeSettings& settings;
    PacingClock& clock;
    const std::atomic<bool>& stop;
    const BridgeSend& send;
    const BridgeProgress& progress;
    const BridgeNotify& notify;
    LtcDecoder decoder;
    RateDetector detector;
    LossWatch watch;
    std::optional<SamplePacer> pacer;
    std::deque<Pending> waiting;                    // decoded, not yet sent
    std::deque<std::pair<qint64, qint64>> arrivals; // samples read by then, and when
    qint64 firstArrival = -1;
    LtcFrame lastFrame;     // the last decoded, which freewheeling goes on from
    qint64 lastNumber = -1; // its frame number
    bool lossShown = false;
    int freewheelShown = 0;
    bool contradicted = false;
    quint8 shownType = 0;
    bool havePrevious = false;
    LtcFrame previous;
    qint64 speedFrames = 0;
    qint64 speedSamples = 0;
    bool speedTold = false;
    bool pipeTold = false;
    qint64 shift = 0;
    qint64 notOfRate = 0;
    qint16 block[Pcm::kMaxBlock];
    BridgeCounts counts;
    BridgeResult result;
};

} // namespace

BridgeResult runBridge(Pcm::SampleSource& source, const BridgeSettings& settings,
                       PacingClock& clock, const std::atomic<bool>& stop, const BridgeSend& send,
                       const BridgeProgress& progress, const BridgeNotify& notify)
{
    return Bridge(source, settings, clock, stop, send, progress, notify).run();
}
