#include "artnet.h"
#include "chronolume_config.h"
#include "diagnostics.h"
#include "mainwindow.h"
#include "windowoptions.h"
#include "windowoutput.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QList>
#include <QScreen>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

// --help and --version print and end the program before any window or display is needed; any
// other argument stays Qt's (-platform, -style, ...) or is ignored, as it always was.
void answerHelpOrVersion(int argc, char* argv[], const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Shows the Art-Net timecode (ArtTimeCode) of every controller on the network in "
                "large digits.\nF11 or a double click switches full screen on and off; Escape "
                "leaves it. A right click opens the menu."));
    WindowOptions::addTo(parser);
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

// Where the window is to open and how.
struct Placement
{
    bool fullScreen = false;
    QScreen* screen = nullptr; // null: wherever the window manager puts it
    int exitStatus = -1;       // 0 or more: the program ends at once with it
};

// Places the window as the options say once the screens are known. --list-screens prints their
// names, and a screen that does not exist is complained of; either ends the program.
Placement readPlacement(const WindowOptions::Options& options)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    Placement placement;
    placement.fullScreen = options.fullScreen;
    if (options.listScreens) {
        for (const QScreen* screen : screens)
            std::printf("%s\n", qPrintable(screen->name()));
        placement.exitStatus = 0;
        return placement;
    }
    if (options.screen.isEmpty())
        return placement;
    QStringList names;
    for (QScreen* screen : screens) {
        names << screen->name();
        if (screen->name() == options.screen)
            placement.screen = screen;
    }
    if (!placement.screen) {
        std::fprintf(stderr, "chronolume: no screen is named \"%s\"; the screens are: %s\n",
                     qPrintable(options.screen), qPrintable(names.join(QStringLiteral(", "))));
        placement.exitStatus = 2;
    }
    return placement;
}

void showWindow(MainWindow& window, const Placement& placement)
{
    if (placement.screen) {
        // The screen is where the window stands: placed in the middle of it, the window
        // manager keeps it there, and full screen fills that screen.
        window.setScreen(placement.screen);
        window.adjustSize();
        const QRect room = placement.screen->availableGeometry();
        window.move(room.center() - QPoint(window.width() / 2, window.height() / 2));
    }
    if (placement.fullScreen)
        window.showFullScreen();
    else
        window.show();
}

} // namespace

int main(int argc, char* argv[])
{
    // A closed standard output or error is a reader who has gone: the writes fail, and the lines
    // are dropped and counted like those the output does not take, instead of ending the window.
    std::signal(SIGPIPE, SIG_IGN);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    answerHelpOrVersion(argc, argv, arguments);
    const WindowOptions::Options options = WindowOptions::read(arguments);
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "chronolume: %s\n", qPrintable(options.error));
        return 2;
    }
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    if (WindowOptions::noDisplay(WindowOptions::platformArgument(arguments),
                                 qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"),
                                 qgetenv("WAYLAND_DISPLAY"))) {
        std::fprintf(stderr, "%s\n", WindowOutput::kNoDisplay);
        return 1;
    }
#endif
    // From here on nothing the window writes waits for a terminal or a pipe. A display that is
    // named but cannot be opened ends the program with the same line, not with Qt's abort.
    WindowOutput::routeMessages();
    WindowOutput::setOpeningDisplay(true);
    QApplication application(argc, argv);
    WindowOutput::setOpeningDisplay(false);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(chronolume::kAppId));
    const Placement placement = readPlacement(options);
    if (placement.exitStatus >= 0)
        return placement.exitStatus;
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
        MainWindow window(nullptr, options.layout);
        showWindow(window, placement);
        result = application.exec();
    }
    return result;
}
