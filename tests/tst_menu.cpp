// The window's commands: the context menu with its five actions, their shortcuts, the help box,
// the About window as the window handles it, and the web links.
#include "aboutinfo.h"
#include "aboutprobes.h"
#include "chronolume_config.h"
#include "mainwindow.h"
#include "popupwatcher.h"
#include "sandbox.h"
#include "updateprobes.h"
#include "updateservice.h"
#include "urlcatcher.h"
#include "windowprobes.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

using namespace TestSupport;

namespace {

QString host()
{
    return QLatin1String(chronolume::kWebHost);
}

QString anchor(const QString& pathAndQuery)
{
    return QStringLiteral("<a href=\"http://") + host() + pathAndQuery + QStringLiteral("\">") +
           host() + QStringLiteral("</a>");
}

QString helpBox()
{
    return QStringLiteral("information|Help Chronolume|<b>Help</b><br>Please use online help on "
                          "website<br>") +
           anchor(QStringLiteral("/help.php?software=chronolume&currentversion=1.0.2.0"));
}

const QString kNoUpdates = QStringLiteral("information|Update Check|No updates available.");

// Counts the application's requests to quit; they are let through.
class QuitSpy : public QObject
{
public:
    QuitSpy() { qApp->installEventFilter(this); }
    ~QuitSpy() override { qApp->removeEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == qApp && event->type() == QEvent::Quit)
            ++count;
        return false;
    }
};

// Runs body inside the application's own event loop, where the program runs: only there does
// quit() have something to end.
void runInEventLoop(const std::function<void()>& body)
{
    QTimer::singleShot(0, qApp, [&body] {
        body();
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
}

// As the right mouse button does; returns once the watcher has closed the menu again.
void openContextMenu(MainWindow& window, const QPoint& where = QPoint(10, 10))
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, where, window.mapToGlobal(where));
    QApplication::sendEvent(&window, &event);
}

QAction* actionNamed(const MainWindow& window, const QString& text)
{
    for (QAction* action : window.actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

QList<AboutInfo*> aboutWindows()
{
    QList<AboutInfo*> result;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* about = qobject_cast<AboutInfo*>(widget))
            result.append(about);
    }
    return result;
}

} // namespace

class MenuTest : public QObject
{
    Q_OBJECT

    QTemporaryDir configDir;

private slots:
    void initTestCase()
    {
        QVERIFY(configDir.isValid());
        // The per-user settings store of this test run, not the user's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configDir.path());
    }

    void init() { REQUIRE_PRIVATE_NETWORK(); }

    void menuIsMadeOnTheFirstRequest()
    {
        PopupWatcher watcher;
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!MainWindowProbe::contextMenu(window));
        QVERIFY(window.actions().isEmpty());

        const QPoint where(10, 10);
        openContextMenu(window, where);
        QCOMPARE(watcher.menus().size(), 1);
        QMenu* menu = MainWindowProbe::contextMenu(window);
        QVERIFY(menu);
        QCOMPARE(watcher.menus().first().menu, menu);
        QCOMPARE(menu->parent(), &window);
        // At the pointer, nothing chosen in advance.
        QCOMPARE(watcher.menus().first().position, window.mapToGlobal(where));
        QVERIFY(!watcher.menus().first().itemActive);
        QVERIFY(!menu->isVisible());

        QStringList texts;
        for (QAction* action : menu->actions())
            texts << action->text();
        QCOMPARE(texts, (QStringList{QStringLiteral("Search Updates"), QStringLiteral("Help"),
                                     QStringLiteral("About"), QStringLiteral("About Qt"),
                                     QStringLiteral("Quit")}));
        // The same actions on the window, for the shortcuts; all of them the window's.
        QCOMPARE(window.actions(), menu->actions());
        for (QAction* action : menu->actions())
            QCOMPARE(action->parent(), &window);

