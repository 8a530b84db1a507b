// The window's commands: the context menu with its five actions and their shortcuts, the help
// box, the About window as the window handles it, and the download link.
#include "aboutinfo.h"
#include "aboutprobes.h"
#include "chronolume_config.h"
#include "programfixture.h"
#include "sandbox.h"
#include "settingsstore.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

using namespace TestSupport;

namespace {

QString anchor(const QString& pathAndQuery)
{
    return QStringLiteral("<a href=\"http://%1%2\">%1</a>")
        .arg(QLatin1String(chronolume::kWebHost), pathAndQuery);
}

// As the right mouse button does; returns once the watcher has closed the menu again.
QList<QAction*> openContextMenu(MainWindow& window)
{
    const QPoint where(10, 10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, where, window.mapToGlobal(where));
    QApplication::sendEvent(&window, &event);
    QMenu* menu = MainWindowProbe::contextMenu(window);
    return menu ? menu->actions() : QList<QAction*>();
}

struct QuitCounter : QObject
{
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        count += watched == qApp && event->type() == QEvent::Quit;
        return false;
    }
    int count = 0;
};

// Runs body inside the application's event loop, where quit() has something to end, and counts
// the requests to quit made meanwhile.
int quitsDuring(const std::function<void()>& body)
{
    QuitCounter counter;
    qApp->installEventFilter(&counter);
    QTimer::singleShot(0, qApp, [&body] {
        body();
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
    return counter.count;
}

} // namespace

class MenuTest : public QObject
{
    Q_OBJECT

    SettingsStore settings;

private slots:
    void initTestCase() { QVERIFY(settings.isValid()); }
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    void actions()
    {
        PopupWatcher watcher;
        MainWindow window;
        QStringList described;
        QList<QImage> pictures;
        for (QAction* action : openContextMenu(window)) {
            described << QStringList{action->text(), action->shortcut().toString(),
                                     action->statusTip(), action->toolTip()}
                             .join(QLatin1Char('|'));
            pictures << action->icon()
                            .pixmap(QSize(32, 32))
                            .toImage()
                            .convertToFormat(QImage::Format_ARGB32);
        }
        // Quit has a tool tip instead of a status tip; only the first two have pictures.
        QCOMPARE(described,
                 QStringList({"Search Updates|Ctrl+U|Check for newer software of Lumenpane|"
                              "Search Updates",
                              "Help|F1|open help dialog|Help", "About||open about dialog|About",
                              "About Qt||open Qt about dialog|About Qt",
                              "Quit|Ctrl+Q||Quit Lumenpane"}));
        const auto file = [](const char* path) {
            return QImage(QLatin1String(path)).convertToFormat(QImage::Format_ARGB32);
        };
        QCOMPARE(pictures,
                 QList<QImage>({file(":/images/check_update.xpm"), file(":/images/helpHelp.xpm")}) +
                     QList<QImage>(3));
    }

    // The actions are made with the menu: until it was first opened, the keys do nothing.
    void shortcutsActOnlyOnceTheMenuWasOpened_data()
    {
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<int>("quits");
        QTest::addColumn<QList<QByteArray>>("requests"); // that reach the update service

        QTest::newRow("F1 shows help")
            << QKeySequence(Qt::Key_F1)
            << QStringList{QStringLiteral("information|Help Chronolume|<b>Help</b><br>Please use "
                                          "online help on website<br>") +
                           anchor(QStringLiteral(
                               "/help.php?software=chronolume&currentversion=1.0.2.0"))}
            << 0 << QList<QByteArray>();
        // A check that reports even that there is nothing new.
        QTest::newRow("Ctrl+U searches updates")
            << QKeySequence(Qt::CTRL | Qt::Key_U)
            << QStringList{QStringLiteral("information|Update Check|No updates available.")} << 0
            << QList<QByteArray>{kUpdateCheckRequestLine};
        QTest::newRow("Ctrl+Q quits")
            << QKeySequence(Qt::CTRL | Qt::Key_Q) << QStringList() << 1 << QList<QByteArray>();
    }

    void shortcutsActOnlyOnceTheMenuWasOpened()
    {
        QFETCH(QKeySequence, keys);
        QFETCH(QStringList, boxes);
        QFETCH(int, quits);
        QFETCH(QList<QByteArray>, requests);

        Program program({{{"version:1.0.2\n"}}});
        MainWindow& window = program.window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        // Whatever a command does starts within the key press: a box is shown and closed, a quit
        // is asked for, a check is armed. Only the start-up check waits, half a minute away.
        QCOMPARE(quitsDuring([&] { QTest::keySequence(&window, keys); }), 0);
        QCOMPARE(program.watcher.boxes, QStringList());
        QCOMPARE(CheckSoftwareUpdateProbe::pendingChecks(program.checker()).size(), 1);
        QVERIFY(!CheckSoftwareUpdateProbe::reply(program.checker()));

        openContextMenu(window);
        QCOMPARE(quitsDuring([&] { QTest::keySequence(&window, keys); }), quits);
        // A check's box follows the service's answer: by then its request has arrived.
        QTRY_COMPARE(program.watcher.boxes, boxes);
        QCOMPARE(program.service.requestLines, requests);
    }

    void aboutShowsOneWindowThatGoesWithTheMainWindow()
    {
        PopupWatcher watcher;
        MainWindow window;
        window.show();
        QAction* about = openContextMenu(window).value(2);
        QVERIFY(about);
        about->trigger();
        const QPointer<AboutInfo> shown = MainWindowProbe::aboutDialog(window);
        QVERIFY(shown);
        about->trigger();
        QCOMPARE(MainWindowProbe::aboutDialog(window), shown.data());
        QVERIFY(QTest::qWaitForWindowExposed(shown));

        // Ok only hides it; About shows the same window again.
        QTest::mouseClick(AboutInfoProbe::okButton(*shown), Qt::LeftButton);
        QVERIFY(shown && !shown->isVisible());
        about->trigger();
        QVERIFY(shown && shown->isVisible());

        // Left standing, it would keep the program alive after its last main window closed.
        QVERIFY(window.close());
        QVERIFY(shown.isNull());
    }

    void downloadLink()
    {
        MainWindow window;
        const QLabel* label = MainWindowProbe::linkLabel(window);
        // Its own capitalisation, and major and minor only.
        QCOMPARE(label->text(),
                 anchor(QStringLiteral(
                     "/software/download/?Software=Chronolume&CurrentVersion=1.0.0.0")));
        QCOMPARE(label->toolTip(), QStringLiteral("Visit homepage for download updates and help."));
        QVERIFY(label->openExternalLinks());
    }
};

QTEST_MAIN(MenuTest)
#include "tst_menu.moc"
