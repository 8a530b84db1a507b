#include "sendoptions.h"
#include "console.h"
#include "timecode.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <cmath>

namespace {

struct Rate
{
    const char* name;
    quint8 type;
};

const Rate kRates[] = {{"24", 0}, {"25", 1}, {"29.97", 2}, {"30", 3}};

bool parseRate(const QString& text, quint8* type)
{
    for (const Rate& rate : kRates) {
        if (text == QLatin1String(rate.name)) {
            *type = rate.type;
            return true;
        }
    }
    return false;
}

bool parseTimecode(const QString& text, TimecodeRecord* record)
{
    static const QRegularExpression shape(
        QStringLiteral("^(\\d{1,2}):(\\d{1,2}):(\\d{1,2}):(\\d{1,2})$"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return false;
    record->hours = quint8(match.captured(1).toUInt());
    record->minutes = quint8(match.captured(2).toUInt());
    record->seconds = quint8(match.captured(3).toUInt());
    record->frames = quint8(match.captured(4).toUInt());
    return true;
}

// Why a well-formed timecode does not exist at the chosen rate.
QString invalidTimecodeReason(const TimecodeRecord& r)
{
    if (r.hours >= 24)
        return CliText::tr("hours must be below 24");
    if (r.minutes >= 60)
        return CliText::tr("minutes must be below 60");
    if (r.seconds >= 60)
        return CliText::tr("seconds must be below 60");
    if (r.frames >= Timecode::nominalFps(r.type))
        return CliText::tr("frames must be below %1").arg(Timecode::nominalFps(r.type));
    return CliText::tr("drop-frame numbering skips frames 00 and 01 of this minute");
}

SendParse error(const QString& text)
{
    SendParse result;
    result.outcome = SendParse::Error;
    result.text = text;
    return result;
}

} // namespace

QString rateName(quint8 type)
{
    for (const Rate& rate : kRates) {
        if (rate.type == type)
            return QLatin1String(rate.name);
    }
    return QString::number(type);
}

SendParse parseSendOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        CliText::tr("Sends one ArtTimeCode per frame at a steady frame rate, to the broadcast "
                    "address of every local IPv4 network or to the given addresses, until "
                    "interrupted or for the given time or number of frames."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  CliText::tr("Show this help and exit."));
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
    parser.addOptions({help, rate, start, to, duration, frames, quiet});

    if (!parser.parse(QStringList{QStringLiteral("chronolume-cli send")} + arguments))
        return error(QStringLiteral("send: ") + parser.errorText());
    if (parser.isSet(help)) {
        SendParse result;
        result.outcome = SendParse::Help;
        // The parser names only the program in its usage line; the command belongs there too.
        QString text = parser.helpText();
        text.replace(0, text.indexOf(QLatin1Char('\n')),
                     CliText::tr("Usage: chronolume-cli send [options]"));
        result.text = text;
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return error(CliText::tr("send: unexpected argument \"%1\"")
                         .arg(parser.positionalArguments().first()));

    SendOptions options;
    if (parser.isSet(rate)) {
        const QString text = parser.values(rate).last();
        if (!parseRate(text, &options.type))
            return error(
                CliText::tr("send: unknown rate \"%1\" (use 24, 25, 29.97 or 30)").arg(text));
    }
    options.start = TimecodeRecord{0, 0, 0, 0, options.type};
    if (parser.isSet(start)) {
        const QString text = parser.values(start).last();
        TimecodeRecord record;
        if (!parseTimecode(text, &record))
            return error(CliText::tr("send: --start \"%1\" is not HH:MM:SS:FF").arg(text));
        record.type = options.type;
        if (!Timecode::isValid(record))
            return error(CliText::tr("send: --start %1 does not exist at %2 fps: %3")
                             .arg(text, rateName(options.type), invalidTimecodeReason(record)));
        options.start = record;
    }
    for (const QString& text : parser.values(to)) {
        QHostAddress address;
        if (text.contains(QLatin1Char(':')) && address.setAddress(text))
            return error(CliText::tr("send: --to %1 is not IPv4 (Art-Net is IPv4 only)").arg(text));
        // Only the dotted quad: the resolver's older forms ("10.1", "1.2.3") name addresses
        // nobody means to type.
        static const QRegularExpression dottedQuad(
            QStringLiteral("^\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}$"));
        if (!dottedQuad.match(text).hasMatch() || !address.setAddress(text))
            return error(CliText::tr("send: --to \"%1\" is not an IPv4 address").arg(text));
        options.destinations.append(address);
    }
    if (parser.isSet(duration) && parser.isSet(frames))
        return error(CliText::tr("send: give --duration or --frames, not both"));
    if (parser.isSet(frames)) {
        const QString text = parser.values(frames).last();
        bool ok = false;
        options.frameCount = text.toLongLong(&ok);
        if (!ok || options.frameCount <= 0)
            return error(
                CliText::tr("send: --frames \"%1\" is not a positive whole number").arg(text));
    }
    if (parser.isSet(duration)) {
        const QString text = parser.values(duration).last();
        bool ok = false;
        const double seconds = text.toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds <= 0)
            return error(CliText::tr("send: --duration \"%1\" is not a positive number of "
                                     "seconds")
                             .arg(text));
        // As many frames as the rate gives in that time, and at least the first.
        const double count = std::round(seconds * Timecode::nominalRate(options.type));
        if (count > 1e15)
            return error(CliText::tr("send: --duration %1 is too long").arg(text));
        options.frameCount = qMax<qint64>(1, qint64(count));
    }
    options.quiet = parser.isSet(quiet);

    SendParse result;
    result.outcome = SendParse::Run;
    result.options = options;
    return result;
}
