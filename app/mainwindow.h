// The one window: the timecode of every sender in large digits, the download link, and the
// context menu with its commands.
#pragma once

#include "artnet.h"
#include "displayrules.h"
#include "kerneldrops.h"
#include "senderlabel.h"
#include "timecodetext.h"
#include "windowoptions.h"

#include <QFont>
#include <QList>
#include <QMainWindow>
#include <QString>

#include <initializer_list>
#include <optional>

class AboutInfo;
class CheckSoftwareUpdate;
class QAction;
class QLCDNumber;
class QLabel;
class QShortcut;
class QMenu;
class QTimer;
class QVBoxLayout;
class SenderNamer;
class SenderRows;
class artnet;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // The layout as the command line names it; without one, as the setting Layout has it.
    explicit MainWindow(QWidget* parent = nullptr,
                        std::optional<WindowOptions::Layout> layout = std::nullopt);
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
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
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
    void showRows();
    QLCDNumber* addLcd(QWidget* column, int digits, const QString& text);
    void showLcdLines(const QList<TimecodeText::LcdLine>& lines);
    void showLiveness();
    void setTimecodeFloor();
    // The room the window's screen leaves these widgets, stacked, after the rest of the window.
    QSize roomOnScreen(std::initializer_list<const QWidget*> lines) const;
    void fitLcdLinesToScreen();
    void keepOnScreen(bool shrinkToScreen = false);
    // The layouts take the widgets' new minimums, the font is fitted to the room it got, and the
    // window stays on its screen.
    void activateLayouts();
    void placeOnScreen();
    void screenChanged();
    // The frame the window manager draws around the window, as far as it is known.
    QSize frameSize() const;
    // Measures the room on the screen anew once the frame is another than it was measured with.
    void roomMayHaveChanged();
    void toggleFullScreen();

    artnet* artnetNode = nullptr;
    // The node's observer while the window lives: asks senders for their names.
    SenderNamer* senderNamer = nullptr;
    quint64 shownNameChanges = 0; // the table's name changes the address lines show
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
    WindowOptions::Layout displayLayout = WindowOptions::Layout::Blocks;
    QTimer* timecodeTimer = nullptr;
    SenderLabel* timecodeLabel = nullptr;
    QLCDNumber* timecodeLcd = nullptr;
    SenderLabel* rateLabel = nullptr;
    QLCDNumber* rateLcd = nullptr;
    SenderLabel* sourceLabel = nullptr;
    // The rows layout's blocks, instead of the three stacked displays above.
    SenderRows* senderRows = nullptr;
    // The seven-segment variant shows one line of senders per pair of numbers, stacked in two
    // columns: the first pair is timecodeLcd and rateLcd, and how many senders each line holds.
    QWidget* timecodeColumn = nullptr;
    QWidget* rateColumn = nullptr;
    QList<QLCDNumber*> timecodeLcds;
    QList<QLCDNumber*> rateLcds;
    QList<int> lcdLineSenders;
    QLabel* titleLabel = nullptr;
    QLabel* linkLabel = nullptr;
    QVBoxLayout* mainLayout = nullptr;
    QWidget* centralPanel = nullptr;
    // The timecode of each sender the last refresh put on show: a refresh that finds the table
    // alike has nothing to redo.
    QList<TimecodeRecord> shownTimecodes;
    // Which senders are silent, as shown and as read at this refresh, one flag per entry.
    QList<bool> shownSilent;
    QList<bool> readSilent;
    // Which senders have two sources behind them, as shown and as read; and for which of them a
    // line has said so.
    QList<bool> shownTwoSources;
    QList<bool> readTwoSources;
    QList<bool> toldTwoSources;
    // The length of the timecode text the label's minimum size was measured for: another
    // length is another shape (a line more, a field of three digits).
    qsizetype floorTextLength = 0;
    // The floor on the window's screen: below the fixed one only where the screen has no room
    // for every line at that. The addresses' font as the desktop gives it, which they keep
    // unless the floor goes below it.
    int floorPointSize = DisplayRules::kFloorPointSize;
    QFont sourcesFont;
    bool screenWatched = false;
    mutable QSize measuredFrame; // the frame the room on the screen was last measured with
    QShortcut* fullScreenShortcut = nullptr;
    QShortcut* leaveFullScreenShortcut = nullptr;
    // How many refreshes have built the texts: the only trace of a refresh that found nothing
    // new, since Qt skips the painting of an unchanged text by itself.
    quint64 textBuilds = 0;
    KernelDrops::Reported droppedReported;
};
