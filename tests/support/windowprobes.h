// Read access to the window's parts for the GUI tests.
#pragma once

#include "mainwindow.h"

class MainWindowProbe
{
public:
    static artnet* node(const MainWindow& window) { return window.artnetNode; }
    static bool useLcd(const MainWindow& window) { return window.useLcd; }
    static QTimer* timer(const MainWindow& window) { return window.timecodeTimer; }
    static QLabel* timecodeLabel(const MainWindow& window) { return window.timecodeLabel; }
    static QLCDNumber* timecodeLcd(const MainWindow& window) { return window.timecodeLcd; }
    static QLabel* rateLabel(const MainWindow& window) { return window.rateLabel; }
    static QLCDNumber* rateLcd(const MainWindow& window) { return window.rateLcd; }
    static QLabel* sourceLabel(const MainWindow& window) { return window.sourceLabel; }
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
};
