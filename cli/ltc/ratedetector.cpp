#include "ltc/ratedetector.h"

#include "timecode.h"

#include <cmath>

RateDetector::RateDetector(int sampleRate) : sampleRate(sampleRate) {}

bool RateDetector::add(const LtcFrame& frame)
{
    if (decided)
        return true;
    if (frame.dropFrame) {
        decide(Timecode::kDropFrame);
        return true;
    }
    if (havePrevious && frame.frames == 0 && frame.seconds == (previous.seconds + 1) % 60 &&
        joinFrames(previous.firstSample, previous.lastSample, frame.firstSample).kind ==
            FrameJoin::Continuous) {
        switch (previous.frames) {
        case 23:
            decide(Timecode::kFilm);
            return true;
        case 24:
            decide(Timecode::kEbu);
            return true;
        case 29:
            decide(Timecode::kSmpte);
            return true;
        default:
            break; // not the last frame of a second at any rate: a jump
        }
    }
    havePrevious = true;
    previous = frame;
    highestFrame = qMax(highestFrame, int(frame.frames));
    ++frameCount;
    spannedSamples += frame.lastSample - frame.firstSample + 1;
    if (frameCount >= kCadenceFrames)
        decideByCadence();
    return decided;
}

bool RateDetector::settle()
{
    if (!decided && frameCount > 0)
        decideByCadence();
    return decided;
}

void RateDetector::decide(quint8 type)
{
    decided = true;
    result = type;
}

void RateDetector::decideByCadence()
{
    // The nearest rate to the measured one among those whose frame numbers reach as high as
    // the stream's did.
    const double fps = double(sampleRate) * double(frameCount) / double(spannedSamples);
    const quint8 candidates[] = {Timecode::kFilm, Timecode::kEbu, Timecode::kSmpte};
    quint8 best = Timecode::kSmpte;
    double bestDistance = INFINITY;
    for (const quint8 type : candidates) {
        const int nominal = Timecode::nominalFps(type);
        const double distance = std::abs(fps - nominal);
        if (nominal > highestFrame && distance < bestDistance) {
            best = type;
            bestDistance = distance;
        }
    }
    decide(best);
}
