#include "send/sendoptions.h"
#include "common/commandline.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "common/optionvalues.h"

#include <QCommandLineParser>

bool parseSendOptions(const QStringList& arguments, SendOptions* parsed, int* status)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption rate(QStringLiteral("rate"),
                                  CliText::tr("Frame rate: 24, 25 (default), 29.97 "
                                              "(drop-frame numbering) or 30."),
                                  QStringLiteral("FPS"));
    const QCommandLineOption start(QStringLiteral("start"),
                                   CliText::tr("First timecode (default 00:00:00:00)."),
                                   QStringLiteral("HH:MM:SS:FF"));
    const QCommandLineOption to(QStringLiteral("to"),
                                CliText::tr("Send to this IPv4 address only; repeatable. "
                                            "Default: every local network's broadcast "
                                            "address."),
                                QStringLiteral("ADDRESS"));
    const QCommandLineOption duration(QStringLiteral("duration"),
                                      CliText::tr("Stop after this many seconds."),
                                      QStringLiteral("SECONDS"));
    const QCommandLineOption frames(
        QStringLiteral("frames"), CliText::tr("Stop after this many frames."), QStringLiteral("N"));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   CliText::tr("No status line; only the final summary."));
    if (!CommandLine::parse(
            parser, QStringLiteral("send"),
            CliText::tr("Sends one ArtTimeCode per frame at a steady frame rate, to the broadcast "
                        "address of every local IPv4 network or to the given addresses, until "
                        "interrupted or for the given time or number of frames."),
            {rate, start, to, duration, frames, quiet}, arguments, status))
        return false;
    const auto value = [&parser](const QCommandLineOption& option) {
        return CommandLine::lastValue(parser, option);
    };
    SendOptions options;
    QString complaint;
    if (parser.isSet(rate))
        complaint = OptionValues::readRate(value(rate), &options.type);
    options.start = TimecodeRecord{0, 0, 0, 0, options.type};
    if (complaint.isNull() && parser.isSet(start))
        complaint = OptionValues::readTimecode(QStringLiteral("--start"), value(start),
                                               options.type, &options.start);
    for (const QString& text : parser.values(to)) {
        QHostAddress address;
        if (complaint.isNull())
            complaint = OptionValues::readDestination(text, &address);
        options.destinations.append(address);
    }
    if (complaint.isNull())
        complaint = OptionValues::readFrameCount(value(duration), value(frames), options.type,
                                                 &options.frameCount);
    if (!complaint.isNull()) {
        *status = CommandLine::refuse(QStringLiteral("send: ") + complaint);
        return false;
    }
    options.quiet = parser.isSet(quiet);
    *parsed = options;
    *status = ExitStatus::kOk;
    return true;
}
