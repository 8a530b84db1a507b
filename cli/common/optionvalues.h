// The values the commands' options share: a rate, a timecode, an IPv4 destination, and a length
// given as --duration or --frames. Each reader gives a null string when the text is good, or the
// complaint without the command's name.
#pragma once

#include "artnet.h"

#include <QCommandLineOption>
#include <QHostAddress>
#include <QString>

class QCommandLineParser;

namespace OptionValues {

// The rate as the commands read and write it: frames a second in real time to two decimals,
// "24", "25", "29.97" or "30".
QString rateText(quint8 type);

// The Type of a rate; "25.0" and "29.970" name one too.
QString readRate(const QString& text, quint8* type);

// A timecode HH:MM:SS:FF that exists at the Type's rate, given to the option `option`.
QString readTimecode(const QString& option, const QString& text, quint8 type,
                     TimecodeRecord* record);

// Why a record of the right shape does not exist at its Type's rate.
QString invalidTimecodeReason(const TimecodeRecord& record);

// What --to takes for every local network's broadcast address.
inline constexpr char kEveryNetwork[] = "broadcast";

// A dotted-quad IPv4 address for --to, or kEveryNetwork, read as a null address that
// sendingDestinations turns into the local networks' broadcast addresses.
QString readDestination(const QString& text, QHostAddress* address);

// A whole number from lowest to highest, both included, given to `option` ("--stream"): digits
// only, so a sign, a space or a decimal point is refused. A null string when it reads; otherwise
// the complaint every command words alike: --stream needs a whole number from 0 to 255, not "+5".
QString readWholeNumber(const QString& option, const QString& text, qint64 lowest, qint64 highest,
                        qint64* value);
QString readWholeNumber(const QString& option, const QString& text, int lowest, int highest,
                        int* value);

// A StreamId given to --stream: a whole number from 0 to 255.
QString readStream(const QString& text, quint8* stream);

// The most frames --frames or --duration may ask for.
inline constexpr qint64 kMostFrames = 1'000'000'000'000'000;

// The most frames ltc-bridge and ltc-encode --follow invent after their source fell silent: a
// minute at 30 fps. A dropout longer than that is no dropout but a stopped or failed source,
// which the desk should see rather than cues fired by a time nobody sends.
inline constexpr int kMostFreewheelFrames = 30 * 60;

// The local IPv4 address given to --from: one this machine has, so a socket can send from it.
QString readSource(const QString& text, QHostAddress* address);

// The number of frames --frames gives, or --duration gives at the Type's rate (at least one);
// a null text stands for an option not given, and with neither *count stays as it was.
QString readFrameCount(const QString& durationText, const QString& framesText, quint8 type,
                       qint64* count);

// The options that more than one command takes, worded once.
QCommandLineOption startOption();
QCommandLineOption toOption();
QCommandLineOption durationOption();
QCommandLineOption framesOption();
QCommandLineOption quietOption();
QCommandLineOption streamOption();

// --rate, then --start read at that rate (00:00:00:00 when it is not given).
QString readRateAndStart(const QCommandLineParser& parser, const QCommandLineOption& rate,
                         const QCommandLineOption& start, quint8* type, TimecodeRecord* first);

} // namespace OptionValues
