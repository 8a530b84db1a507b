#include "ltcencode/followoptions.h"
#include "common/commandline.h"
#include "common/console.h"
#include "common/optionvalues.h"
#include "ltcencode/ltcencodeoptions.h"

#include <QCommandLineParser>

#include <cmath>

namespace Follow {

namespace {

// Beyond this a value is a slip of the keyboard: a second of output latency.
constexpr double kMaxAdvanceMs = 1000;

} // namespace

QStringList withFollowValue(const QStringList& arguments)
{
    QStringList result = arguments;
    for (int i = 0; i < result.size(); ++i) {
        const QString& argument = result.at(i);
        if (argument != QLatin1String("--follow") && argument != QLatin1String("-follow"))
            continue;
        const bool valueFollows = i + 1 < result.size() && !result.at(i + 1).startsWith('-');
        if (!valueFollows)
            result[i] = QStringLiteral("--follow=");
    }
    return result;
}

QString readTarget(const QString& text, Target* target)
{
    *target = Target();
    if (text.isEmpty())
        return {};
    const int colon = text.indexOf(QLatin1Char(':'));
    const QString address = colon < 0 ? text : text.left(colon);
    QHostAddress sender;
    if (!sender.setAddress(address) || sender.protocol() != QAbstractSocket::IPv4Protocol ||
        address.count(QLatin1Char('.')) != 3)
        return CliText::tr("--follow \"%1\" is not an IPv4 address, with :STREAM after it if "
                           "one stream of the sender is meant")
            .arg(text);
    int stream = -1;
    if (colon >= 0 &&
        !OptionValues::readWholeNumber(QString(), text.mid(colon + 1), 0, 255, &stream).isNull())
        return CliText::tr("--follow \"%1\": the stream is a whole number from 0 to 255").arg(text);
    target->sender = sender;
    target->stream = stream;
    return {};
}

bool matches(const Target& target, const QHostAddress& sender, int stream)
{
    return (target.sender.isNull() ||
            target.sender.isEqual(sender, QHostAddress::ConvertV4MappedToIPv4)) &&
           (target.stream < 0 || target.stream == stream);
}

QString readAdvance(const QString& text, qint64* advanceNs)
{
    bool ok = false;
    const double ms = text.toDouble(&ok);
    if (!ok || !std::isfinite(ms) || ms < 0 || ms > kMaxAdvanceMs)
        return CliText::tr("--advance \"%1\" is not a latency from 0 to %2 ms")
            .arg(text)
            .arg(kMaxAdvanceMs);
    *advanceNs = std::llround(ms * 1e6);
    return {};
}

QString readFreewheel(const QString& text, int* frames)
{
    return OptionValues::readWholeNumber(QStringLiteral("--freewheel"), text, 0,
                                         OptionValues::kMostFreewheelFrames, frames);
}

// --follow's own options, and the ones it has no use for: the rate and the time are the
// sender's, and the run lasts until it is ended.
QString readOptions(const QCommandLineParser& parser,
                    const QList<QCommandLineOption>& followOptions,
                    const QList<QCommandLineOption>& notWithFollow, LtcEncodeOptions* options)
{
    const QCommandLineOption& follow = followOptions.at(0);
    const QCommandLineOption& advance = followOptions.at(1);
    const QCommandLineOption& freewheel = followOptions.at(2);
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
    if (!options->output.isEmpty() && options->output != QLatin1String("-"))
        return CliText::tr("--follow writes raw samples to standard output, not to a file");
    options->output = QStringLiteral("-");
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

} // namespace Follow
