// The one window: the timecode of every sender in large digits, the download link, and the
// context menu with its commands.
#pragma once

#include "artnet.h"

#include <QList>
#include <QMainWindow>
#include <QString>

class AboutInfo;
class CheckSoftwareUpdate;
class QAction;
class QLCDNumber;
class QLabel;
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
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    friend class MainWindowProbe; // test access to the window's parts

    void buildCentralWidget();
    void closeAboutWindow();
    void createActions();
    void fitTimecodeFont();

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
    QLabel* timecodeLabel = nullptr;
    QLCDNumber* timecodeLcd = nullptr;
    QLabel* rateLabel = nullptr;
    QLCDNumber* rateLcd = nullptr;
    QLabel* sourceLabel = nullptr;
    QLabel* titleLabel = nullptr;
    QLabel* linkLabel = nullptr;
    QVBoxLayout* mainLayout = nullptr;
    QWidget* centralPanel = nullptr;
    // What the last refresh put on show, and the entries read at this one: a refresh that finds
    // them alike has nothing to redo.
    QList<TimecodeSource> shownEntries;
    QList<TimecodeSource> readEntries;
};
