#include "mtc/mtcbridgerules.h"

#include <cmath>

namespace Mtc {

namespace {

constexpr qint64 kSecondNs = 1'000'000'000;
// Frames the eight pieces of a whole time span by the time its last one comes.
constexpr qint64 kPiecesLatencyFrames = 2;
// Frame periods without a frame read that make a loss.
constexpr qint64 kLossPeriods = 2;

// Nanoseconds of `frames` periods of the Type, exactly.
qint64 periodsNs(quint8 type, qint64 frames)
{
    const Timecode::Rate rate = Timecode::rate(type);
    return frames * rate.periodNumerator * kSecondNs / rate.periodDenominator;
}

// A difference of frame numbers, the short way round midnight.
qint64 wrapped(qint64 difference, quint8 type)
{
    const qint64 day = Timecode::framesPerDay(type);
    difference %= day;
    if (difference > day / 2)
        difference -= day;
    if (difference <= -day / 2)
        difference += day;
    return difference;
}

} // namespace

BridgeRules::BridgeRules(const BridgeSettings& settings) : settings(settings) {}

void BridgeRules::message(const quint8* bytes, int size, qint64 nowNs,
                          std::vector<BridgeAction>* actions)
{
    const Event event = reader.read(bytes, size);
    count.errors = reader.errors();
    switch (event.kind) {
    case Event::Time:
        // Backwards the music moves away from the pieces' time, and no count of frames says by
        // how much: the time goes out as it came.
        sendRead(event.reverse || !settings.latencyCorrection
                     ? event.record
                     : Timecode::offset(event.record, kPiecesLatencyFrames),
                 event.reverse, nowNs, actions);
        break;
    case Event::Frame:
        // Counted from a locate, the frames run ahead of the times as decoded, which would then
        // step back: without the correction the first whole time is waited for.
        if (!haveRead || (event.afterLocate && !settings.latencyCorrection))
            break;
        sendRead(Timecode::offset(position, event.reverse ? -1 : 1), event.reverse, nowNs, actions);
        break;
    case Event::Locate:
        ++count.locates;
        sendRead(event.record, false, nowNs, actions);
        break;
    case Event::None:
    case Event::Error:
        break;
    }
}

void BridgeRules::sendRead(const TimecodeRecord& time, bool reverse, qint64 nowNs,
                           std::vector<BridgeAction>* actions)
{
    if (!settings.offsetExists[time.type]) {
        if (!offsetRefused) {
            offsetRefused = true;
            BridgeAction action;
            action.kind = BridgeAction::OffsetRefused;
            action.record = time;
            actions->push_back(action);
        }
        return;
    }
    qint64 jump = 0;
    if (haveRead && position.type == time.type) {
        const qint64 periods = periodsNs(time.type, 1);
        const qint64 since = (nowNs - readNs + periods / 2) / periods;
        jump = wrapped(Timecode::toFrameNumber(time) - Timecode::toFrameNumber(position) -
                           (backwards ? -since : since),
                       time.type);
    }
    const bool back = lost;
    haveRead = true;
    position = time;
    backwards = reverse;
    readNs = nowNs;
    lost = false;
    freewheelSent = 0;
    ++count.decoded;
    count.reversed += reverse ? 1 : 0;
    count.state = BridgeCounts::Running;
    if (back) {
        BridgeAction action;
        action.kind = BridgeAction::Back;
        action.record = Timecode::offset(time, settings.offsetFrames[time.type]);
        action.jump = jump;
        actions->push_back(action);
    }
    send(time, false, actions);
    count.lastDecoded = count.last;
}

void BridgeRules::send(const TimecodeRecord& time, bool freewheel,
                       std::vector<BridgeAction>* actions)
{
    BridgeAction action;
    action.kind = BridgeAction::Send;
    action.record = Timecode::offset(time, settings.offsetFrames[time.type]);
    action.freewheel = freewheel;
    actions->push_back(action);
    count.last = action.record;
    count.type = action.record.type;
    count.rateKnown = true;
    ++count.sent;
}

qint64 BridgeRules::freewheelDueNs() const
{
    if (!haveRead || offsetRefused || freewheelSent >= settings.freewheelFrames)
        return -1;
    // A frame is missing once a quarter of a frame has passed its time with nothing read.
    const qint64 period = periodsNs(position.type, 1);
    return readNs + periodsNs(position.type, freewheelSent + 1) + period / kPiecesPerFrame;
}

qint64 BridgeRules::lossDueNs() const
{
    if (!haveRead || offsetRefused || lost)
        return -1;
    return readNs + periodsNs(position.type, kLossPeriods);
}

qint64 BridgeRules::nextDueNs() const
{
    const qint64 freewheel = freewheelDueNs();
    const qint64 loss = lossDueNs();
    if (freewheel < 0)
        return loss;
    return loss < 0 ? freewheel : qMin(freewheel, loss);
}

void BridgeRules::advance(qint64 nowNs, std::vector<BridgeAction>* actions)
{
    for (;;) {
        const qint64 freewheel = freewheelDueNs();
        const qint64 loss = lossDueNs();
        const bool lossFirst = loss >= 0 && (freewheel < 0 || loss <= freewheel);
        const qint64 due = lossFirst ? loss : freewheel;
        if (due < 0 || due > nowNs)
            return;
        if (lossFirst) {
            lost = true;
            // The pieces read so far belong to a time that has gone.
            reader.reset();
            count.state = freewheelSent < settings.freewheelFrames ? BridgeCounts::Freewheel
                                                                   : BridgeCounts::Lost;
            BridgeAction action;
            action.kind = BridgeAction::Lost;
            action.record = count.lastDecoded;
            actions->push_back(action);
            continue;
        }
        ++freewheelSent;
        ++count.freewheeled;
        count.state = lost && freewheelSent >= settings.freewheelFrames ? BridgeCounts::Lost
                                                                        : BridgeCounts::Freewheel;
        send(Timecode::offset(position, backwards ? -freewheelSent : freewheelSent), true, actions);
    }
}

} // namespace Mtc
