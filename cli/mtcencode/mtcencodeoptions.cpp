#include "mtcencode/mtcencodeoptions.h"
#include "common/commandline.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "common/optionvalues.h"

#include <QCommandLineParser>

namespace {

// --follow's own options, and those it has no use for: the rate and the time are the sender's,
// and the run lasts until it is ended (as ltc-encode --follow).
QString readFollow(const QCommandLineParser& parser, const QCommandLineOption& follow,
                   const QCommandLineOption& advance, const QCommandLineOption& freewheel,
                   const QList<QCommandLineOption>& notWithFollow, MtcEncodeOptions* options)
{
    if (!options->follow) {
        for (const QCommandLineOption& option : {advance, freewheel}) {
            if (parser.isSet(option))
                return CliText::tr("--%1 goes with --follow").arg(option.names().first());
        }
        return {};
    }
    for (const QCommandLineOption& option : notWithFollow) {
        if (parser.isSet(option))
            return CliText::tr("--%1 does not go with --follow: the sender gives the rate and "
                               "the time, and the run lasts until it is interrupted")
                .arg(option.names().first());
    }
    QString complaint =
        Follow::readTarget(CommandLine::lastValue(parser, follow), &options->followed);
    if (complaint.isNull() && parser.isSet(advance))
        complaint =
            Follow::readAdvance(CommandLine::lastValue(parser, advance), &options->advanceNs);
    if (complaint.isNull() && parser.isSet(freewheel))
        complaint = Follow::readFreewheel(CommandLine::lastValue(parser, freewheel),
                                          &options->freewheelFrames);
    return complaint;
}

} // namespace

bool parseMtcEncodeOptions(const QStringList& arguments, MtcEncodeOptions* parsed, int* status)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption rate(QStringLiteral("rate"),
                                  CliText::tr("Frame rate: 24, 25 (default), 29.97 (drop-frame) "
                                              "or 30."),
                                  QStringLiteral("FPS"));
    const QCommandLineOption start = OptionValues::startOption();
    const QCommandLineOption duration = OptionValues::durationOption();
    const QCommandLineOption frames = OptionValues::framesOption();
    const QCommandLineOption quiet = OptionValues::quietOption();
    const QCommandLineOption follow(
        QStringLiteral("follow"),
        CliText::tr("Write MTC in real time that follows the ArtTimeCode heard on UDP port 6454: "
                    "from this sender (and stream), or from the first one heard."),
        QStringLiteral("ADDRESS[:STREAM]"));
    const QCommandLineOption advance(
        QStringLiteral("advance"),
        CliText::tr("With --follow: begin every frame this much earlier, the MIDI output's "
                    "latency (default 0)."),
        QStringLiteral("MS"));
    const QCommandLineOption freewheel(
        QStringLiteral("freewheel"),
        CliText::tr("With --follow: when the sender falls silent, go on for this many frames, "
                    "then stop until it returns (default 25)."),
        QStringLiteral("FRAMES"));
    const QList<QCommandLineOption> midi = MidiOptions::options(false);
    if (!CommandLine::parse(
            parser, QStringLiteral("mtc-encode"),
            CliText::tr("Writes MTC (MIDI timecode) to a MIDI port: a full frame at the start, "
                        "then quarter frames, for the given time or number of frames or until "
                        "interrupted; or, with --follow, in real time as the ArtTimeCode on the "
                        "network runs."),
            QList<QCommandLineOption>{rate, start, duration, frames, quiet, follow, advance,
                                      freewheel} +
                midi,
            Follow::withFollowValue(arguments), status))
        return false;
    const auto value = [&parser](const QCommandLineOption& option) {
        return CommandLine::lastValue(parser, option);
    };

    MtcEncodeOptions options;
    QString complaint = MidiOptions::read(parser, midi, &options.midi);
    options.follow = parser.isSet(follow);
    if (complaint.isNull())
        complaint = readFollow(parser, follow, advance, freewheel, {rate, start, duration, frames},
                               &options);
    if (complaint.isNull())
        complaint =
            OptionValues::readRateAndStart(parser, rate, start, &options.type, &options.start);
    if (complaint.isNull())
        complaint = OptionValues::readFrameCount(value(duration), value(frames), options.type,
                                                 &options.frameCount);
    if (!complaint.isNull()) {
        *status = CommandLine::refuse(QStringLiteral("mtc-encode: ") + complaint);
        return false;
    }
    options.quiet = parser.isSet(quiet);
    *parsed = options;
    *status = ExitStatus::kOk;
    return true;
}
