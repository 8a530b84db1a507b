// The one window: the timecode of every sender in large digits, the download link, and the
// context menu with its commands.
#pragma once

#include "artnet.h"
#include "kerneldrops.h"
#include "senderlabel.h"

#include <QList>
#include <QMainWindow>
#include <QString>

class AboutInfo;
class CheckSoftwareUpdate;
class QAction;
class QLCDNumber;
class QLabel;
class QShortcut;
class QMenu;
class QTimer;
class QVBoxLayout;
class artnet;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

private slots:
    void SendTimecodeTimeOut();
    void resizeEvent(QResizeEvent* event) override;
    void CheckForSoftwareUpdate(bool GiveInfoForNoUpdates = true);
    void Help();
    void About();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    friend class MainWindowProbe; // test access to the window's parts

    void buildCentralWidget();
    void closeAboutWindow();
    void createActions();
    void createFullScreenKeys();
    void fitTimecodeFont();
    void showEntries();
    void showLiveness();
    void setTimecodeFloor();
    void toggleFullScreen();

    artnet* artnetNode = nullptr;
    QMenu* contextMenu = nullptr;
    QAction* searchUpdatesAction = nullptr;
    QAction* helpAction = nullptr;
    QAction* aboutAction = nullptr;
    QAction* aboutQtAction = nullptr;
    QAction* quitAction = nullptr;
    AboutInfo* aboutDialog = nullptr;
    CheckSoftwareUpdate* updateChecker = nullptr;
    QString updateLink;
    QString helpLink;
    bool useLcd = false;
    QTimer* timecodeTimer = nullptr;
    SenderLabel* timecodeLabel = nullptr;
    QLCDNumber* timecodeLcd = nullptr;
    SenderLabel* rateLabel = nullptr;
    QLCDNumber* rateLcd = nullptr;
    SenderLabel* sourceLabel = nullptr;
    QLabel* titleLabel = nullptr;
    QLabel* linkLabel = nullptr;
    QVBoxLayout* mainLayout = nullptr;
    QWidget* centralPanel = nullptr;
    // What the last refresh put on show, and the entries read at this one: a refresh that finds
    // them alike has nothing to redo.
    QList<TimecodeSource> shownEntries;
    QList<TimecodeSource> readEntries;
    // Which senders are silent, as shown and as read at this refresh, one flag per entry.
    QList<bool> shownSilent;
    QList<bool> readSilent;
    // The length of the timecode text the label's minimum size was measured for: another
    // length is another shape (a line more, a field of three digits).
    qsizetype floorTextLength = 0;
    QShortcut* fullScreenShortcut = nullptr;
    QShortcut* leaveFullScreenShortcut = nullptr;
    // How many refreshes have built the texts: the only trace of a refresh that found nothing
    // new, since Qt skips the painting of an unchanged text by itself.
    quint64 textBuilds = 0;
    KernelDrops::Reported droppedReported;
};
