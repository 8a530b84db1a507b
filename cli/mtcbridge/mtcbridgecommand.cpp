#include "mtcbridge/mtcbridgecommand.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "framepacer.h"
#include "common/localnetworks.h"
#include "common/optionvalues.h"
#include "common/pollresponder.h"
#include "common/timecodesender.h"
#include "mtcbridge/mtcbridgeoptions.h"
#include "mtcbridge/mtcbridgerun.h"

#include "artnet.h"
#include "timecode.h"

#include <unistd.h>

namespace {

// A terminal shows at most this many status lines a second, however fast frames come.
constexpr qint64 kStatusIntervalNs = 100000000;
// Messages waiting for the bridge's thread: seconds of MTC, which comes 120 a second at most.
constexpr int kInboxLimit = 1024;

QString statusText(const Mtc::BridgeCounts& counts)
{
    QString time = Timecode::text(counts.last);
    if (counts.state == Mtc::BridgeCounts::Lost)
        time = CliText::tr("MTC lost after %1").arg(Timecode::text(counts.lastDecoded));
    else if (counts.state == Mtc::BridgeCounts::Freewheel)
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

QString noticeText(const Mtc::BridgeAction& notice)
{
    if (notice.kind == Mtc::BridgeAction::Lost)
        return CliText::tr("MTC lost after %1").arg(Timecode::text(notice.record));
    if (notice.jump == 0)
        return CliText::tr("MTC back at %1").arg(Timecode::text(notice.record));
    return CliText::tr("MTC back at %1, a jump of %2")
        .arg(Timecode::text(notice.record), jumpText(notice.jump, notice.record.type));
}

QString summaryText(const MtcBridgeResult& result, qint64 dropped)
{
    const Mtc::BridgeCounts& counts = result.counts;
    QString text =
        !counts.rateKnown
            ? CliText::tr("decoded 0 frames of MTC")
            : (counts.decoded == 1 ? CliText::tr("decoded %1 frame of MTC at %2 fps; sent %3")
                                   : CliText::tr("decoded %1 frames of MTC at %2 fps; sent %3"))
                  .arg(counts.decoded)
                  .arg(OptionValues::rateText(counts.type))
                  .arg(counts.sent);
    text += counts.errors == 1 ? CliText::tr(", 1 error")
                               : CliText::tr(", %1 errors").arg(counts.errors);
    if (counts.reversed > 0)
        text += CliText::tr(", %1 reversed").arg(counts.reversed);
    if (counts.freewheeled > 0)
        text += CliText::tr(", %1 freewheeled").arg(counts.freewheeled);
    if (result.failed > 0)
        text += CliText::tr(", %1 failed").arg(result.failed);
    if (dropped > 0)
        text += CliText::tr(", %1 MIDI messages dropped").arg(dropped);
    return text + QLatin1Char('\n');
}

QString offsetText(const TimecodeOffset& offset)
{
    return QString::asprintf("%c%02d:%02d:%02d:%02d", offset.backward ? '-' : '+', offset.hours,
                             offset.minutes, offset.seconds, offset.frames);
}

int listPorts(const MtcBridgeOptions& options)
{
    Midi::Input input;
    if (!input.open(MidiOptions::api(options.midi), QLatin1String(MidiOptions::kClient))) {
        Console::error(QStringLiteral("mtc-bridge: ") + input.errorText());
        return ExitStatus::kFailure;
    }
    QString text;
    for (const QString& name : input.ports())
        text += name + QLatin1Char('\n');
    Console::writeOut(text);
    return ExitStatus::kOk;
}

} // namespace

int runMtcBridge(const QStringList& arguments)
{
    MtcBridgeOptions options;
    int status = ExitStatus::kOk;
    if (!parseMtcBridgeOptions(arguments, &options, &status))
        return status;
    if (options.midi.listPorts)
        return listPorts(options);

    int refused = ExitStatus::kOk;
    const QList<QHostAddress> destinations =
        sendingDestinations(QStringLiteral("mtc-bridge"), options.destinations, &refused);
    if (destinations.isEmpty())
        return refused;
    TimecodeSender sender(destinations);
    sender.setStream(options.stream);
    if (!sender.open()) {
        Console::error(QStringLiteral("mtc-bridge: ") + sender.errorText());
        return ExitStatus::kFailure;
    }

    const std::atomic<bool>& stop = Console::installStopSignals();
    Mtc::Inbox inbox(kInboxLimit);
    Midi::Input input;
    if (!input.open(MidiOptions::api(options.midi), QLatin1String(MidiOptions::kClient))) {
        Console::error(QStringLiteral("mtc-bridge: ") + input.errorText());
        return ExitStatus::kFailure;
    }
    const Midi::Opened opened = input.start(options.midi.port, options.midi.connect,
                                            [&inbox](const unsigned char* bytes, size_t size) {
                                                // Stamped as it is handed over: the MIDI system's
                                                // own times differ between ALSA and JACK, and the
                                                // bridge's rules want the steady clock.
                                                inbox.push(bytes, size, artNetNowNs());
                                            });
    if (opened != Midi::Opened::Yes) {
        Console::error(QStringLiteral("mtc-bridge: ") + input.errorText());
        return opened == Midi::Opened::NoSuchPort ? ExitStatus::kUsage : ExitStatus::kFailure;
    }

    const PollResponder answering(QStringLiteral("Chronolume MTC"),
                                  QStringLiteral("ArtTimeCode from MIDI timecode"), destinations,
                                  PollAnswer::kMtcBindIndex);
    preferPromptWakeups();
    const bool showStatus = !options.quiet && Console::stdoutIsTerminal();
    MonotonicClock clock;
    MtcBridgeResult result;
    {
        // Nothing written may hold up a frame: a paused terminal delays only the status line.
        Console::OutputThread output;
        Console::OutputThread errors(stderr);
        qint64 lastStatus = clock.now() - kStatusIntervalNs;
        Mtc::BridgeCounts::State lastState = Mtc::BridgeCounts::Running;
        const bool clearStatus = showStatus && isatty(STDERR_FILENO) == 1;
        result = bridgeMtc(
            inbox, options.settings, stop,
            [&sender](const TimecodeRecord& record, qint64) { return sender.send(record); },
            [&](const Mtc::BridgeCounts& counts) {
                // A change of state shows at once; the time at most every interval.
                if (!showStatus ||
                    (counts.state == lastState && clock.now() - lastStatus < kStatusIntervalNs))
                    return;
                lastState = counts.state;
                lastStatus = clock.now();
                output.redrawLine(statusText(counts));
            },
            [&](const Mtc::BridgeAction& notice) {
                const QString line =
                    QStringLiteral("chronolume-cli: mtc-bridge: ") + noticeText(notice) + '\n';
                // On the terminal the status line is drawn on, the notice takes its place and
                // the status line is drawn again below it.
                errors.append(clearStatus ? QStringLiteral("\r\x1b[K") + line : line);
            });
        if (showStatus && result.counts.sent > 0) {
            output.redrawLine(statusText(result.counts));
            output.append(QStringLiteral("\n"));
        }
        output.appendAtEnd(summaryText(result, inbox.dropped()));
    }

    const Mtc::BridgeCounts& counts = result.counts;
    if (result.end == MtcBridgeResult::OffsetRefused) {
        Console::error(CliText::tr("mtc-bridge: --offset %1 does not exist at %2 fps: %3")
                           .arg(offsetText(options.offset),
                                OptionValues::rateText(result.refusedType),
                                OptionValues::invalidTimecodeReason(
                                    offsetRecord(options.offset, result.refusedType))));
        return ExitStatus::kUsage;
    }
    if (counts.decoded == 0) {
        Console::error(CliText::tr("mtc-bridge: heard no MTC (%1 errors); check that the sender "
                                   "sends MTC on its MIDI output and that it is connected to "
                                   "\"%2\" (--list-ports, --connect PORT)")
                           .arg(counts.errors)
                           .arg(options.midi.port));
        return ExitStatus::kNoneHeard;
    }
    if (result.failed > 0) {
        Console::error(CliText::tr("mtc-bridge: %1 of %2 frames failed; the first failure: %3")
                           .arg(result.failed)
                           .arg(counts.sent)
                           .arg(sender.errorText()));
        return ExitStatus::kFailure;
    }
    return ExitStatus::kOk;
}
