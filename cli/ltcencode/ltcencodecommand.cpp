#include "ltcencode/ltcencodecommand.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "common/optionvalues.h"
#include "ltc/ltcencoder.h"
#include "ltc/pcmoutput.h"
#include "ltcencode/followcommand.h"
#include "ltcencode/ltcencodeoptions.h"

#include "framepacer.h"

#include <csignal>
#include <unistd.h>

namespace {

// A terminal shows at most this many status lines a second, however fast the audio is taken.
constexpr qint64 kStatusIntervalNs = 100000000;

QString statusText(const TimecodeRecord& record, qint64 written)
{
    return CliText::tr("%1  %2 fps  %3 frames written")
        .arg(Timecode::text(record), OptionValues::rateText(record.type))
        .arg(written);
}

QString summaryText(const LtcEncodeOptions& options, qint64 written)
{
    const QString where =
        options.output == QLatin1String("-") ? CliText::tr("standard output") : options.output;
    return (written == 1 ? CliText::tr("wrote %1 frame (%2 s) of %3 fps LTC at %4 Hz to %5\n")
                         : CliText::tr("wrote %1 frames (%2 s) of %3 fps LTC at %4 Hz to %5\n"))
        .arg(written)
        .arg(double(written) / Timecode::nominalRate(options.type), 0, 'f', 3)
        .arg(OptionValues::rateText(options.type))
        .arg(options.sampleRate)
        .arg(where);
}

} // namespace

int runLtcEncode(const QStringList& arguments)
{
    LtcEncodeOptions options;
    int status = ExitStatus::kOk;
    if (!parseLtcEncodeOptions(arguments, &options, &status))
        return status;
    if (options.follow)
        return runFollow(options);

    const bool toStdout = options.output == QLatin1String("-");
    std::unique_ptr<Pcm::SampleSink> sink;
    if (toStdout) {
        if (isatty(STDOUT_FILENO) == 1) {
            Console::error(CliText::tr("ltc-encode: standard output is a terminal; pipe the audio "
                                       "to a player (| aplay -q -t raw -f S16_LE -r %1 -c 1) or "
                                       "give --output FILE.wav")
                               .arg(options.sampleRate));
            return ExitStatus::kUsage;
        }
        // A reader that goes away ends the run like a signal, with its summary.
        std::signal(SIGPIPE, SIG_IGN);
        sink = Pcm::rawSink(STDOUT_FILENO);
    } else {
        QString error;
        sink = Pcm::createWav(options.output, options.sampleRate, options.bits, &error);
        if (!sink) {
            Console::error(QStringLiteral("ltc-encode: ") + error);
            return ExitStatus::kFailure;
        }
    }

    const std::atomic<bool>& stop = Console::installStopSignals();
    // The audio holds standard output; what the command says goes to standard error then.
    FILE* report = toStdout ? stderr : stdout;
    const bool showStatus = !options.quiet && isatty(fileno(report)) == 1;
    MonotonicClock clock;
    bool failed = false;
    {
        Console::OutputThread output(report);
        LtcEncoder encoder(options.type, options.sampleRate, options.level);
        const qint64 first = Timecode::toFrameNumber(options.start);
        std::vector<qint16> samples;
        qint64 written = 0;
        qint64 lastStatus = clock.now() - kStatusIntervalNs;
        TimecodeRecord record = options.start;
        while (!stop.load() && (options.frameCount < 0 || written < options.frameCount)) {
            record = Timecode::fromFrameNumber(first + written, options.type);
            samples.clear();
            encoder.encode(record, &samples);
            const Pcm::SampleSink::Result result = sink->write(samples.data(), int(samples.size()));
            if (result != Pcm::SampleSink::Written) {
                failed = result == Pcm::SampleSink::Failed && !sink->readerGone();
                break;
            }
            ++written;
            if (showStatus && clock.now() - lastStatus >= kStatusIntervalNs) {
                lastStatus = clock.now();
                output.redrawLine(statusText(record, written));
            }
        }
        if (!failed && !sink->readerGone()) {
            // The closing edge, without which a reader cannot tell where the last frame ends.
            samples.clear();
            encoder.finish(&samples);
            failed = sink->write(samples.data(), int(samples.size())) == Pcm::SampleSink::Failed &&
                     !sink->readerGone();
        }
        failed = !sink->finish() || failed;
        if (showStatus && written > 0) {
            output.redrawLine(statusText(record, written));
            output.appendAtEnd(QStringLiteral("\n"));
        }
        output.appendAtEnd(summaryText(options, written));
    }
    if (failed) {
        Console::error(CliText::tr("ltc-encode: cannot write %1: %2")
                           .arg(toStdout ? CliText::tr("standard output") : options.output,
                                sink->errorText()));
        return ExitStatus::kFailure;
    }
    return ExitStatus::kOk;
}
