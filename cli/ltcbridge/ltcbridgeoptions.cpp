#include "ltcbridge/ltcbridgeoptions.h"
#include "common/commandline.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "common/optionvalues.h"

#include <QCommandLineParser>

namespace {

// The most channels libsndfile opens a file with.
constexpr int kMostChannels = 1024;

} // namespace

BridgeSettings::Pacing bridgePacing(bool file, bool fast, bool realtime)
{
    if (fast)
        return BridgeSettings::Fast;
    return file || realtime ? BridgeSettings::BySampleClock : BridgeSettings::AsDecoded;
}

bool parseLtcBridgeOptions(const QStringList& arguments, LtcBridgeOptions* parsed, int* status)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption input(
        QStringLiteral("input"),
        CliText::tr("Read LTC from this sound file (WAV of any sample type, RF64, BWF, AIFF, "
                    "FLAC), played at real time. Default (or -): raw little-endian mono samples "
                    "on standard input."),
        QStringLiteral("FILE"));
    const QCommandLineOption channel(
        QStringLiteral("channel"),
        CliText::tr("The file's channel that carries the LTC (default 1)."), QStringLiteral("N"));
    const QCommandLineOption format(
        QStringLiteral("format"),
        CliText::tr("Samples of raw input: s16 (default), s24 (three bytes), s32 or f32, all "
                    "little-endian."),
        QStringLiteral("FORMAT"));
    const QCommandLineOption sampleRate(
        QStringLiteral("sample-rate"),
        CliText::tr("Samples a second of raw input, 32000 to 192000 (default 48000)."),
        QStringLiteral("HZ"));
    const QCommandLineOption rate(QStringLiteral("rate"),
                                  CliText::tr("Frame rate: 24, 25, 29.97 or 30. Default: the "
                                              "one the LTC shows."),
                                  QStringLiteral("FPS"));
    const QCommandLineOption offset(
        QStringLiteral("offset"),
        CliText::tr("Add this to every time sent, counted in the rate's own numbering."),
        QStringLiteral("[+-]HH:MM:SS:FF"));
    const QCommandLineOption noCorrection(
        QStringLiteral("no-latency-correction"),
        CliText::tr("Send each frame's time as decoded, not one frame on (the frame playing "
                    "when its last bit is heard)."));
    const QCommandLineOption fast(
        QStringLiteral("fast"),
        CliText::tr("Send each frame as soon as it is decoded, however fast the input comes."));
    const QCommandLineOption realtime(
        QStringLiteral("realtime"),
        CliText::tr("Pace standard input by its sample clock, as a file is paced."));
    const QCommandLineOption freewheel(
        QStringLiteral("freewheel"),
        CliText::tr("When LTC is lost, go on sending the following frames at the rate for up to "
                    "this many frames, 0 to %1 (default 0), until it returns.")
            .arg(OptionValues::kMostFreewheelFrames),
        QStringLiteral("FRAMES"));
    const QCommandLineOption stream(QStringLiteral("stream"),
                                    CliText::tr("The StreamId the ArtTimeCode carries, 0 (the "
                                                "master, default) to 255."),
                                    QStringLiteral("N"));
    const QCommandLineOption to = OptionValues::toOption();
    const QCommandLineOption quiet = OptionValues::quietOption();
    if (!CommandLine::parse(
            parser, QStringLiteral("ltc-bridge"),
            CliText::tr("Decodes LTC (SMPTE linear timecode) from audio and sends one ArtTimeCode "
                        "per frame to the given addresses (--to broadcast: every local IPv4 "
                        "network's broadcast address), until the input ends or the command is "
                        "interrupted. Answers ArtPoll as \"Chronolume LTC\"."),
            {input, channel, format, sampleRate, rate, offset, noCorrection, fast, realtime,
             freewheel, stream, to, quiet},
            arguments, status))
        return false;
    const auto value = [&parser](const QCommandLineOption& option) {
        return CommandLine::lastValue(parser, option);
    };
    const auto refuse = [status](const QString& complaint) {
        *status = CommandLine::refuse(QStringLiteral("ltc-bridge: ") + complaint);
        return false;
    };

    LtcBridgeOptions options;
    if (value(input) != QLatin1String("-"))
        options.input = value(input);
    const bool file = !options.input.isEmpty();
    const auto wholeNumber = [&](const QCommandLineOption& option, int lowest, int highest,
                                 int* number) {
        return OptionValues::readWholeNumber(QStringLiteral("--") + option.names().first(),
                                             value(option), lowest, highest, number);
    };
    QString complaint;
    if (parser.isSet(channel)) {
        complaint = wholeNumber(channel, 1, kMostChannels, &options.channel);
        if (!complaint.isNull())
            return refuse(complaint);
        if (!file && options.channel != 1)
            return refuse(CliText::tr("--channel %1: standard input is one channel; a file "
                                      "(--input) may have more")
                              .arg(options.channel));
    }
    if (parser.isSet(sampleRate)) {
        if (file)
            return refuse(CliText::tr("--sample-rate is for raw input; a file gives its own"));
        complaint = wholeNumber(sampleRate, Pcm::kLowestSampleRate, Pcm::kHighestSampleRate,
                                &options.sampleRate);
        if (!complaint.isNull())
            return refuse(complaint);
    }
    if (parser.isSet(format)) {
        if (file)
            return refuse(CliText::tr("--format is for raw input; a file gives its own"));
        if (!Pcm::parseRawFormat(value(format), &options.format))
            return refuse(
                CliText::tr("--format \"%1\" is not s16, s24, s32 or f32").arg(value(format)));
    }
    if (parser.isSet(freewheel)) {
        complaint = wholeNumber(freewheel, 0, OptionValues::kMostFreewheelFrames,
                                &options.settings.freewheelFrames);
        if (!complaint.isNull())
            return refuse(complaint);
    }
    if (parser.isSet(stream)) {
        complaint = OptionValues::readStream(value(stream), &options.stream);
        if (!complaint.isNull())
            return refuse(complaint);
    }
    if (parser.isSet(rate)) {
        quint8 type = 0;
        complaint = OptionValues::readRate(value(rate), &type);
        if (!complaint.isNull())
            return refuse(complaint);
        options.settings.type = type;
    }
    if (parser.isSet(offset)) {
        if (!parseOffset(value(offset), &options.settings.offset))
            return refuse(CliText::tr("--offset \"%1\" is not [+-]HH:MM:SS:FF").arg(value(offset)));
        qint64 frames = 0;
        const quint8 type = quint8(options.settings.type);
        if (options.settings.type >= 0 && !offsetFrames(options.settings.offset, type, &frames))
            return refuse(CliText::tr("--offset %1 does not exist at %2 fps: %3")
                              .arg(value(offset), OptionValues::rateText(type),
                                   OptionValues::invalidTimecodeReason(
                                       offsetRecord(options.settings.offset, type))));
    }
    options.settings.latencyCorrection = !parser.isSet(noCorrection);
    options.fast = parser.isSet(fast);
    options.realtime = parser.isSet(realtime);
    if (options.fast && options.realtime)
        return refuse(CliText::tr("give --fast or --realtime, not both"));
    options.settings.pacing = bridgePacing(file, options.fast, options.realtime);
    for (const QString& text : parser.values(to)) {
        QHostAddress address;
        complaint = OptionValues::readDestination(text, &address);
        if (!complaint.isNull())
            return refuse(complaint);
        options.destinations.append(address);
    }
    options.quiet = parser.isSet(quiet);
    *parsed = options;
    *status = ExitStatus::kOk;
    return true;
}
