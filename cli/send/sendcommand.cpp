#include "send/sendcommand.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "common/localnetworks.h"
#include "common/optionvalues.h"
#include "common/pollresponder.h"
#include "common/timecodesender.h"
#include "send/sendoptions.h"
#include "send/sendreport.h"

#include "framepacer.h"
#include "timecode.h"

int runSend(const QStringList& arguments)
{
    SendOptions options;
    int status = ExitStatus::kOk;
    if (!parseSendOptions(arguments, &options, &status))
        return status;

    const QList<QHostAddress> destinations =
        sendingDestinations(QStringLiteral("send"), options.destinations, &status);
    if (destinations.isEmpty())
        return status;
    TimecodeSender sender(destinations);
    sender.setStream(options.stream);
    sender.setSource(options.from);
    if (!sender.open()) {
        Console::error(QStringLiteral("send: ") + sender.errorText());
        return ExitStatus::kFailure;
    }

    // Found by `nodes` and the desks while it sends. The stream in the long name tells a window
    // which of several programs answering from this machine sends which stream.
    const PollResponder answering(QStringLiteral("Chronolume send"),
                                  QStringLiteral("ArtTimeCode stream %1 at %2 fps")
                                      .arg(int(options.stream))
                                      .arg(OptionValues::rateText(options.type)),
                                  destinations, PollAnswer::kSendBindIndex);

    const std::atomic<bool>& stop = Console::installStopSignals();
    preferPromptWakeups();
    const bool showStatus = !options.quiet && Console::stdoutIsTerminal();
    const std::atomic<bool>& resized = Console::installResizeSignal();
    int width = showStatus ? Console::terminalWidth() : 0;
    const qint64 startNumber = Timecode::toFrameNumber(options.start);
    qint64 failed = 0;
    qint64 sent = 0;
    MonotonicClock clock;
    PacingResult result;
    {
        // Nothing written may hold up a frame: the pacing only hands the status line over, and
        // a paused terminal delays nothing but the line's next update.
        Console::OutputThread output;
        result = runPaced(FrameSchedule::forType(options.type), clock, options.frameCount, stop,
                          [&](qint64 frame) {
                              const TimecodeRecord record =
                                  Timecode::fromFrameNumber(startNumber + frame, options.type);
                              if (!sender.send(record))
                                  ++failed;
                              ++sent;
                              if (!showStatus)
                                  return;
                              if (resized.load()) {
                                  Console::resizeSeen();
                                  width = Console::terminalWidth();
                              }
                              output.redrawLine(statusText(record, sent, options.type, failed,
                                                           sender.errorText(), width));
                          });
        if (showStatus)
            output.appendAtEnd(QStringLiteral("\n"));
        output.appendAtEnd(summaryText(result, failed, options.type));
    }
    if (failed > 0) {
        Console::error(CliText::tr("send: %1 of %2 frames failed; the first failure: %3")
                           .arg(failed)
                           .arg(result.sent)
                           .arg(sender.errorText()));
        return ExitStatus::kFailure;
    }
    return ExitStatus::kOk;
}
