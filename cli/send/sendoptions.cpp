#include "send/sendoptions.h"
#include "common/commandline.h"
#include "common/console.h"
#include "common/exitstatus.h"

#include "timecode.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <cmath>

namespace {

// A rate given as a number matches one of the four when it is the same number however it is
// written ("25.0", "29.970"); 29.98 is not 29.97.
constexpr double kRateMatch = 1e-9;

bool parseRate(const QString& text, quint8* type)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok)
        return false;
    for (int candidate = 0; candidate < Timecode::kTypeCount; ++candidate) {
        if (std::fabs(value - rateText(quint8(candidate)).toDouble()) < kRateMatch) {
            *type = quint8(candidate);
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

} // namespace

QString rateText(quint8 type)
{
    return QString::number(Timecode::nominalRate(type), 'g', 4);
}

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
    const auto error = [status](const QString& message) {
        *status = CommandLine::refuse(message);
        return false;
    };

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
                             .arg(text, rateText(options.type), invalidTimecodeReason(record)));
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
    *parsed = options;
    *status = ExitStatus::kOk;
    return true;
}
