// What every command does alike with its arguments: --help, parsing, and the complaint and exit
// status for input it cannot use.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QStringList>

namespace CommandLine {

// Parses the arguments that follow the command's name, with --help and the given options; the
// command takes no positional arguments. True when the command is to run; otherwise the help
// was shown (*status 0) or the input complained about on stderr (*status 2).
bool parse(QCommandLineParser& parser, const QString& command, const QString& description,
           const QList<QCommandLineOption>& options, const QStringList& arguments, int* status);

} // namespace CommandLine
