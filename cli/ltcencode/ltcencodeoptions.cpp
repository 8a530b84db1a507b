#include "ltcencode/ltcencodeoptions.h"
#include "common/commandline.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "common/listening.h"
#include "common/optionvalues.h"
#include "ltc/ltcencoder.h"
#include "ltc/pcmoutput.h"

#include <QCommandLineParser>

#include <cmath>

bool parseLtcEncodeOptions(const QStringList& arguments, LtcEncodeOptions* parsed, int* status)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption rate(QStringLiteral("rate"),
                                  CliText::tr("Frame rate: 24, 25 (default), 29.97 "
                                              "(drop-frame numbering and flag) or 30."),
                                  QStringLiteral("FPS"));
    const QCommandLineOption start = OptionValues::startOption();
    const QCommandLineOption duration = OptionValues::durationOption();
    const QCommandLineOption frames = OptionValues::framesOption();
    const QCommandLineOption sampleRate(
        QStringLiteral("sample-rate"),
        CliText::tr("Samples a second: 44100, 48000 (default) or 96000."), QStringLiteral("HZ"));
    const QCommandLineOption level(QStringLiteral("level"),
                                   CliText::tr("Peak level in dBFS, 0 down to -60 (default -18)."),
                                   QStringLiteral("DBFS"));
    const QCommandLineOption output(
        QStringLiteral("output"),
        CliText::tr("Write a mono WAV file (--duration or --frames says how long), or with - "
                    "raw signed 16-bit little-endian samples to standard output, as fast as its "
                    "reader takes them."),
        QStringLiteral("FILE"));
    const QCommandLineOption bits(QStringLiteral("bits"),
                                  CliText::tr("Bits a sample of the WAV file: 16 (default) or 24."),
                                  QStringLiteral("BITS"));
    const QCommandLineOption quiet = OptionValues::quietOption();
    const QCommandLineOption follow(
        QStringLiteral("follow"),
        CliText::tr("Write LTC in real time, raw to standard output, that follows the "
                    "ArtTimeCode heard on UDP port 6454: from this sender (and stream), or from "
                    "the first one heard."),
        QStringLiteral("ADDRESS[:STREAM]"));
    const QCommandLineOption advance(
        QStringLiteral("advance"),
        CliText::tr("With --follow: begin every frame this much earlier, the audio output's "
                    "latency (default 0)."),
        QStringLiteral("MS"));
    const QCommandLineOption freewheel(
        QStringLiteral("freewheel"),
        CliText::tr("With --follow: when the sender falls silent, go on for this many frames, 0 "
                    "to %1, then write silence until it returns (default 25).")
            .arg(OptionValues::kMostFreewheelFrames),
        QStringLiteral("FRAMES"));
    if (!CommandLine::parse(
            parser, QStringLiteral("ltc-encode"),
            CliText::tr("Writes LTC (SMPTE linear timecode) audio, for the given time or number "
                        "of frames or until interrupted; or, with --follow, in real time as the "
                        "ArtTimeCode on the network runs. ") +
                listeningHelp(),
            {rate, start, duration, frames, sampleRate, level, output, bits, quiet, follow, advance,
             freewheel},
            Follow::withFollowValue(arguments), status))
        return false;
    const auto value = [&parser](const QCommandLineOption& option) {
        return CommandLine::lastValue(parser, option);
    };

    LtcEncodeOptions options;
    QString complaint =
        OptionValues::readRateAndStart(parser, rate, start, &options.type, &options.start);
    if (complaint.isNull())
        complaint = OptionValues::readFrameCount(value(duration), value(frames), options.type,
                                                 &options.frameCount);
    // A choice of a few whole numbers, read as every whole number is before it is looked up.
    const auto oneOf = [](const QString& text, int lowest, int highest, int* number) {
        return OptionValues::readWholeNumber(QString(), text, lowest, highest, number).isNull();
    };
    if (complaint.isNull() && parser.isSet(sampleRate)) {
        if (!oneOf(value(sampleRate), 1, 1'000'000, &options.sampleRate) ||
            !supportedEncodeRate(options.sampleRate))
            complaint = CliText::tr("--sample-rate \"%1\" is not 44100, 48000 or 96000")
                            .arg(value(sampleRate));
    }
    if (complaint.isNull() && parser.isSet(level)) {
        bool ok = false;
        options.level = value(level).toDouble(&ok);
        if (!ok || !std::isfinite(options.level) || options.level > 0 ||
            options.level < kMinimumLevel)
            complaint = CliText::tr("--level \"%1\" is not a level from 0 down to %2 dBFS")
                            .arg(value(level))
                            .arg(kMinimumLevel);
    }
    options.output = value(output);
    options.follow = parser.isSet(follow);
    if (complaint.isNull())
        complaint = Follow::readOptions(parser, {follow, advance, freewheel},
                                        {rate, start, duration, frames}, &options);
    if (complaint.isNull() && options.output.isEmpty())
        complaint = CliText::tr("give --output FILE.wav, or --output - for raw samples on "
                                "standard output");
    const bool toFile = options.output != QLatin1String("-");
    // A file written as fast as the disk takes it grows by a quarter of a gigabyte a second.
    if (complaint.isNull() && toFile && options.frameCount < 0)
        complaint = CliText::tr("--output %1 needs --duration or --frames: a file cannot be "
                                "endless")
                        .arg(options.output);
    if (complaint.isNull() && parser.isSet(bits)) {
        if (!toFile)
            complaint = CliText::tr("--bits is for a WAV file; standard output is 16-bit");
        else if (!oneOf(value(bits), 1, 64, &options.bits) || !Pcm::supportedWavBits(options.bits))
            complaint = CliText::tr("--bits \"%1\" is not 16 or 24").arg(value(bits));
    }
    if (!complaint.isNull()) {
        *status = CommandLine::refuse(QStringLiteral("ltc-encode: ") + complaint);
        return false;
    }
    options.quiet = parser.isSet(quiet);
    *parsed = options;
    *status = ExitStatus::kOk;
    return true;
}
