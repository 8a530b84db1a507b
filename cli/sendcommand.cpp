// chronolume-cli send: ArtTimeCode at a steady frame rate.
#include "commands.h"
#include "console.h"
#include "framepacer.h"
#include "sendoptions.h"
#include "timecode.h"
#include "timecodesender.h"

#include <sched.h>

namespace {

// A frame is due every 33 to 42 ms and takes microseconds to send, but on a busy machine the
// ordinary scheduler can keep a woken process waiting for several milliseconds, or a whole
// period. So the stream asks for the lowest real-time priority where the system grants it (to
// root, or under an rtprio limit) and runs as any other process where it does not. Children do
// not inherit it.
void preferPromptWakeups()
{
    sched_param priority{};
    priority.sched_priority = sched_get_priority_min(SCHED_FIFO);
    sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &priority);
}

QString statusText(const TimecodeRecord& record, qint64 sent, quint8 type)
{
    return CliText::tr("%1  %2 fps  %3 frames sent")
        .arg(Timecode::text(record), rateName(type))
        .arg(sent);
}

QString summaryText(const PacingResult& result, qint64 failed, quint8 type)
{
    QString text = CliText::tr("sent %1 frames in %2 s at %3 fps")
                       .arg(result.sent)
                       .arg(double(result.elapsedNs) / 1e9, 0, 'f', 3)
                       .arg(rateName(type));
    if (result.skipped > 0)
        text += CliText::tr(", %1 skipped").arg(result.skipped);
    if (failed > 0)
        text += CliText::tr(", %1 failed").arg(failed);
    return text + QLatin1Char('\n');
}

} // namespace

int runSend(const QStringList& arguments)
{
    const SendParse parse = parseSendOptions(arguments);
    if (parse.outcome == SendParse::Help) {
        Console::writeOut(parse.text);
        return ExitStatus::kOk;
    }
    if (parse.outcome == SendParse::Error) {
        Console::error(parse.text);
        return ExitStatus::kUsage;
    }
    const SendOptions& options = parse.options;

    QList<QHostAddress> destinations = options.destinations;
    if (destinations.isEmpty()) {
        destinations = localBroadcastAddresses();
        if (destinations.isEmpty()) {
            Console::error(CliText::tr("send: no local IPv4 network to broadcast to; give "
                                       "--to ADDRESS (--to 127.0.0.1 for this machine)"));
            return ExitStatus::kFailure;
        }
    }
    TimecodeSender sender(destinations);
    if (!sender.open()) {
        Console::error(QStringLiteral("send: ") + sender.errorText());
        return ExitStatus::kFailure;
    }

    const std::atomic<bool>& stop = Console::installStopSignals();
    preferPromptWakeups();
    const bool showStatus = !options.quiet && Console::stdoutIsTerminal();
    const qint64 startNumber = Timecode::toFrameNumber(options.start);
    qint64 failed = 0;
    qint64 sent = 0;
    MonotonicClock clock;
    const PacingResult result = runPaced(
        FrameSchedule::forType(options.type), clock, options.frameCount, stop, [&](qint64 frame) {
            const TimecodeRecord record =
                Timecode::fromFrameNumber(startNumber + frame, options.type);
            if (!sender.send(record))
                ++failed;
            ++sent;
            if (showStatus)
                Console::redrawStatus(statusText(record, sent, options.type));
        });

    if (showStatus)
        Console::writeOut(QStringLiteral("\n"));
    Console::writeOut(summaryText(result, failed, options.type));
    if (failed > 0) {
        Console::error(CliText::tr("send: %1 of %2 frames failed; the first failure: %3")
                           .arg(failed)
                           .arg(result.sent)
                           .arg(sender.errorText()));
        return ExitStatus::kFailure;
    }
    return ExitStatus::kOk;
}
