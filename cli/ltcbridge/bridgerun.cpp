#include "ltcbridge/bridgerun.h"
#include "common/optionvalues.h"
#include "ltc/ltcdecoder.h"
#include "ltc/ratedetector.h"

#include "timecode.h"

#include <deque>
#include <optional>

namespace {

class Bridge
{
public:
    Bridge(Pcm::SampleSource& source, const BridgeSettings& settings, PacingClock& clock,
           const std::atomic<bool>& stop, const BridgeSend& send, const BridgeProgress& progress)
        : source(source), settings(settings), clock(clock), stop(stop), send(send),
          progress(progress), decoder(source.sampleRate()), detector(source.sampleRate())
    {
    }

    BridgeResult run()
    {
        if (settings.type >= 0 && !rateKnown(quint8(settings.type)))
            return finish(BridgeResult::OffsetRefused);
        bool ended = false;
        while (!stop.load()) {
            if (counts.rateKnown && !waiting.empty()) {
                const LtcFrame frame = waiting.front();
                waiting.pop_front();
                if (pacer && !pacer->waitForEnd(frame.lastSample, stop))
                    break;
                sendFrame(frame);
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
        for (int i = 0; i < count; ++i)
            counts.peak = qMax(counts.peak, qAbs(int(block[i])));
        decoder.write(block, count);
        LtcFrame frame;
        while (decoder.read(&frame)) {
            ++counts.decoded;
            waiting.push_back(frame);
            if (!counts.rateKnown && detector.add(frame) && !rateKnown(detector.type()))
                return false;
        }
        return true;
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

    void sendFrame(const LtcFrame& frame)
    {
        const TimecodeRecord decoded{frame.frames, frame.seconds, frame.minutes, frame.hours,
                                     counts.type};
        if (!Timecode::isValid(decoded)) {
            ++notOfRate; // a frame number beyond the rate --rate gave, say
            return;
        }
        counts.last = bridgedRecord(frame, counts.type, shift);
        if (!send(counts.last, pacer ? pacer->due(frame.lastSample) : -1))
            ++counts.failed;
        ++counts.sent;
        counts.errors = decoder.errors() + notOfRate;
        if (progress)
            progress(counts);
    }

    BridgeResult finish(BridgeResult::End end)
    {
        counts.errors = decoder.errors() + notOfRate;
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
    LtcDecoder decoder;
    RateDetector detector;
    std::optional<SamplePacer> pacer;
    std::deque<LtcFrame> waiting; // decoded, not yet sent
    qint64 shift = 0;
    qint64 notOfRate = 0;
    qint16 block[Pcm::kMaxBlock];
    BridgeCounts counts;
    BridgeResult result;
};

} // namespace

BridgeResult runBridge(Pcm::SampleSource& source, const BridgeSettings& settings,
                       PacingClock& clock, const std::atomic<bool>& stop, const BridgeSend& send,
                       const BridgeProgress& progress)
{
    return Bridge(source, settings, clock, stop, send, progress).run();
}
