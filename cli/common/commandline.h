// What every command does alike with its arguments: --help, parsing, and the complaint and exit
// status for input it cannot use.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QStringList>

namespace CommandLine {

// Parses the arguments that follow the command's name, with --help and the given options; the
// command takes no positional arguments. The parser may be set up beforehand (its option
// modes). True when the command is to run; otherwise the help was shown (*status kOk) or the
// input complained about on stderr (*status kUsage).
bool parse(QCommandLineParser& parser, const QString& command, const QString& description,
           const QList<QCommandLineOption>& options, const QStringList& arguments, int* status);

// The option's last value (the last one given wins), or a null string when it was not given.
QString lastValue(const QCommandLineParser& parser, const QCommandLineOption& option);

// Complains about an option's value on stderr ("chronolume-cli: <message>") and gives the exit
// status for input the command cannot use.
int refuse(const QString& message);

} // namespace CommandLine
