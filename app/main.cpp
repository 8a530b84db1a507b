#include "artnet.h"
#include "chronolume_config.h"
#include "mainwindow.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(chronolume::kAppId));
    // Asked before the window's node binds the port, which would count itself. A diagnostic
    // line like the node's own, since the window shows nothing of it.
    if (artNetPortHeldElsewhere()) {
        std::fputs("another program already listens on UDP port 6454; unicast timecode to this "
                   "machine reaches only the program that bound the port last\n",
                   stdout);
        std::fflush(stdout);
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
