#include "mtcencode/mtcencodecommand.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "framepacer.h"
#include "common/optionvalues.h"
#include "mtc/mtcsequencer.h"
#include "mtcencode/mtcencodeoptions.h"
#include "mtcencode/mtcfollow.h"
#include "mtcencode/mtcoutput.h"

#include "timecode.h"

namespace {

// A terminal shows at most this many status lines a second.
constexpr qint64 kStatusIntervalNs = 100000000;
// The first frame begins this long after the port is open, so its full frame is on time.
constexpr qint64 kFirstFrameNs = 5'000'000;

QString statusText(const TimecodeRecord& record, qint64 written)
{
    return CliText::tr("%1  %2 fps  %3 frames sent")
        .arg(Timecode::text(record), OptionValues::rateText(record.type))
        .arg(written);
}

int listPorts(const MtcEncodeOptions& options)
{
    Midi::Output output;
    if (!output.open(MidiOptions::api(options.midi), QLatin1String(MidiOptions::kClient))) {
        Console::error(QStringLiteral("mtc-encode: ") + output.errorText());
        return ExitStatus::kFailure;
    }
    QString text;
    for (const QString& name : output.ports())
        text += name + QLatin1Char('\n');
    Console::writeOut(text);
    return ExitStatus::kOk;
}

} // namespace

int runMtcEncode(const QStringList& arguments)
{
    MtcEncodeOptions options;
    int status = ExitStatus::kOk;
    if (!parseMtcEncodeOptions(arguments, &options, &status))
        return status;
    if (options.midi.listPorts)
        return listPorts(options);
    if (options.follow)
        return runMtcFollow(options);

    Midi::Output midi;
    const int opened = MtcOutput::open(midi, options);
    if (opened != ExitStatus::kOk)
        return opened;
    const std::atomic<bool>& stop = Console::installStopSignals();
    preferPromptWakeups();
    const bool showStatus = !options.quiet && Console::stdoutIsTerminal();
    MonotonicClock clock;
    qint64 written = 0;
    TimecodeRecord record = options.start;
    {
        Console::OutputThread output;
        // Frame n begins at start + n periods, exactly; its messages are handed to the writer
        // half a period before, and the writer sends each at its moment.
        Mtc::MessageWriter writer(MtcOutput::sendingTo(midi), MtcOutput::kQueueLimit);
        Mtc::Sequencer sequencer;
        std::vector<Mtc::TimedMessage> messages;
        const FrameSchedule schedule = FrameSchedule::forType(options.type);
        const qint64 start = clock.now() + kFirstFrameNs;
        const qint64 first = Timecode::toFrameNumber(options.start);
        qint64 lastStatus = clock.now() - kStatusIntervalNs;
        while (!stop.load() && (options.frameCount < 0 || written < options.frameCount)) {
            const qint64 begins = start + schedule.deadline(written);
            const qint64 length = schedule.deadline(written + 1) - schedule.deadline(written);
            clock.sleepUntil(begins - length / 2);
            if (stop.load())
                break;
            if (clock.now() < begins - length / 2)
                continue; // woken early by a signal that is not a stop
            record = Timecode::fromFrameNumber(first + written, options.type);
            messages.clear();
            sequencer.frame(record, begins, length, &messages);
            writer.push(messages);
            ++written;
            if (showStatus && clock.now() - lastStatus >= kStatusIntervalNs) {
                lastStatus = clock.now();
                output.redrawLine(statusText(record, written));
            }
        }
        // A counted run lasts its frames' whole periods, as ltc-encode's and send's do.
        if (!stop.load() && options.frameCount >= 0)
            clock.sleepUntil(start + schedule.deadline(written));
        if (showStatus && written > 0) {
            output.redrawLine(statusText(record, written));
            output.append(QStringLiteral("\n"));
        }
        const qint64 dropped = writer.dropped();
        output.appendAtEnd(
            (written == 1 ? CliText::tr("sent %1 frame (%2 s) of %3 fps MTC to %4")
                          : CliText::tr("sent %1 frames (%2 s) of %3 fps MTC to %4"))
                .arg(written)
                .arg(double(written) / Timecode::nominalRate(options.type), 0, 'f', 3)
                .arg(OptionValues::rateText(options.type), MtcOutput::destination(midi, options)) +
            (dropped > 0 ? CliText::tr("; %1 MIDI messages dropped").arg(dropped) : QString()) +
            QLatin1Char('\n'));
    }
    return ExitStatus::kOk;
}
