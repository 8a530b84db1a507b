#include "chronolume_config.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(chronolume::kAppId));
    int result;
    {
        // The window, and with it the node and its socket, goes before the application object.
        MainWindow window;
        window.show();
        result = application.exec();
    }
    return result;
}
