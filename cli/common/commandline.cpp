#include "common/commandline.h"
#include "common/console.h"
#include "common/exitstatus.h"

#include <QCoreApplication>

namespace CommandLine {

bool parse(QCommandLineParser& parser, const QString& command, const QString& description,
           const QList<QCommandLineOption>& options, const QStringList& arguments, int* status)
{
    parser.setApplicationDescription(description);
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")},
        QCoreApplication::translate("CommandLine", "Show this help and exit."));
    parser.addOption(help);
    parser.addOptions(options);
    // parse() skips the first argument, the program's name.
    if (!parser.parse(QStringList(QStringLiteral("chronolume-cli")) + arguments)) {
        *status = refuse(command + QStringLiteral(": ") + parser.errorText());
        return false;
    }
    if (parser.isSet(help)) {
        // The parser's usage line names the program as started, without the command.
        QString text = parser.helpText();
        text.replace(0, text.indexOf(QLatin1Char('\n')),
                     QStringLiteral("Usage: chronolume-cli %1 [options]").arg(command));
        Console::writeOut(text);
        *status = ExitStatus::kOk;
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *status = refuse(QStringLiteral("%1: unexpected argument \"%2\"")
                             .arg(command, parser.positionalArguments().first()));
        return false;
    }
    return true;
}

QString lastValue(const QCommandLineParser& parser, const QCommandLineOption& option)
{
    return parser.isSet(option) ? parser.values(option).last() : QString();
}

int refuse(const QString& message)
{
    Console::error(message);
    return ExitStatus::kUsage;
}

} // namespace CommandLine
