#include "ltcbridge/ltcbridgecommand.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "common/localnetworks.h"
#include "common/optionvalues.h"
#include "common/pollresponder.h"
#include "common/timecodesender.h"
#include "ltcbridge/ltcbridgeoptions.h"

#include "framepacer.h"
#include "timecode.h"

#include <cmath>
#include <unistd.h>

namespace {

// A terminal shows at most this many status lines a second, however fast frames are decoded.
constexpr qint64 kStatusIntervalNs = 100000000;

QString statusText(const BridgeCounts& counts)
{
    QString time = Timecode::text(counts.last);
    if (counts.state == BridgeCounts::Lost)
        time = CliText::tr("LTC lost after %1").arg(Timecode::text(counts.lastDecoded));
    else if (counts.state == BridgeCounts::Freewheel)
        time += CliText::tr(" freewheel");
    return CliText::tr("%1  %2 fps  %3 decoded  %4 sent  %5 errors")
        .arg(time, OptionValues::rateText(counts.type))
        .arg(counts.decoded)
        .arg(counts.sent)
        .arg(counts.errors);
}

// A jump of whole frames as a signed timecode of the rate's numbering.
QString jumpText(qint64 frames, quint8 type)
{
    const TimecodeRecord size = Timecode::fromFrameNumber(qAbs(frames), type);
    return (frames < 0 ? QStringLiteral("-") : QStringLiteral("+")) + Timecode::text(size);
}

QString noticeText(const BridgeNotice& notice, int sampleRate)
{
    switch (notice.kind) {
    case BridgeNotice::Lost:
        return CliText::tr("LTC lost after %1").arg(Timecode::text(notice.time));
    case BridgeNotice::Back:
        if (notice.jump == 0)
            return CliText::tr("LTC back at %1").arg(Timecode::text(notice.time));
        return CliText::tr("LTC back at %1, a jump of %2")
            .arg(Timecode::text(notice.time), jumpText(notice.jump, notice.type));
    case BridgeNotice::WrongSpeed:
        return (notice.speedError > 0
                    ? CliText::tr("LTC runs %1 % fast at %2 Hz: is the audio %3 Hz?")
                    : CliText::tr("LTC runs %1 % slow at %2 Hz: is the audio %3 Hz?"))
            .arg(std::abs(notice.speedError) * 100, 0, 'f', 1)
            .arg(sampleRate)
            .arg(notice.fittingRate);
    case BridgeNotice::PipeTooFast:
        return CliText::tr("standard input comes faster than real time, as a recording does: "
                           "give --realtime to send it at its own pace");
    }
    return QString();
}

QString summaryText(const BridgeCounts& counts, int sampleRate)
{
    const QString seconds = QString::number(double(counts.samples) / sampleRate, 'f', 3);
    if (!counts.rateKnown)
        return CliText::tr("decoded 0 frames in %1 s of audio\n").arg(seconds);
    QString text =
        (counts.decoded == 1 ? CliText::tr("decoded %1 frame in %2 s of audio at %3 fps; sent %4")
                             : CliText::tr("decoded %1 frames in %2 s of audio at %3 fps; sent %4"))
            .arg(counts.decoded)
            .arg(seconds, OptionValues::rateText(counts.type))
            .arg(counts.sent);
    text += counts.errors == 1 ? CliText::tr(", 1 error")
                               : CliText::tr(", %1 errors").arg(counts.errors);
    if (counts.skipped > 0)
        text += CliText::tr(", %1 skipped").arg(counts.skipped);
    if (counts.stale > 0)
        text += CliText::tr(", %1 stale").arg(counts.stale);
    if (counts.freewheeled > 0)
        text += CliText::tr(", %1 freewheeled").arg(counts.freewheeled);
    if (counts.failed > 0)
        text += CliText::tr(", %1 failed").arg(counts.failed);
    return text + QLatin1Char('\n');
}

QString offsetText(const TimecodeOffset& offset)
{
    return QString::asprintf("%c%02d:%02d:%02d:%02d", offset.backward ? '-' : '+', offset.hours,
                             offset.minutes, offset.seconds, offset.frames);
}

// What to look at when the input held no LTC: its loudest sample tells a level problem, and the
// channel and sample rate are the other two usual mistakes.
QString noLtcHint(const LtcBridgeOptions& options, const BridgeCounts& counts, int sampleRate,
                  int channels)
{
    const QString loudest = counts.peak == 0
                                ? CliText::tr("all silent")
                                : CliText::tr("loudest sample %1 dBFS")
                                      .arg(20.0 * std::log10(counts.peak / 32768.0), 0, 'f', 1);
    const QString seconds = QString::number(double(counts.samples) / sampleRate, 'f', 1);
    if (options.input.isEmpty())
        return CliText::tr("ltc-bridge: no LTC found on standard input (%1 s at %2 Hz, %3); "
                           "check the level (LTC needs -40 dBFS or more), that the input is one "
                           "channel, and --sample-rate (the rate it was recorded at)")
            .arg(seconds)
            .arg(sampleRate)
            .arg(loudest);
    return CliText::tr("ltc-bridge: no LTC found in %1 (channel %2 of %3, %4 s at %5 Hz, %6); "
                       "check the level (LTC needs -40 dBFS or more), the channel (--channel N) "
                       "and the sample rate it was recorded at")
        .arg(options.input)
        .arg(options.channel)
        .arg(channels)
        .arg(seconds)
        .arg(sampleRate)
        .arg(loudest);
}

} // namespace

