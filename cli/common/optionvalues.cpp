#include "common/optionvalues.h"
#include "common/commandline.h"
#include "common/console.h"

#include "timecode.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QUdpSocket>

#include <cmath>

namespace OptionValues {

namespace {

// A rate given as a number matches one of the four when it is the same number however it is
// written ("25.0", "29.970"); 29.98 is not 29.97.
constexpr double kRateMatch = 1e-9;

} // namespace

QString rateText(quint8 type)
{
    return QString::number(Timecode::nominalRate(type), 'g', 4);
}

QString readRate(const QString& text, quint8* type)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    for (int candidate = 0; ok && candidate < Timecode::kTypeCount; ++candidate) {
        if (std::fabs(value - rateText(quint8(candidate)).toDouble()) < kRateMatch) {
            *type = quint8(candidate);
            return QString();
        }
    }
    return CliText::tr("unknown rate \"%1\" (use 24, 25, 29.97 or 30)").arg(text);
}

QString readTimecode(const QString& option, const QString& text, quint8 type,
                     TimecodeRecord* record)
{
    static const QRegularExpression shape(
        QStringLiteral("^(\\d{1,2}):(\\d{1,2}):(\\d{1,2}):(\\d{1,2})$"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return CliText::tr("%1 \"%2\" is not HH:MM:SS:FF").arg(option, text);
    const TimecodeRecord read{
        quint8(match.captured(4).toUInt()), quint8(match.captured(3).toUInt()),
        quint8(match.captured(2).toUInt()), quint8(match.captured(1).toUInt()), type};
    if (!Timecode::isValid(read))
        return CliText::tr("%1 %2 does not exist at %3 fps: %4")
            .arg(option, text, rateText(type), invalidTimecodeReason(read));
    *record = read;
    return QString();
}

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

QString readDestination(const QString& text, QHostAddress* address)
{
    if (text == QLatin1String(kEveryNetwork)) {
        *address = QHostAddress();
        return QString();
    }
    if (text.contains(QLatin1Char(':')) && address->setAddress(text))
        return CliText::tr("--to %1 is not IPv4 (Art-Net is IPv4 only)").arg(text);
    // Only the dotted quad: the resolver's older forms ("10.1", "1.2.3") name addresses
    // nobody means to type.
    static const QRegularExpression dottedQuad(
        QStringLiteral("^\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}$"));
    if (!dottedQuad.match(text).hasMatch() || !address->setAddress(text))
        return CliText::tr("--to \"%1\" is not an IPv4 address").arg(text);
    return QString();
}

QString readWholeNumber(const QString& option, const QString& text, qint64 lowest, qint64 highest,
                        qint64* value)
{
    // Digits only: a number's own readers take a sign and spaces, which nobody means here.
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    bool ok = false;
    const qint64 number = digits.match(text).hasMatch() ? text.toLongLong(&ok) : 0;
    if (!ok || number < lowest || number > highest)
        return CliText::tr("%1 needs a whole number from %2 to %3, not \"%4\"")
            .arg(option)
            .arg(lowest)
            .arg(highest)
            .arg(text);
    *value = number;
    return QString();
}

QString readWholeNumber(const QString& option, const QString& text, int lowest, int highest,
                        int* value)
{
    qint64 number = 0;
    const QString complaint =
        readWholeNumber(option, text, qint64(lowest), qint64(highest), &number);
    if (complaint.isNull())
        *value = int(number);
    return complaint;
}

QString readStream(const QString& text, quint8* stream)
{
    int value = 0;
    const QString complaint = readWholeNumber(QStringLiteral("--stream"), text, 0, 255, &value);
    if (complaint.isNull())
        *stream = quint8(value);
    return complaint;
}

QString readSource(const QString& text, QHostAddress* address)
{
    static const QRegularExpression dottedQuad(
        QStringLiteral("^\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}$"));
    if (!dottedQuad.match(text).hasMatch() || !address->setAddress(text))
        return CliText::tr("--from \"%1\" is not an IPv4 address").arg(text);
    // The system knows which addresses are this machine's (all of 127.0.0.0/8 on loopback, for
    // one): a socket bound to the address says so.
    QUdpSocket probe;
    if (!probe.bind(*address, 0))
        return CliText::tr("--from %1 is not an address of this machine").arg(text);
    return QString();
}

QString readFrameCount(const QString& durationText, const QString& framesText, quint8 type,
                       qint64* count)
{
    if (!durationText.isNull() && !framesText.isNull())
        return CliText::tr("give --duration or --frames, not both");
    if (!framesText.isNull()) {
        const QString complaint =
            readWholeNumber(QStringLiteral("--frames"), framesText, 1, kMostFrames, count);
        if (!complaint.isNull())
            return complaint;
    }
    if (!durationText.isNull()) {
        bool ok = false;
        const double seconds = durationText.toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds <= 0)
            return CliText::tr("--duration \"%1\" is not a positive number of seconds")
                .arg(durationText);
        // As many frames as the rate gives in that time, and at least the first.
        const double frames = std::round(seconds * Timecode::nominalRate(type));
        if (frames > double(kMostFrames))
            return CliText::tr("--duration %1 is too long").arg(durationText);
        *count = qMax<qint64>(1, qint64(frames));
    }
    return QString();
}

QCommandLineOption startOption()
{
    return QCommandLineOption(QStringLiteral("start"),
                              CliText::tr("First timecode (default 00:00:00:00)."),
                              QStringLiteral("HH:MM:SS:FF"));
}

QCommandLineOption toOption()
{
    return QCommandLineOption(QStringLiteral("to"),
                              CliText::tr("Send to this IPv4 address; repeatable, and needed: "
                                          "\"broadcast\" sends to every local network's "
                                          "broadcast address."),
                              QStringLiteral("ADDRESS"));
}

QCommandLineOption streamOption()
{
    return QCommandLineOption(QStringLiteral("stream"),
                              CliText::tr("StreamId sent in every ArtTimeCode, 0 to 255 "
                                          "(default 0, the master stream); a receiver shows each "
                                          "stream of one address as a sender of its own."),
                              QStringLiteral("N"));
}

QCommandLineOption durationOption()
{
    return QCommandLineOption(QStringLiteral("duration"),
                              CliText::tr("Stop after this many seconds."),
                              QStringLiteral("SECONDS"));
}

QCommandLineOption framesOption()
{
    return QCommandLineOption(QStringLiteral("frames"), CliText::tr("Stop after this many frames."),
                              QStringLiteral("N"));
}

QCommandLineOption quietOption()
{
    return QCommandLineOption({QStringLiteral("q"), QStringLiteral("quiet")},
                              CliText::tr("No status line; only the final summary."));
}

QString readRateAndStart(const QCommandLineParser& parser, const QCommandLineOption& rate,
                         const QCommandLineOption& start, quint8* type, TimecodeRecord* first)
{
    QString complaint;
    if (parser.isSet(rate))
        complaint = readRate(CommandLine::lastValue(parser, rate), type);
    *first = TimecodeRecord{0, 0, 0, 0, *type};
    if (complaint.isNull() && parser.isSet(start))
        complaint = readTimecode(QStringLiteral("--start"), CommandLine::lastValue(parser, start),
                                 *type, first);
    return complaint;
}

} // namespace OptionValues
