#include "ltc/ltcwatch.h"

#include <cmath>

namespace {

constexpr qint64 kNsPerSecond = 1000000000;
constexpr int kUsualSampleRates[] = {32000, 44100, 48000, 88200, 96000, 176400, 192000};
constexpr double kUsualRateTolerance = 0.005;
// A pipe that brings more than 3/2 of real time is a recording, not a live line.
constexpr qint64 kPipeSpeedNumerator = 3;
constexpr qint64 kPipeSpeedDenominator = 2;
constexpr int kPipeSeconds = 2;

} // namespace

bool frameStale(qint64 dueNs, qint64 nowNs, qint64 periodNs)
{
    return nowNs - dueNs > periodNs;
}

double speedError(qint64 frames, qint64 samples, int sampleRate, double fps)
{
    if (samples <= 0 || fps <= 0)
        return 0;
    return double(frames) * sampleRate / double(samples) / fps - 1.0;
}

bool speedWrong(double error)
{
    return std::abs(error) > kSpeedTolerance;
}

int fittingSampleRate(int sampleRate, double error)
{
    const double fitting = sampleRate / (1.0 + error);
    for (const int usual : kUsualSampleRates) {
        if (std::abs(fitting / usual - 1.0) <= kUsualRateTolerance)
            return usual;
    }
    return int(std::lround(fitting / 10.0)) * 10;
}

bool pipeTooFast(qint64 samples, int sampleRate, qint64 elapsedNs)
{
    if (samples < qint64(kPipeSeconds) * sampleRate)
        return false;
    // samples / rate > 3/2 × elapsed, in integers.
    return samples * kNsPerSecond * kPipeSpeedDenominator >
           kPipeSpeedNumerator * elapsedNs * sampleRate;
}

LossWatch::LossWatch(int freewheelFrames) : freewheelFrames(freewheelFrames) {}

bool LossWatch::decoded(const LtcFrame& frame)
{
    const bool back = isLost;
    haveFrame = true;
    last = frame;
    length = qMax<qint64>(1, frame.lastSample - frame.firstSample + 1);
    isLost = false;
    freewheelSent = 0;
    return back;
}

LossWatch::Step LossWatch::advance(qint64 position, qint64* sample)
{
    if (!haveFrame)
        return Nothing;
    const qint64 lastRead = position - 1;
    // A frame is missing once a quarter of a frame has passed its end with nothing decoded.
    const qint64 nextEnd = last.lastSample + (freewheelSent + 1) * length;
    const bool freewheelDue = freewheelSent < freewheelFrames && lastRead - nextEnd >= length / 4;
    const qint64 lossAt = last.lastSample + 2 * length;
    if (!isLost && lastRead >= lossAt && (!freewheelDue || lossAt <= nextEnd)) {
        isLost = true;
        lossSample = lossAt;
        *sample = lossAt;
        return Lost;
    }
    if (freewheelDue) {
        ++freewheelSent;
        *sample = nextEnd;
        return Freewheel;
    }
    return Nothing;
}

qint64 LossWatch::framesSinceLast(qint64 firstSample) const
{
    return qRound64(double(firstSample - last.firstSample) / double(length));
}

bool LossWatch::fromBeforeLoss(qint64 lastSample) const
{
    return isLost && lastSample <= lossSample;
}