int runLtcBridge(const QStringList& arguments)
{
    LtcBridgeOptions options;
    int status = ExitStatus::kOk;
    if (!parseLtcBridgeOptions(arguments, &options, &status))
        return status;

    const std::atomic<bool>& stop = Console::installStopSignals();
    std::unique_ptr<Pcm::SampleSource> source;
    int channels = 1;
    if (options.input.isEmpty()) {
        if (isatty(STDIN_FILENO) == 1) {
            Console::error(CliText::tr("ltc-bridge: standard input is a terminal; pipe raw audio "
                                       "into it (arecord -q -t raw -f S16_LE -r 48000 -c 1 |) "
                                       "or give --input FILE.wav"));
            return ExitStatus::kUsage;
        }
        source = Pcm::rawSource(STDIN_FILENO, options.sampleRate, options.format, &stop);
    } else {
        QString error;
        source = Pcm::openFile(options.input, options.channel, &error, &channels);
        if (!source) {
            Console::error(QStringLiteral("ltc-bridge: ") + error);
            return ExitStatus::kUsage;
        }
    }

    int refused = ExitStatus::kOk;
    const QList<QHostAddress> destinations =
        sendingDestinations(QStringLiteral("ltc-bridge"), options.destinations, &refused);
    if (destinations.isEmpty())
        return refused;
    TimecodeSender sender(destinations);
    sender.setStream(options.stream);
    if (!sender.open()) {
        Console::error(QStringLiteral("ltc-bridge: ") + sender.errorText());
        return ExitStatus::kFailure;
    }

    // The stream in the long name tells a window which of several programs answering from this
    // machine sends which stream.
    const PollResponder answering(
        QStringLiteral("Chronolume LTC"),
        QStringLiteral("ArtTimeCode stream %1 from LTC audio").arg(int(options.stream)),
        destinations, PollAnswer::kLtcBindIndex);
    if (options.settings.pacing == BridgeSettings::BySampleClock)
        preferPromptWakeups();
    const bool showStatus = !options.quiet && Console::stdoutIsTerminal();
    MonotonicClock clock;
    BridgeResult result;
    {
        // Nothing written may hold up a frame: a paused terminal delays only the status line.
        Console::OutputThread output;
        Console::OutputThread errors(stderr);
        qint64 lastStatus = clock.now() - kStatusIntervalNs;
        BridgeCounts::State lastState = BridgeCounts::Running;
        const bool clearStatus = showStatus && isatty(STDERR_FILENO) == 1;
        result = runBridge(
            *source, options.settings, clock, stop,
            [&sender](const TimecodeRecord& record, qint64) { return sender.send(record); },
            [&](const BridgeCounts& counts) {
                // A change of state shows at once; the time at most every interval.
                if (!showStatus ||
                    (counts.state == lastState && clock.now() - lastStatus < kStatusIntervalNs))
                    return;
                lastState = counts.state;
                lastStatus = clock.now();
                output.redrawLine(statusText(counts));
            },
            [&](const BridgeNotice& notice) {
                const QString line = QStringLiteral("chronolume-cli: ltc-bridge: ") +
                                     noticeText(notice, source->sampleRate()) + QLatin1Char('\n');
                // On the terminal the status line is drawn on, the notice takes its place and
                // the status line is drawn again below it.
                errors.append(clearStatus ? QStringLiteral("\r\x1b[K") + line : line);
            });
        if (showStatus && result.counts.sent > 0) {
            output.redrawLine(statusText(result.counts));
            output.appendAtEnd(QStringLiteral("\n"));
        }
        output.appendAtEnd(summaryText(result.counts, source->sampleRate()));
    }

    const BridgeCounts& counts = result.counts;
    switch (result.end) {
    case BridgeResult::ReadFailed:
        Console::error(
            CliText::tr("ltc-bridge: cannot read %1: %2")
                .arg(options.input.isEmpty() ? CliText::tr("standard input") : options.input,
                     result.errorText));
        return ExitStatus::kFailure;
    case BridgeResult::RateContradicted:
        Console::error(CliText::tr("ltc-bridge: --rate %1 does not fit the LTC, which runs at %2 "
                                   "fps")
                           .arg(OptionValues::rateText(quint8(options.settings.type)),
                                OptionValues::rateText(counts.type)));
        return ExitStatus::kFailure;
    case BridgeResult::OffsetRefused:
        Console::error(CliText::tr("ltc-bridge: --offset %1 does not exist at %2 fps: %3")
                           .arg(offsetText(options.settings.offset),
                                OptionValues::rateText(counts.type), result.errorText));
        return ExitStatus::kUsage;
    default:
        break;
    }
    if (counts.decoded == 0) {
        Console::error(noLtcHint(options, counts, source->sampleRate(), channels));
        return ExitStatus::kFailure;
    }
    if (counts.failed > 0) {
        Console::error(CliText::tr("ltc-bridge: %1 of %2 frames failed; the first failure: %3")
                           .arg(counts.failed)
                           .arg(counts.sent)
                           .arg(sender.errorText()));
        return ExitStatus::kFailure;
    }
    return ExitStatus::kOk;
}
