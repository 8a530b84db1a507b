#include "mtcencode/mtcfollow.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "framepacer.h"
#include "common/listening.h"
#include "common/optionvalues.h"
#include "ltcencode/follower.h"
#include "ltcencode/followobserver.h"
#include "mtc/mtcsequencer.h"
#include "mtcencode/mtcencodeoptions.h"
#include "mtcencode/mtcoutput.h"

#include "artnet.h"
#include "timecode.h"

#include <QEventLoop>
#include <QTimer>

#include <unistd.h>

namespace {

constexpr int kTickMs = 100; // the status line's redraw, and how soon a stop is seen

QString noticeText(const Follow::Notice& notice, int freewheelFrames)
{
    const QString time = Timecode::text(notice.record);
    if (notice.kind == Follow::Notice::Back)
        return CliText::tr("Art-Net timecode back at %1\n").arg(time);
    if (freewheelFrames == 0)
        return CliText::tr("Art-Net timecode lost after %1, MTC stopped\n").arg(time);
    return CliText::tr("Art-Net timecode lost after %1, freewheeling %2 frames\n")
        .arg(time)
        .arg(freewheelFrames);
}

QString statusText(const Follow::Progress& progress, const QString& followed)
{
    if (!progress.locked)
        return CliText::tr("waiting for ArtTimeCode on UDP port %1").arg(ArtNetPacket::kPort);
    return CliText::tr("%1  %2 fps  %3  following %4  %5 frames sent")
        .arg(Timecode::text(progress.last), OptionValues::rateText(progress.last.type),
             progress.lost ? CliText::tr("lost") : CliText::tr("locked"), followed)
        .arg(progress.frames);
}

} // namespace

int runMtcFollow(const MtcEncodeOptions& options)
{
    // The node's own diagnostic lines would mix with the command's.
    artnet::setDiagnosticLines(false);
    const std::atomic<bool>& stop = Console::installStopSignals();
    preferPromptWakeups();
    const bool showStatus = !options.quiet && Console::stdoutIsTerminal();
    // Which sender is followed, and its loss and return, on standard error as ltc-encode says
    // them; the status line and the final line on standard output.
    const bool noticeOverStatus = showStatus && isatty(STDERR_FILENO) == 1;

    Console::OutputThread output;
    Console::OutputThread report(stderr);
    Midi::Output midi;
    Follow::Progress progress;
    QString followed;
    bool heard = false;
    qint64 dropped = 0;
    {
        Mtc::MessageWriter writer(MtcOutput::sendingTo(midi), MtcOutput::kQueueLimit);
        Mtc::Sequencer sequencer; // the follower's thread's own
        std::vector<Mtc::TimedMessage> messages;
        Follow::Settings settings;
        settings.sampleRate = Follow::kNanosecondClock;
        settings.advanceNs = options.advanceNs;
        settings.freewheelFrames = options.freewheelFrames;
        const int freewheelFrames = options.freewheelFrames;
        Follow::Follower follower(
            settings,
            [&](const Follow::Block& block) {
                if (block.kind != Follow::Block::Frame) {
                    sequencer.silence();
                    return;
                }
                messages.clear();
                sequencer.frame(block.record, block.startNs, block.samples, &messages);
                writer.push(messages);
            },
            [&report, freewheelFrames, noticeOverStatus](const Follow::Notice& notice) {
                report.append(Follow::overStatus(noticeOverStatus) +
                              noticeText(notice, freewheelFrames));
            });
        Follow::Observer observer(
            options.followed,
            [&follower](const TimecodeRecord& record, qint64 arrivalNs) {
                follower.arrived(record, arrivalNs);
            },
            report, noticeOverStatus);
        artnet node;
        if (!listenBesideOthers(node, &observer, QStringLiteral("mtc-encode")))
            return ExitStatus::kFailure;
        // The port appears once the datagrams are listened for.
        const int opened = MtcOutput::open(midi, options);
        if (opened != ExitStatus::kOk) {
            node.setObserver(nullptr);
            return opened;
        }
        follower.start();

        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (stop.load()) {
                loop.quit();
                return;
            }
            if (showStatus)
                output.redrawLine(statusText(follower.progress(), observer.followed()));
        });
        tick.start(kTickMs);
        loop.exec();
        node.setObserver(nullptr);
        follower.stop();
        progress = follower.progress();
        heard = observer.heard();
        followed = observer.followed();
        if (showStatus && heard) {
            output.redrawLine(statusText(progress, followed));
            output.append(QStringLiteral("\n"));
        }
        dropped = writer.dropped();
    }
    QString summary =
        heard ? CliText::tr("sent %1 frames of MTC (%2 freewheeled) to %3, following %4")
                    .arg(progress.frames)
                    .arg(progress.freewheeled)
                    .arg(MtcOutput::destination(midi, options), followed)
              : CliText::tr("heard no ArtTimeCode; sent no MTC");
    if (dropped > 0)
        summary += CliText::tr("; %1 MIDI messages dropped").arg(dropped);
    output.appendAtEnd(summary + QLatin1Char('\n'));
    return heard ? ExitStatus::kOk : ExitStatus::kNoneHeard;
}
