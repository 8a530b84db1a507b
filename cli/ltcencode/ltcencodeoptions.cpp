#include "ltcencode/ltcencodeoptions.h"
#include "common/commandline.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "common/optionvalues.h"
#include "ltc/ltcencoder.h"

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
    const QCommandLineOption start(QStringLiteral("start"),
                                   CliText::tr("First timecode (default 00:00:00:00)."),
                                   QStringLiteral("HH:MM:SS:FF"));
    const QCommandLineOption duration(QStringLiteral("duration"),
                                      CliText::tr("Stop after this many seconds."),
                                      QStringLiteral("SECONDS"));
    const QCommandLineOption frames(
        QStringLiteral("frames"), CliText::tr("Stop after this many frames."), QStringLiteral("N"));
    const QCommandLineOption sampleRate(
        QStringLiteral("sample-rate"),
        CliText::tr("Samples a second: 44100, 48000 (default) or 96000."), QStringLiteral("HZ"));
    const QCommandLineOption level(QStringLiteral("level"),
                                   CliText::tr("Peak level in dBFS, 0 down to -60 (default -18)."),
                                   QStringLiteral("DBFS"));
    const QCommandLineOption output(
        QStringLiteral("output"),
        CliText::tr("Write a 16-bit mono WAV file, or with - raw signed 16-bit little-endian "
                    "samples to standard output, as fast as its reader takes them."),
        QStringLiteral("FILE"));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   CliText::tr("No status line; only the final summary."));
    if (!CommandLine::parse(
            parser, QStringLiteral("ltc-encode"),
            CliText::tr("Writes LTC (SMPTE linear timecode) audio, for the given time or number "
                        "of frames or until interrupted."),
            {rate, start, duration, frames, sampleRate, level, output, quiet}, arguments, status))
        return false;
    const auto value = [&parser](const QCommandLineOption& option) {
        return CommandLine::lastValue(parser, option);
    };

    LtcEncodeOptions options;
    QString complaint;
    if (parser.isSet(rate))
        complaint = OptionValues::readRate(value(rate), &options.type);
    options.start = TimecodeRecord{0, 0, 0, 0, options.type};
    if (complaint.isNull() && parser.isSet(start))
        complaint = OptionValues::readTimecode(QStringLiteral("--start"), value(start),
                                               options.type, &options.start);
    if (complaint.isNull())
        complaint = OptionValues::readFrameCount(value(duration), value(frames), options.type,
                                                 &options.frameCount);
    if (complaint.isNull() && parser.isSet(sampleRate)) {
        options.sampleRate = value(sampleRate).toInt();
        if (!supportedEncodeRate(options.sampleRate))
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
    if (complaint.isNull() && options.output.isEmpty())
        complaint = CliText::tr("give --output FILE.wav, or --output - for raw samples on "
                                "standard output");
    if (!complaint.isNull()) {
        *status = CommandLine::refuse(QStringLiteral("ltc-encode: ") + complaint);
        return false;
    }
    options.quiet = parser.isSet(quiet);
    *parsed = options;
    *status = ExitStatus::kOk;
    return true;
}
