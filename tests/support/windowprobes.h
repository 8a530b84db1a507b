// Read access to the window's parts for the GUI tests.
#pragma once

#include "mainwindow.h"
#include "senderrows.h"

#include <QLCDNumber>
#include <QLabel>

class MainWindowProbe
{
public:
    static artnet* node(const MainWindow& window) { return window.artnetNode; }
    static QTimer* timer(const MainWindow& window) { return window.timecodeTimer; }
    static quint64 textBuilds(const MainWindow& window) { return window.textBuilds; }
    static SenderLabel* timecodeLabel(const MainWindow& window) { return window.timecodeLabel; }
    static SenderLabel* rateLabel(const MainWindow& window) { return window.rateLabel; }
    static SenderLabel* sourceLabel(const MainWindow& window) { return window.sourceLabel; }
    static SenderRows* senderRows(const MainWindow& window) { return window.senderRows; }
    static QLabel* titleLabel(const MainWindow& window) { return window.titleLabel; }
    static QLabel* linkLabel(const MainWindow& window) { return window.linkLabel; }
    static QMenu* contextMenu(const MainWindow& window) { return window.contextMenu; }
    static AboutInfo* aboutDialog(const MainWindow& window) { return window.aboutDialog; }
    static CheckSoftwareUpdate* updateChecker(const MainWindow& window)
    {
        return window.updateChecker;
    }
    static const QString& updateLink(const MainWindow& window) { return window.updateLink; }
    static const QString& helpLink(const MainWindow& window) { return window.helpLink; }

    // The timecode and the frame rate in whichever variant the window was made with.
    static QWidget* timeWidget(const MainWindow& w)
    {
        return either(w.timecodeLcd, w.timecodeLabel);
    }
    static QWidget* rateWidget(const MainWindow& w) { return either(w.rateLcd, w.rateLabel); }

    // The seven-segment variant's numbers, one pair per line of senders, top to bottom.
    static const QList<QLCDNumber*>& timecodeLcds(const MainWindow& w) { return w.timecodeLcds; }
    static const QList<QLCDNumber*>& rateLcds(const MainWindow& w) { return w.rateLcds; }

private:
    static QWidget* either(QWidget* lcd, QWidget* label) { return lcd ? lcd : label; }
};
