#include "artnet.h"
#include "chronolume_config.h"
#include "diagnostics.h"
#include "mainwindow.h"
#include "windowoutput.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace {

// --help and --version print and end the program before any window or display is needed; any
// other argument stays Qt's (-platform, -style, ...) or is ignored, as it always was.
void answerHelpOrVersion(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Shows the Art-Net timecode (ArtTimeCode) of every controller on the network in "
                "large digits.\nF11 or a double click switches full screen on and off; Escape "
                "leaves it. A right click opens the menu."));
    // Qt's own single-dash options (-reverse, -style) must not read as bundled short ones.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.parse(arguments); // errors are other arguments, left as they were
    QString asked;
    for (const QString& name :
         {QStringLiteral("help"), QStringLiteral("help-all"), QStringLiteral("version")}) {
        if (asked.isEmpty() && parser.isSet(name))
            asked = QStringLiteral("--") + name;
    }
    if (asked.isEmpty())
        return;
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(chronolume::kProductName));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(chronolume::kVersionMajor)
                                                .arg(chronolume::kVersionMinor)
                                                .arg(chronolume::kVersionPatch));
    // The question alone, without the arguments Qt would have taken: Qt's parser answers it,
    // and ends the program.
    parser.process(QStringList{arguments.value(0), asked});
    std::exit(0);
}

} // namespace

int main(int argc, char* argv[])
{
    answerHelpOrVersion(argc, argv);
    // From here on nothing the window writes waits for a terminal or a pipe.
    WindowOutput::routeMessages();
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(chronolume::kAppId));
    // Asked before the window's node binds the port, which would count itself. A diagnostic
    // line like the node's own, since the window shows nothing of it.
    if (artNetPortHeldElsewhere()) {
        ArtNetOutput::line(QStringLiteral(
            "another program already listens on UDP port 6454; unicast timecode to this "
            "machine reaches only the program that bound the port last"));
    }
    int result;
    {
        // The window, and with it the node and its socket, goes before the application object.
        MainWindow window;
        window.show();
        result = application.exec();
    }
    return result;
}
