// The options of ltc-encode --follow: which sender to follow, the output's latency and the
// freewheel after a loss.
#pragma once

#include <QCommandLineOption>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

class QCommandLineParser;
struct LtcEncodeOptions;

namespace Follow {

// Whom --follow names: an IPv4 address and, after a colon, a stream (0 to 255). A null
// address follows the first sender heard; a stream of -1 any stream of the sender.
struct Target
{
    QHostAddress sender;
    int stream = -1;
};

// --follow takes its value only when one follows it: "--follow" alone, or before another
// option, becomes "--follow=" for the parser, which knows no optional values.
QStringList withFollowValue(const QStringList& arguments);

// "ADDRESS[:STREAM]" or empty; a null string when it reads, otherwise the complaint.
QString readTarget(const QString& text, Target* target);

// Whether a datagram from this sender and stream is one to follow.
bool matches(const Target& target, const QHostAddress& sender, int stream);

// --advance in milliseconds, 0 to 1000, as nanoseconds.
QString readAdvance(const QString& text, qint64* advanceNs);

// --freewheel in frames, 0 to OptionValues::kMostFreewheelFrames.
QString readFreewheel(const QString& text, int* frames);

// --follow's own options into *options, after it is known whether --follow was given, and a
// complaint about those that do not go with it: followOptions are --follow, --advance and
// --freewheel, notWithFollow --rate, --start, --duration and --frames.
QString readOptions(const QCommandLineParser& parser,
                    const QList<QCommandLineOption>& followOptions,
                    const QList<QCommandLineOption>& notWithFollow, LtcEncodeOptions* options);

} // namespace Follow