        // Later requests reuse the menu and add nothing.
        const QPoint elsewhere(40, 30);
        openContextMenu(window, elsewhere);
        QCOMPARE(watcher.menus().size(), 2);
        QCOMPARE(watcher.menus().last().menu, menu);
        QCOMPARE(watcher.menus().last().position, window.mapToGlobal(elsewhere));
        QCOMPARE(MainWindowProbe::contextMenu(window), menu);
        QCOMPARE(window.actions().size(), 5);
        QCOMPARE(menu->actions().size(), 5);
    }

    void actions_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QKeySequence>("shortcut");
        QTest::addColumn<QString>("statusTip");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QString>("icon");

        QTest::newRow("Search Updates")
            << QStringLiteral("Search Updates") << QKeySequence(Qt::CTRL | Qt::Key_U)
            << QStringLiteral("Check for newer software of Lumenpane")
            << QStringLiteral("Search Updates") << QStringLiteral(":/images/check_update.xpm");
        QTest::newRow("Help") << QStringLiteral("Help") << QKeySequence(Qt::Key_F1)
                              << QStringLiteral("open help dialog") << QStringLiteral("Help")
                              << QStringLiteral(":/images/helpHelp.xpm");
        QTest::newRow("About") << QStringLiteral("About") << QKeySequence()
                               << QStringLiteral("open about dialog") << QStringLiteral("About")
                               << QString();
        QTest::newRow("About Qt") << QStringLiteral("About Qt") << QKeySequence()
                                  << QStringLiteral("open Qt about dialog")
                                  << QStringLiteral("About Qt") << QString();
        // A tool tip, not a status tip; no picture.
        QTest::newRow("Quit") << QStringLiteral("Quit") << QKeySequence(Qt::CTRL | Qt::Key_Q)
                              << QString() << QStringLiteral("Quit Lumenpane") << QString();
    }

    void actions()
    {
        QFETCH(QString, text);
        QFETCH(QKeySequence, shortcut);
        QFETCH(QString, statusTip);
        QFETCH(QString, toolTip);
        QFETCH(QString, icon);

        PopupWatcher watcher;
        MainWindow window;
        openContextMenu(window);
        QAction* action = actionNamed(window, text);
        QVERIFY(action);
        QCOMPARE(action->shortcut(), shortcut);
        QCOMPARE(action->shortcuts().size(), shortcut.isEmpty() ? 0 : 1);
        QCOMPARE(action->statusTip(), statusTip);
        QCOMPARE(action->toolTip(), toolTip);
        if (icon.isEmpty()) {
            QVERIFY(action->icon().isNull());
        } else {
            QVERIFY(!action->icon().isNull());
            const QImage expected = QImage(icon).convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(action->icon()
                         .pixmap(QSize(32, 32))
                         .toImage()
                         .convertToFormat(QImage::Format_ARGB32),
                     expected);
        }
    }

    // Choosing each item with the mouse.
    void chosenItemActs_data()
    {
        QTest::addColumn<QString>("item");
        QTest::newRow("Search Updates") << QStringLiteral("Search Updates");
        QTest::newRow("Help") << QStringLiteral("Help");
        QTest::newRow("About") << QStringLiteral("About");
        QTest::newRow("About Qt") << QStringLiteral("About Qt");
        QTest::newRow("Quit") << QStringLiteral("Quit");
    }

    void chosenItemActs()
    {
        QFETCH(QString, item);

        UpdateService service;
        QVERIFY(service.start());
        service.becomeApplicationProxy();
        service.setAnswers({UpdateService::respond({"version:1.0.2\n"})});
        PopupWatcher watcher;
        QuitSpy quits;
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        bool chosen = false;
        watcher.onMenu = [&](QMenu* menu) {
            for (QAction* action : menu->actions()) {
                if (action->text() == item) {
                    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                                      menu->actionGeometry(action).center());
                    chosen = true;
                }
            }
        };
        runInEventLoop([&] {
            openContextMenu(window);
            QVERIFY(chosen);
            if (item == QLatin1String("Search Updates")) {
                // A check that reports even that there is nothing new.
                QTRY_COMPARE(watcher.boxSummaries(), QStringList{kNoUpdates});
                QCOMPARE(service.requestLines().size(), 1);
            } else if (item == QLatin1String("Help")) {
                QCOMPARE(watcher.boxSummaries(), QStringList{helpBox()});
            } else if (item == QLatin1String("About")) {
                QVERIFY(MainWindowProbe::aboutDialog(window));
                QVERIFY(MainWindowProbe::aboutDialog(window)->isVisible());
            } else if (item == QLatin1String("About Qt")) {
                QCOMPARE(watcher.boxes().size(), 1);
                QCOMPARE(watcher.boxes().first().title, QStringLiteral("About Qt"));
            }
        });
        QCOMPARE(quits.count, item == QLatin1String("Quit") ? 1 : 0);
        if (item != QLatin1String("Search Updates"))
            QVERIFY(service.requestLines().isEmpty());
        if (item != QLatin1String("About"))
            QVERIFY(!MainWindowProbe::aboutDialog(window));
    }

    // Until the menu has been made the shortcuts have no actions behind them.
    void shortcutsActOnlyOnceTheMenuWasOpened_data()
    {
        QTest::addColumn<QKeySequence>("keys");
        QTest::newRow("F1 shows help") << QKeySequence(Qt::Key_F1);
        QTest::newRow("Ctrl+U searches updates") << QKeySequence(Qt::CTRL | Qt::Key_U);
        QTest::newRow("Ctrl+Q quits") << QKeySequence(Qt::CTRL | Qt::Key_Q);
    }

    void shortcutsActOnlyOnceTheMenuWasOpened()
    {
        QFETCH(QKeySequence, keys);
        const Qt::Key key = keys[0].key();
        const Qt::KeyboardModifiers modifiers = keys[0].keyboardModifiers();

        UpdateService service;
        QVERIFY(service.start());
        service.becomeApplicationProxy();
        service.setAnswers({UpdateService::respond({"version:1.0.2\n"})});
        PopupWatcher watcher;
        QuitSpy quits;
        MainWindow window;
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        CheckSoftwareUpdate* checker = MainWindowProbe::updateChecker(window);
        QVERIFY(checker);

        runInEventLoop([&] {
            QTest::keyClick(&window, key, modifiers);
            // Each command acts at once: a box runs its loop, quit() and a check's request are
            // asked for before the key press returns.
            QCOMPARE(CheckSoftwareUpdateProbe::pendingChecks(*checker).size(), 1);
        });
        QCOMPARE(quits.count, 0);
        QVERIFY(watcher.boxes().isEmpty());
        QVERIFY(!CheckSoftwareUpdateProbe::giveInfoForNoUpdates(*checker));
        QVERIFY(service.requestLines().isEmpty());
        QVERIFY(window.isVisible());

        openContextMenu(window);
        // The closed popup leaves no window active on this platform; a user clicks back in.
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        runInEventLoop([&] {
            QTest::keyClick(&window, key, modifiers);
            if (key == Qt::Key_U)
                QTRY_COMPARE(watcher.boxSummaries(), QStringList{kNoUpdates});
        });
        if (key == Qt::Key_F1) {
            QCOMPARE(watcher.boxSummaries(), QStringList{helpBox()});
            QCOMPARE(watcher.boxes().first().parent, &window);
            QVERIFY(watcher.boxes().first().modal);
            QCOMPARE(watcher.boxes().first().buttons,
                     QMessageBox::StandardButtons(QMessageBox::Ok));
        }
        if (key == Qt::Key_U)
            QCOMPARE(service.requestLines().size(), 1);
        QCOMPARE(quits.count, key == Qt::Key_Q ? 1 : 0);
        // Quitting closes the window.
        QCOMPARE(window.isVisible(), key != Qt::Key_Q);
    }

    void aboutShowsOneWindow()
    {
        PopupWatcher watcher;
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        openContextMenu(window);
        QAction* about = actionNamed(window, QStringLiteral("About"));
        QVERIFY(about);
        QVERIFY(aboutWindows().isEmpty());

        about->trigger();
        QPointer<AboutInfo> shown = MainWindowProbe::aboutDialog(window);
        QVERIFY(shown);
        QVERIFY(shown->isVisible());
        QVERIFY(shown->isWindow());
        QVERIFY(!shown->parentWidget());
        QVERIFY(!shown->isModal());
        about->trigger();
        QCOMPARE(MainWindowProbe::aboutDialog(window), shown.data());
        QCOMPARE(aboutWindows(), QList<AboutInfo*>{shown.data()});
        QVERIFY(QTest::qWaitForWindowExposed(shown));

        // Its icon is the program's.
        QCOMPARE(shown->windowIcon()
                     .pixmap(QSize(128, 128))
                     .toImage()
                     .convertToFormat(QImage::Format_ARGB32),
                 QImage(QStringLiteral(":/images/chronolume.png"))
                     .convertToFormat(QImage::Format_ARGB32));

        // Ok hides it; About brings the same window back.
        QTest::mouseClick(AboutInfoProbe::okButton(*shown), Qt::LeftButton);
        QVERIFY(shown);
        QVERIFY(!shown->isVisible());
        about->trigger();
        QCOMPARE(MainWindowProbe::aboutDialog(window), shown.data());
        QVERIFY(shown->isVisible());
        QCOMPARE(aboutWindows().size(), 1);
    }

    void aboutWindowGoesWithTheMainWindow_data()
    {
        QTest::addColumn<bool>("closeFirst");
        QTest::newRow("main window closed") << true;
        QTest::newRow("main window destroyed") << false;
    }

    void aboutWindowGoesWithTheMainWindow()
    {
        QFETCH(bool, closeFirst);

        PopupWatcher watcher;
        QuitSpy quits;
        auto window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY(QMetaObject::invokeMethod(window.get(), "About"));
        QPointer<AboutInfo> about = MainWindowProbe::aboutDialog(*window);
        QVERIFY(about);
        QVERIFY(QTest::qWaitForWindowExposed(about));

        if (closeFirst) {
            // As the program runs: closing its last window ends it, and no About window is
            // left standing to keep it alive.
            runInEventLoop([&] {
                QVERIFY(window->close());
                QVERIFY(about.isNull());
                QVERIFY(!MainWindowProbe::aboutDialog(*window));
                QTRY_COMPARE(quits.count, 1);
            });
            QVERIFY(!window->isVisible());
        }
        window.reset();
        QVERIFY(about.isNull());
        QVERIFY(aboutWindows().isEmpty());
    }

    void links_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("expected");

        QTest::newRow("update")
            << QStringLiteral("update")
            << anchor(
                   QStringLiteral("/update_view.php?software=chronolume&currentversion=1.0.2.0"));
        QTest::newRow("help") << QStringLiteral("help")
                              << anchor(QStringLiteral(
                                     "/help.php?software=chronolume&currentversion=1.0.2.0"));
        // Its own capitalisation, and major and minor only.
        QTest::newRow("download")
            << QStringLiteral("download")
            << anchor(QStringLiteral(
                   "/software/download/?Software=Chronolume&CurrentVersion=1.0.0.0"));
    }

    void links()
    {
        QFETCH(QString, link);
        QFETCH(QString, expected);

        MainWindow window;
        if (link == QLatin1String("update"))
            QCOMPARE(MainWindowProbe::updateLink(window), expected);
        else if (link == QLatin1String("help"))
            QCOMPARE(MainWindowProbe::helpLink(window), expected);
        else
            QCOMPARE(MainWindowProbe::linkLabel(window)->text(), expected);
    }

    void downloadLinkLabel()
    {
        UrlCatcher catcher;
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QLabel* label = MainWindowProbe::linkLabel(window);
        QCOMPARE(label->toolTip(), QStringLiteral("Visit homepage for download updates and help."));
        QVERIFY(label->openExternalLinks());
        QCOMPARE(label->alignment(), Qt::AlignCenter);
        QVERIFY(Qt::mightBeRichText(label->text()));
        QCOMPARE(catcher.clickEveryLink(label),
                 QList<QUrl>{QUrl(QStringLiteral("http://") + host() +
                                  QStringLiteral("/software/download/"
                                                 "?Software=Chronolume&CurrentVersion=1.0.0.0"))});
    }

    void windowIcon()
    {
        MainWindow window;
        QVERIFY(window.testAttribute(Qt::WA_SetWindowIcon));
        QCOMPARE(window.windowIcon()
                     .pixmap(QSize(128, 128))
                     .toImage()
                     .convertToFormat(QImage::Format_ARGB32),
                 QImage(QStringLiteral(":/images/chronolume.png"))
                     .convertToFormat(QImage::Format_ARGB32));
    }
};

QTEST_MAIN(MenuTest)
#include "tst_menu.moc"
