// Full screen, for a monitor of its own at front of house: F11 or a double click switch it on
// and off, Escape leaves it, and it shows light text on black.
#include "mainwindow.h"

#include "weblinks.h"

#include <QEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QShortcut>
#include <QTimer>

namespace {

// In a dark room: light digits on black. The link keeps a colour of its own, a blue light
// enough to read on black; a silent sender's grey follows from text and background.
QPalette darkRoomPalette()
{
    QPalette colours;
    colours.setColor(QPalette::Window, QColor(0x00, 0x00, 0x00));
    colours.setColor(QPalette::WindowText, QColor(0xf2, 0xf2, 0xf2));
    colours.setColor(QPalette::Link, QColor(0x7a, 0xb8, 0xff));
    colours.setColor(QPalette::LinkVisited, QColor(0xb8, 0x9c, 0xff));
    return colours;
}

// Qt colours a link from the application's palette as it reads the text, never from the label's:
// a link in a colour of its own says so in its text.
QString linkInColour(const QString& link, const QColor& colour)
{
    QString coloured = link;
    return coloured.replace(QStringLiteral("<a "),
                            QStringLiteral("<a style=\"color:%1\" ").arg(colour.name()));
}

} // namespace

void MainWindow::createFullScreenKeys()
{
    fullScreenShortcut = new QShortcut(QKeySequence(Qt::Key_F11), this);
    connect(fullScreenShortcut, &QShortcut::activated, this, &MainWindow::toggleFullScreen);
    // Only while full screen: elsewhere Escape is left to whatever else takes it.
    leaveFullScreenShortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    leaveFullScreenShortcut->setEnabled(false);
    connect(leaveFullScreenShortcut, &QShortcut::activated, this, &MainWindow::toggleFullScreen);
}

void MainWindow::toggleFullScreen()
{
    // Under X11 the window manager carries it out; the window follows the state it reports.
    setWindowState(windowState() ^ Qt::WindowFullScreen);
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!event || event->button() != Qt::LeftButton) {
        QMainWindow::mouseDoubleClickEvent(event);
        return;
    }
    toggleFullScreen();
    event->accept();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (!event || event->type() != QEvent::WindowStateChange)
        return;
    const bool fullScreen = isFullScreen();
    if (leaveFullScreenShortcut)
        leaveFullScreenShortcut->setEnabled(fullScreen);
    // An empty palette gives every colour back to the desktop's.
    const QPalette colours = fullScreen ? darkRoomPalette() : QPalette();
    setPalette(colours);
    if (linkLabel) {
        const QString link = chronolume::downloadPageLink();
        linkLabel->setText(fullScreen ? linkInColour(link, colours.color(QPalette::Link)) : link);
    }
    // The seven-segment numbers carry their grey themselves; the labels take theirs as they draw.
    if (useLcd)
        showLiveness();
    // Back from full screen with the senders that joined meanwhile, and a frame around it again:
    // the room on the screen is measured anew once the window manager has put the window back.
    if (!fullScreen)
        QTimer::singleShot(0, this, &MainWindow::screenChanged);
}
