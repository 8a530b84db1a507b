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
    const QCommandLineOption start = OptionValues::startOption();
    const QCommandLineOption to = OptionValues::toOption();
    const QCommandLineOption duration = OptionValues::durationOption();
    const QCommandLineOption frames = OptionValues::framesOption();
    const QCommandLineOption quiet = OptionValues::quietOption();
    const QCommandLineOption stream = OptionValues::streamOption();
    const QCommandLineOption from(
        QStringLiteral("from"),
        CliText::tr("Send from this local IPv4 address, so that one machine can stand for "
                    "several senders (127.0.0.2, 127.0.0.3 on loopback). Default: the "
                    "address the system chooses."),
        QStringLiteral("ADDRESS"));
    if (!CommandLine::parse(
            parser, QStringLiteral("send"),
            CliText::tr("Sends one ArtTimeCode per frame at a steady frame rate to the given "
                        "addresses (--to broadcast: every local IPv4 network's broadcast "
                        "address), until interrupted or for the given time or number of "
                        "frames. Answers ArtPoll as \"Chronolume send\"."),
            {rate, start, to, duration, frames, quiet, stream, from}, arguments, status))
        return false;
    const auto value = [&parser](const QCommandLineOption& option) {
        return CommandLine::lastValue(parser, option);
    };
    SendOptions options;
    QString complaint =
        OptionValues::readRateAndStart(parser, rate, start, &options.type, &options.start);
    for (const QString& text : parser.values(to)) {
        QHostAddress address;
        if (complaint.isNull())
            complaint = OptionValues::readDestination(text, &address);
        options.destinations.append(address);
    }
    if (complaint.isNull())
        complaint = OptionValues::readFrameCount(value(duration), value(frames), options.type,
                                                 &options.frameCount);
    if (complaint.isNull() && parser.isSet(stream))
        complaint = OptionValues::readStream(value(stream), &options.stream);
    if (complaint.isNull() && parser.isSet(from))
        complaint = OptionValues::readSource(value(from), &options.from);
    if (!complaint.isNull()) {
        *status = CommandLine::refuse(QStringLiteral("send: ") + complaint);
        return false;
    }
    options.quiet = parser.isSet(quiet);
    *parsed = options;
    *status = ExitStatus::kOk;
    return true;
}
