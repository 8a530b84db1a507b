// The context menu with its actions, the help box, the About window and the update check.
#include "mainwindow.h"

#include "aboutinfo.h"
#include "checksoftwareupdate.h"
#include "chronolume_config.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>

namespace {

// Silent at start-up, so the program does not reach for the network the moment it opens.
constexpr int kStartupCheckDelaySeconds = 30;

QIcon iconFrom(const char* resourcePath)
{
    return QIcon(QPixmap(QLatin1String(resourcePath)));
}

} // namespace

void MainWindow::createActions()
{
    searchUpdatesAction = new QAction(tr("Search Updates"), this);
    if (searchUpdatesAction) {
        searchUpdatesAction->setShortcut(QKeySequence(tr("Ctrl+U")));
        searchUpdatesAction->setStatusTip(tr("Check for newer software of Lumenpane"));
        searchUpdatesAction->setIcon(iconFrom(":/images/check_update.xpm"));
        // triggered(bool) carries "checked", which must not become the reporting flag: a
        // manual check always reports.
        connect(searchUpdatesAction, &QAction::triggered, this,
                [this] { CheckForSoftwareUpdate(); });
    }
    helpAction = new QAction(tr("Help"), this);
    if (helpAction) {
        helpAction->setShortcut(QKeySequence(tr("F1")));
        helpAction->setStatusTip(tr("open help dialog"));
        helpAction->setIcon(iconFrom(":/images/helpHelp.xpm"));
        connect(helpAction, &QAction::triggered, this, &MainWindow::Help);
    }
    aboutAction = new QAction(tr("About"), this);
    if (aboutAction) {
        aboutAction->setStatusTip(tr("open about dialog"));
        connect(aboutAction, &QAction::triggered, this, &MainWindow::About);
    }
    aboutQtAction = new QAction(tr("About Qt"), this);
    if (aboutQtAction) {
        aboutQtAction->setStatusTip(tr("open Qt about dialog"));
        connect(aboutQtAction, &QAction::triggered, qApp, &QApplication::aboutQt);
    }
    quitAction = new QAction(tr("Quit"), this);
    if (quitAction) {
        quitAction->setShortcut(QKeySequence(tr("Ctrl+Q")));
        quitAction->setToolTip(tr("Quit Lumenpane"));
        connect(quitAction, &QAction::triggered, qApp, &QCoreApplication::quit);
    }
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event)
{
    if (!event)
        return;
    if (!contextMenu) {
        createActions();
        contextMenu = new QMenu(this);
        QAction* const actions[] = {searchUpdatesAction, helpAction, aboutAction, aboutQtAction,
                                    quitAction};
        for (QAction* action : actions) {
            if (!action)
                continue;
            if (contextMenu)
                contextMenu->addAction(action);
            // On the window too, so the shortcuts work while the menu is closed.
            addAction(action);
        }
    }
    if (contextMenu)
        contextMenu->exec(event->globalPos());
}

void MainWindow::Help()
{
    const QString text = tr("<b>Help</b><br>Please use online help on website<br>%1").arg(helpLink);
    QMessageBox::information(this, tr("Help Chronolume"), text, QMessageBox::Ok,
                             QMessageBox::NoButton);
}

void MainWindow::About()
{
    if (!aboutDialog)
        aboutDialog = new AboutInfo(QStringLiteral(":/images/chronolume.png"), nullptr);
    if (aboutDialog) {
        aboutDialog->show();
        // Shown again from behind other windows, the user expects it in front.
        aboutDialog->raise();
        aboutDialog->activateWindow();
    }
}

void MainWindow::CheckForSoftwareUpdate(bool GiveInfoForNoUpdates)
{
    if (!updateChecker)
        updateChecker = new CheckSoftwareUpdate;
    if (!updateChecker)
        return;
    // A manual check turns reporting on for good; the start-up check leaves it as it is.
    if (GiveInfoForNoUpdates)
        updateChecker->setGiveInfoForNoUpdates(true);

    updateChecker->setInfoText(
        tr("<center>New version %1 available.</b><br>Download Update here<br>%2</center>")
            .arg(QLatin1String(CheckSoftwareUpdate::kVersionMarker))
            .arg(updateLink));
    updateChecker->setOwnVersion(chronolume::kVersionMajor, chronolume::kVersionMinor,
                                 chronolume::kVersionPatch, chronolume::kVersionBuild);
    updateChecker->startCheck(QStringLiteral("http://") + QLatin1String(chronolume::kUpdateHost) +
                                  QStringLiteral("/update_check.php?software=chronolume"),
                              GiveInfoForNoUpdates ? 0 : kStartupCheckDelaySeconds);
}
