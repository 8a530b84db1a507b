// chronolume-cli: Chronolume's companion program for the command line, with subcommands in the
// style of git and ip.
#include "common/console.h"
#include "common/exitstatus.h"
#include "ltcbridge/ltcbridgecommand.h"
#include "ltcencode/ltcencodecommand.h"
#include "monitor/monitorcommand.h"
#include "mtcbridge/mtcbridgecommand.h"
#include "mtcencode/mtcencodecommand.h"
#include "nodes/nodescommand.h"
#include "send/sendcommand.h"
#include "web/webcommand.h"

#include "chronolume_config.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

// Every command, as --help lists them. A command takes the arguments after its own name and
// returns the process's exit status.
struct Command
{
    const char* name;
    const char* summary;
    int (*run)(const QStringList& arguments);
};

const Command kCommands[] = {
    {"send", "send ArtTimeCode at a steady frame rate", runSend},
    {"monitor", "measure how steady every sender's ArtTimeCode is", runMonitor},
    {"nodes", "poll the local networks and list the Art-Net nodes that answer", runNodes},
    {"ltc-bridge", "decode LTC audio and send it as ArtTimeCode", runLtcBridge},
    {"ltc-encode", "write LTC audio to a WAV file or a pipe", runLtcEncode},
    {"mtc-bridge", "read MIDI timecode and send it as ArtTimeCode", runMtcBridge},
    {"mtc-encode", "write MIDI timecode to a MIDI port", runMtcEncode},
    {"web", "serve a clock page that every browser on the network keeps up to date", runWeb},
};

QString programVersion()
{
    return QStringLiteral("%1.%2.%3")
        .arg(chronolume::kVersionMajor)
        .arg(chronolume::kVersionMinor)
        .arg(chronolume::kVersionPatch);
}

void printHelp()
{
    QString text = CliText::tr("Usage: chronolume-cli <command> [options]\n"
                               "       chronolume-cli <command> --help\n"
                               "\n"
                               "Art-Net timecode from the command line.\n"
                               "\n"
                               "Commands:\n");
    for (const Command& command : kCommands)
        text += QStringLiteral("  %1  %2\n")
                    .arg(QLatin1String(command.name), -10)
                    .arg(QLatin1String(command.summary));
    text += CliText::tr("\n"
                        "Options:\n"
                        "  -h, --help     Show this help and exit.\n"
                        "  -v, --version  Show the version and exit.\n");
    Console::writeOut(text);
}

} // namespace

int main(int argc, char* argv[])
{
    // Nothing here needs glib's main loop, and Qt's own is the cheaper one: with many sockets
    // (the web clock's pages) glib walks a list of every watched descriptor each time one is
    // switched on or off, and it measured a quarter more CPU.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("chronolume-cli"));
    QCoreApplication::setApplicationVersion(programVersion());

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty()) {
        Console::error(CliText::tr("no command given (try \"chronolume-cli --help\")"));
        return ExitStatus::kUsage;
    }
    const QString& first = arguments.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") ||
        first == QLatin1String("help")) {
        printHelp();
        return ExitStatus::kOk;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        Console::writeOut(QStringLiteral("chronolume-cli %1\n").arg(programVersion()));
        return ExitStatus::kOk;
    }
    for (const Command& command : kCommands) {
        if (first == QLatin1String(command.name))
            return command.run(arguments.mid(1));
    }
    if (first.startsWith(QLatin1Char('-')))
        Console::error(
            CliText::tr("unknown option \"%1\" (try \"chronolume-cli --help\")").arg(first));
    else
        Console::error(
            CliText::tr("unknown command \"%1\" (try \"chronolume-cli --help\")").arg(first));
    return ExitStatus::kUsage;
}
