#include "mtcbridge/mtcbridgeoptions.h"
#include "common/commandline.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "common/optionvalues.h"

#include "timecode.h"

#include <QCommandLineParser>

namespace {

// A dropout longer than a minute is no dropout: the desk should see the loss (as ltc-bridge).

} // namespace

bool parseMtcBridgeOptions(const QStringList& arguments, MtcBridgeOptions* parsed, int* status)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption offset(
        QStringLiteral("offset"),
        CliText::tr("Add this to every time sent, counted in the rate's own numbering."),
        QStringLiteral("[+-]HH:MM:SS:FF"));
    const QCommandLineOption noCorrection(
        QStringLiteral("no-latency-correction"),
        CliText::tr("Send each time as its quarter frames carry it, not two frames on (the frame "
                    "playing when its last quarter frame comes)."));
    const QCommandLineOption freewheel(
        QStringLiteral("freewheel"),
        CliText::tr("When MTC is lost, go on sending the following frames at the rate for up to "
                    "this many frames (default 0), until it returns."),
        QStringLiteral("FRAMES"));
    const QCommandLineOption stream(QStringLiteral("stream"),
                                    CliText::tr("The StreamId the ArtTimeCode carries, 0 (the "
                                                "master, default) to 255."),
                                    QStringLiteral("N"));
    const QCommandLineOption to = OptionValues::toOption();
    const QCommandLineOption quiet = OptionValues::quietOption();
    const QList<QCommandLineOption> midi = MidiOptions::options(true);
    if (!CommandLine::parse(
            parser, QStringLiteral("mtc-bridge"),
            CliText::tr("Reads MTC (MIDI timecode) from a MIDI port and sends one ArtTimeCode per "
                        "frame to the given addresses (--to broadcast: every local IPv4 "
                        "network's broadcast address), until it is interrupted. Answers ArtPoll "
                        "as \"Chronolume MTC\"."),
            QList<QCommandLineOption>{offset, noCorrection, freewheel, stream, to, quiet} + midi,
            arguments, status))
        return false;
    const auto value = [&parser](const QCommandLineOption& option) {
        return CommandLine::lastValue(parser, option);
    };
    const auto refuse = [status](const QString& complaint) {
        *status = CommandLine::refuse(QStringLiteral("mtc-bridge: ") + complaint);
        return false;
    };

    MtcBridgeOptions options;
    const QString midiComplaint = MidiOptions::read(parser, midi, &options.midi);
    if (!midiComplaint.isNull())
        return refuse(midiComplaint);
    if (parser.isSet(freewheel)) {
        const QString complaint = OptionValues::readWholeNumber(
            QStringLiteral("--freewheel"), value(freewheel), 0, OptionValues::kMostFreewheelFrames,
            &options.settings.freewheelFrames);
        if (!complaint.isNull())
            return refuse(complaint);
    }
    if (parser.isSet(stream)) {
        const QString complaint = OptionValues::readStream(value(stream), &options.stream);
        if (!complaint.isNull())
            return refuse(complaint);
    }
    if (parser.isSet(offset)) {
        if (!parseOffset(value(offset), &options.offset))
            return refuse(CliText::tr("--offset \"%1\" is not [+-]HH:MM:SS:FF").arg(value(offset)));
        options.offsetGiven = true;
        // The rate comes with the MTC: the offset is worked out for every rate now, and refused
        // once MTC of a rate whose numbering lacks it comes.
        for (quint8 type = 0; type < Timecode::kTypeCount; ++type) {
            qint64 frames = 0;
            options.settings.offsetExists[type] = offsetFrames(options.offset, type, &frames);
            options.settings.offsetFrames[type] = frames;
        }
    }
    options.settings.latencyCorrection = !parser.isSet(noCorrection);
    for (const QString& text : parser.values(to)) {
        QHostAddress address;
        const QString complaint = OptionValues::readDestination(text, &address);
        if (!complaint.isNull())
            return refuse(complaint);
        options.destinations.append(address);
    }
    options.quiet = parser.isSet(quiet);
    *parsed = options;
    *status = ExitStatus::kOk;
    return true;
}
