#include "ltcencode/followcommand.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "common/listening.h"
#include "common/optionvalues.h"
#include "ltc/pcmoutput.h"
#include "ltcencode/followaudio.h"
#include "ltcencode/followobserver.h"
#include "ltcencode/ltcencodeoptions.h"

#include "artnet.h"
#include "framepacer.h"
#include "timecode.h"

#include <QEventLoop>
#include <QTimer>

#include <csignal>
#include <unistd.h>

namespace {

constexpr int kTickMs = 100; // the status line's redraw, and how soon a stop is seen

QString noticeText(const Follow::Notice& notice, int freewheelFrames)
{
    const QString time = Timecode::text(notice.record);
    if (notice.kind == Follow::Notice::Back)
        return CliText::tr("Art-Net timecode back at %1\n").arg(time);
    if (freewheelFrames == 0)
        return CliText::tr("Art-Net timecode lost after %1, writing silence\n").arg(time);
    return CliText::tr("Art-Net timecode lost after %1, freewheeling %2 frames\n")
        .arg(time)
        .arg(freewheelFrames);
}

QString statusText(const Follow::Progress& progress, const QString& followed)
{
    if (!progress.locked)
        return CliText::tr("waiting for ArtTimeCode on UDP port %1").arg(ArtNetPacket::kPort);
    return CliText::tr("%1  %2 fps  %3  following %4  %5 frames written")
        .arg(Timecode::text(progress.last), OptionValues::rateText(progress.last.type),
             progress.lost ? CliText::tr("lost") : CliText::tr("locked"), followed)
        .arg(progress.frames);
}

} // namespace

int runFollow(const LtcEncodeOptions& options)
{
    if (isatty(STDOUT_FILENO) == 1) {
        Console::error(CliText::tr("ltc-encode: standard output is a terminal; pipe the audio "
                                   "to a player (| aplay -q -t raw -f S16_LE -r %1 -c 1)")
                           .arg(options.sampleRate));
        return ExitStatus::kUsage;
    }
    // A reader that goes away ends the run like a signal, with its summary.
    std::signal(SIGPIPE, SIG_IGN);
    const std::unique_ptr<Pcm::SampleSink> sink = Pcm::rawSink(STDOUT_FILENO);
    // The node's own diagnostic lines would mix with the command's.
    artnet::setDiagnosticLines(false);
    const std::atomic<bool>& stop = Console::installStopSignals();
    preferPromptWakeups();
    const bool showStatus = !options.quiet && isatty(STDERR_FILENO) == 1;

    Console::OutputThread report(stderr);
    Follow::Progress progress;
    QString followed;
    bool heard = false;
    bool broken = false;
    qint64 dropped = 0;
    {
        // A second of audio waits at most for a reader that is held up.
        Follow::SampleWriter writer(*sink, options.sampleRate);
        Follow::Settings settings;
        settings.sampleRate = options.sampleRate;
        settings.advanceNs = options.advanceNs;
        settings.freewheelFrames = options.freewheelFrames;
        const int freewheelFrames = options.freewheelFrames;
        Follow::FollowAudio audio(
            settings, options.level,
            [&writer](const Follow::Block&, std::vector<qint16>&& samples) {
                writer.push(std::move(samples));
            },
            [&report, freewheelFrames, showStatus](const Follow::Notice& notice) {
                report.append(Follow::overStatus(showStatus) + noticeText(notice, freewheelFrames));
            });
        Follow::Observer observer(
            options.followed,
            [&audio](const TimecodeRecord& record, qint64 arrivalNs) {
                audio.arrived(record, arrivalNs);
            },
            report, showStatus);
        artnet node;
        if (!listenBesideOthers(node, &observer, QStringLiteral("ltc-encode")))
            return ExitStatus::kFailure;
        audio.start();

        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (stop.load() || writer.broken()) {
                loop.quit();
                return;
            }
            if (showStatus)
                report.redrawLine(statusText(audio.progress(), observer.followed()));
        });
        tick.start(kTickMs);
        loop.exec();
        node.setObserver(nullptr);
        audio.stop();
        progress = audio.progress();
        heard = observer.heard();
        followed = observer.followed();
        if (showStatus && heard) {
            report.redrawLine(statusText(progress, followed));
            report.appendAtEnd(QStringLiteral("\n"));
        }
        broken = writer.broken();
        dropped = writer.droppedSamples();
    }
    if (broken && !sink->readerGone()) {
        report.flush();
        Console::error(
            CliText::tr("ltc-encode: cannot write standard output: %1").arg(sink->errorText()));
        return ExitStatus::kFailure;
    }
    QString summary =
        heard ? CliText::tr("wrote %1 frames of LTC (%2 freewheeled) at %3 Hz to standard "
                            "output, following %4")
                    .arg(progress.frames)
                    .arg(progress.freewheeled)
                    .arg(options.sampleRate)
                    .arg(followed)
              : CliText::tr("heard no ArtTimeCode; wrote silence at %1 Hz to standard output")
                    .arg(options.sampleRate);
    // Samples refused after the reader went away were not held up, only unwanted.
    if (dropped > 0 && !sink->readerGone())
        summary +=
            CliText::tr("; %1 samples dropped while standard output was held up").arg(dropped);
    report.appendAtEnd(summary + QLatin1Char('\n'));
    return heard ? ExitStatus::kOk : ExitStatus::kNoneHeard;
}
