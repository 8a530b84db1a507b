// The update check as the window runs it, against a stand-in for the maker's update service on
// 127.0.0.1: what reaches the service, what the user is told for every kind of answer, for the
// manual check and for the silent start-up check, and what happens when checks overlap with
// each other, with an open message box or with the end of the program.
#include "chronolume_config.h"
#include "mainwindow.h"
#include "popupwatcher.h"
#include "sandbox.h"
#include "updateprobes.h"
#include "updateservice.h"
#include "windowprobes.h"

#include <QElapsedTimer>
#include <QNetworkReply>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

using namespace TestSupport;

using Answers = QList<UpdateService::Answer>;
Q_DECLARE_METATYPE(Answers)

namespace {

QString host()
{
    return QLatin1String(chronolume::kWebHost);
}

QByteArray expectedRequestLine()
{
    return QByteArray("GET http://") + chronolume::kUpdateHost +
           "/update_check.php?software=chronolume HTTP/1.1";
}

// What the boxes say, as PopupWatcher::boxSummaries() writes them.
QString announcement(const QString& version)
{
    return QStringLiteral("information|Update Check|<center>New version ") + version +
           QStringLiteral(" available.</b><br>Download Update here<br><a href=\"http://") + host() +
           QStringLiteral("/update_view.php?software=chronolume&currentversion=1.0.2.0\">") +
           host() + QStringLiteral("</a></center>");
}

const QString kNoUpdates = QStringLiteral("information|Update Check|No updates available.");
const QString kNoConnection =
    QStringLiteral("warning|Update Check|No internet connection for check updates available!");

Answers body(const QByteArray& text)
{
    return {UpdateService::respond({text})};
}

CheckSoftwareUpdate* checkerOf(const MainWindow& window)
{
    return MainWindowProbe::updateChecker(window);
}

// The check that is running has ended, and with it every box it brought: the boxes are shown
// from the reply's own signals, which return only once the watcher has closed them.
bool checkEnded(const MainWindow& window)
{
    const CheckSoftwareUpdate* checker = checkerOf(window);
    if (!checker)
        return false;
    const QNetworkReply* reply = CheckSoftwareUpdateProbe::reply(*checker);
    return reply && reply->isFinished();
}

// As the Search Updates action does it: the slot's form without argument.
void manualCheck(MainWindow& window)
{
    QVERIFY(QMetaObject::invokeMethod(&window, "CheckForSoftwareUpdate"));
}

// "private slot bool CheckForUpdateIntern()": the class's own methods, in table order.
QStringList ownMethods(const QMetaObject& meta)
{
    QStringList result;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        const char* access = method.access() == QMetaMethod::Private ? "private " : "public ";
        const char* kind = method.methodType() == QMetaMethod::Slot ? "slot " : "other ";
        result << QLatin1String(access) + QLatin1String(kind) + QLatin1String(method.typeName()) +
                      QLatin1Char(' ') + QLatin1String(method.methodSignature());
    }
    return result;
}

// The timer of the start-up check, still waiting.
QTimer* startupTimer(const MainWindow& window)
{
    const CheckSoftwareUpdate* checker = checkerOf(window);
    if (!checker)
        return nullptr;
    for (QTimer* timer : CheckSoftwareUpdateProbe::pendingChecks(*checker)) {
        if (timer->interval() == 30000)
            return timer;
    }
    return nullptr;
}

} // namespace

class UpdateCheckTest : public QObject
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

    // The slots by which timers, replies and actions reach the check, as Qt sees them: the
    // window's slot in both forms, the form without argument standing for a reporting check.
    void slotTables()
    {
        QCOMPARE(ownMethods(MainWindow::staticMetaObject),
                 (QStringList{QStringLiteral("private slot void SendTimecodeTimeOut()"),
                              QStringLiteral("private slot void resizeEvent(QResizeEvent*)"),
                              QStringLiteral("private slot void CheckForSoftwareUpdate(bool)"),
                              QStringLiteral("private slot void CheckForSoftwareUpdate()"),
                              QStringLiteral("private slot void Help()"),
                              QStringLiteral("private slot void About()")}));
        QCOMPARE(ownMethods(CheckSoftwareUpdate::staticMetaObject),
                 (QStringList{QStringLiteral("private slot void httpFinished()"),
                              QStringLiteral("private slot void httpReadyRead()"),
                              // qint64 as moc writes it.
                              QStringLiteral(
                                  "private slot void updateDataReadProgress(qlonglong,qlonglong)"),
                              QStringLiteral("private slot bool CheckForUpdateIntern()")}));
        QCOMPARE(CheckSoftwareUpdate::staticMetaObject.className(), "CheckSoftwareUpdate");
        QCOMPARE(CheckSoftwareUpdate::staticMetaObject.propertyCount(),
                 QObject::staticMetaObject.propertyCount());
    }

    void startupCheckWaitsThirtySeconds()
    {
        UpdateService service;
        QVERIFY(service.start());
        service.becomeApplicationProxy();
        service.setAnswers(body("version:1.0.2\n"));
        PopupWatcher watcher;

        MainWindow window;
        CheckSoftwareUpdate* checker = checkerOf(window);
        QVERIFY(checker);
        QVERIFY(!CheckSoftwareUpdateProbe::giveInfoForNoUpdates(*checker));
        const QList<QTimer*> pending = CheckSoftwareUpdateProbe::pendingChecks(*checker);
        QCOMPARE(pending.size(), 1);
        QTimer* timer = pending.first();
        QVERIFY(timer->isSingleShot());
        QCOMPARE(timer->interval(), 30000);
        QVERIFY(timer->remainingTime() > 29000);

        // Nothing is asked before the timer runs out.
        QTest::qWait(50);
        QVERIFY(!CheckSoftwareUpdateProbe::reply(*checker));
        QVERIFY(service.requestLines().isEmpty());

        // Run out early instead of waiting half a minute.
        timer->start(0);
        QTRY_VERIFY(checkEnded(window));
        QCOMPARE(service.requestLines(), QList<QByteArray>{expectedRequestLine()});
        QVERIFY(watcher.boxes().isEmpty());
        // The timer has done its work and is gone.
        QTRY_VERIFY(CheckSoftwareUpdateProbe::pendingChecks(*checker).isEmpty());
    }

    void manualCheckStartsAtOnce()
    {
        UpdateService service;
        QVERIFY(service.start());
        service.becomeApplicationProxy();
        service.setAnswers(body("version:1.0.2\n"));
        PopupWatcher watcher;

        MainWindow window;
        manualCheck(window);
        CheckSoftwareUpdate* checker = checkerOf(window);
        QVERIFY(CheckSoftwareUpdateProbe::giveInfoForNoUpdates(*checker));
        QList<int> intervals;
        for (QTimer* timer : CheckSoftwareUpdateProbe::pendingChecks(*checker))
            intervals << timer->interval();
        std::sort(intervals.begin(), intervals.end());
        QCOMPARE(intervals, (QList<int>{0, 30000}));

        QTRY_VERIFY(checkEnded(window));
        QCOMPARE(service.requestLines(), QList<QByteArray>{expectedRequestLine()});
        QCOMPARE(watcher.boxSummaries(), QStringList{kNoUpdates});
        // The start-up check is still to come.
        QVERIFY(startupTimer(window));
    }

    void manualCheckOutcomes_data()
    {
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<bool>("viaService");
        QTest::addColumn<QStringList>("manualBoxes");
        QTest::addColumn<QStringList>("startupBoxes");

        const QStringList none;
        const QStringList noUpdates{kNoUpdates};
        const QStringList noConnection{kNoConnection};

        QTest::newRow("1.0.3 is announced as 1.0.3.0")
            << body("version:1.0.3\n") << true << QStringList{announcement("1.0.3.0")}
            << QStringList{announcement("1.0.3.0")};
        QTest::newRow("Version: 1.0.2.1")
            << body("Version: 1.0.2.1\n") << true << QStringList{announcement("1.0.2.1")}
            << QStringList{announcement("1.0.2.1")};
        QTest::newRow("1.0.2.0 is ours") << body("version:1.0.2.0\n") << true << noUpdates << none;
        QTest::newRow("1.0.2 is ours") << body("version:1.0.2\n") << true << noUpdates << none;
        QTest::newRow("0.9.9.9 is older") << body("version:0.9.9.9\n") << true << noUpdates << none;
        QTest::newRow("2 is 2.0.0.0")
            << body("version:2\n") << true << QStringList{announcement("2.0.0.0")}
            << QStringList{announcement("2.0.0.0")};
        QTest::newRow("1.x.3 is 1.3.0.0")
            << body("version:1.x.3\n") << true << QStringList{announcement("1.3.0.0")}
            << QStringList{announcement("1.3.0.0")};
        QTest::newRow("1.0.2.0.9 stops after four")
            << body("version:1.0.2.0.9\n") << true << noUpdates << none;
        QTest::newRow("1.0.3 beta is 1.0.0.0")
            << body("version:1.0.3 beta\n") << true << noUpdates << none;
        QTest::newRow("version: alone") << body("version:\n") << true << noUpdates << none;
        QTest::newRow("0.0.0.0") << body("version:0.0.0.0\n") << true << noUpdates << none;
        QTest::newRow("-1.-2") << body("version:-1.-2\n") << true << noUpdates << none;
        QTest::newRow("-1.5 is older") << body("version:-1.5\n") << true << noUpdates << none;
        QTest::newRow("latestversion: 3.0")
            << body("latestversion: 3.0\n") << true << QStringList{announcement("3.0.0.0")}
            << QStringList{announcement("3.0.0.0")};
        QTest::newRow("CRLF line ends")
            << body("software: chronolume\r\nversion:1.0.3\r\nend\r\n") << true
            << QStringList{announcement("1.0.3.0")} << QStringList{announcement("1.0.3.0")};
        QTest::newRow("two lines, the older first")
            << body("version:0.5\nversion:1.1\n") << true << QStringList{announcement("1.1.0.0")}
            << QStringList{announcement("1.1.0.0")};
        QTest::newRow("two newer lines, the first is announced")
            << body("version:1.1\nversion:2.0\n") << true << QStringList{announcement("1.1.0.0")}
            << QStringList{announcement("1.1.0.0")};

        // Each delivery is judged on its own.
        QTest::newRow("two deliveries, the version in the second")
            << Answers{UpdateService::respond({"software: chronolume\n", "version:1.0.3\n"})}
            << true << QStringList{kNoUpdates, announcement("1.0.3.0")}
            << QStringList{announcement("1.0.3.0")};
        QTest::newRow("two deliveries, the version line split between them")
            << Answers{UpdateService::respond({"vers", "ion:1.0.3\n"})} << true
            << QStringList{kNoUpdates, kNoUpdates} << none;
        QTest::newRow("two deliveries, a newer version in each")
            << Answers{UpdateService::respond({"version:1.1\n", "version:2.0\n"})} << true
            << QStringList{announcement("1.1.0.0"), announcement("2.0.0.0")}
            << QStringList{announcement("1.1.0.0"), announcement("2.0.0.0")};

        // The status is not looked at; a body is data.
        QTest::newRow("HTTP error with a newer version")
            << Answers{UpdateService::respond({"version:1.0.3\n"}, 500, "Internal Server Error")}
            << true << QStringList{announcement("1.0.3.0")} << QStringList{announcement("1.0.3.0")};
        QTest::newRow("HTTP error page")
            << Answers{UpdateService::respond({"Not Found\n"}, 404, "Not Found")} << true
            << noUpdates << none;

        // No data at all.
        QTest::newRow("empty answer")
            << Answers{UpdateService::respond({})} << true << noConnection << none;
        QTest::newRow("closed without answering")
            << Answers{UpdateService::closeWithoutAnswer()} << true << noConnection << none;
        QTest::newRow("host unknown") << Answers{} << false << noConnection << none;
    }

    void manualCheckOutcomes()
    {
        QFETCH(Answers, answers);
        QFETCH(bool, viaService);
        QFETCH(QStringList, manualBoxes);

        UpdateService service;
        QVERIFY(service.start());
        service.setAnswers(answers);
        if (viaService)
            service.becomeApplicationProxy();
        PopupWatcher watcher;

        MainWindow window;
        manualCheck(window);
        QTRY_VERIFY(checkEnded(window));
        QCOMPARE(watcher.boxSummaries(), manualBoxes);
        checkBoxes(watcher);
        checkState(window, manualBoxes);
        if (viaService)
            QCOMPARE(service.requestLines().value(0), expectedRequestLine());
        else
            QVERIFY(service.requestLines().isEmpty());
    }

    void startupCheckOutcomes_data() { manualCheckOutcomes_data(); }

    void startupCheckOutcomes()
    {
        QFETCH(Answers, answers);
        QFETCH(bool, viaService);
        QFETCH(QStringList, startupBoxes);

        UpdateService service;
        QVERIFY(service.start());
        service.setAnswers(answers);
        if (viaService)
            service.becomeApplicationProxy();
        PopupWatcher watcher;

        MainWindow window;
        QTimer* timer = startupTimer(window);
        QVERIFY(timer);
        timer->start(0);
        QTRY_VERIFY(checkEnded(window));
        QCOMPARE(watcher.boxSummaries(), startupBoxes);
        checkBoxes(watcher);
        checkState(window, startupBoxes);
        if (viaService)
            QCOMPARE(service.requestLines().value(0), expectedRequestLine());
    }

    // Once asked by hand, the program reports every outcome, the start-up check's too.
    void startupCheckAfterManualCheckReports()
    {
        UpdateService service;
        QVERIFY(service.start());
        service.becomeApplicationProxy();
        service.setAnswers(body("version:1.0.2\n"));
        PopupWatcher watcher;

        MainWindow window;
        manualCheck(window);
        QTRY_VERIFY(checkEnded(window));
        QCOMPARE(watcher.boxSummaries(), QStringList{kNoUpdates});

        QTimer* timer = startupTimer(window);
        QVERIFY(timer);
        timer->start(0);
        QTRY_COMPARE(service.requestLines().size(), 2);
        QTRY_VERIFY(checkEnded(window));
        QCOMPARE(watcher.boxSummaries(), (QStringList{kNoUpdates, kNoUpdates}));
    }

    // The start-up check that starts while the manual check still waits for its answer takes
    // over: one request, one answer, one box.
    void startupCheckTakesOverARunningManualCheck()
    {
        UpdateService service;
        QVERIFY(service.start());
        service.becomeApplicationProxy();
        service.setAnswers({UpdateService::hold(), UpdateService::respond({"version:1.0.2\n"})});
        PopupWatcher watcher;

        MainWindow window;
        manualCheck(window);
        QTRY_COMPARE(service.requestLines().size(), 1);
        QPointer<QNetworkReply> first = CheckSoftwareUpdateProbe::reply(*checkerOf(window));
        QVERIFY(first);

        QTimer* timer = startupTimer(window);
        QVERIFY(timer);
        timer->start(0);
        QTRY_COMPARE(service.requestLines().size(), 2);
        QTRY_VERIFY(checkEnded(window));
        QCOMPARE(watcher.boxSummaries(), QStringList{kNoUpdates});
        QTRY_COMPARE(service.connectionsClosedByClient(), 1);
        QTRY_VERIFY(first.isNull());
    }

    // What the replaced request received says nothing about the new one.
    void newRequestStartsWithoutData()
    {
        UpdateService service;
        QVERIFY(service.start());
        service.becomeApplicationProxy();
        service.setAnswers({UpdateService::respondThenHold({"software: chronolume\n"}),
                            UpdateService::closeWithoutAnswer()});
        PopupWatcher watcher;

        MainWindow window;
        manualCheck(window);
        QTRY_COMPARE(watcher.boxSummaries(), QStringList{kNoUpdates});
        QVERIFY(!checkEnded(window));
        manualCheck(window);
        QTRY_COMPARE(service.connectionsClosedByClient(), 1);
        QTRY_VERIFY(checkEnded(window));
        QCOMPARE(watcher.boxSummaries(), (QStringList{kNoUpdates, kNoConnection}));
    }

    void twoQuickManualChecksShowOneBox_data()
    {
        QTest::addColumn<bool>("firstStillWaiting");
        QTest::newRow("back to back") << false;
        QTest::newRow("the first still waiting for its answer") << true;
    }

    void twoQuickManualChecksShowOneBox()
    {
        QFETCH(bool, firstStillWaiting);

        UpdateService service;
        QVERIFY(service.start());
        service.becomeApplicationProxy();
        if (firstStillWaiting)
            service.setAnswers({UpdateService::hold(), UpdateService::respond({"version:1.0.3"})});
        else
            service.setAnswers(body("version:1.0.3"));
        PopupWatcher watcher;

        MainWindow window;
        QPointer<QNetworkReply> first;
        manualCheck(window);
        if (firstStillWaiting) {
            QTRY_COMPARE(service.requestLines().size(), 1);
            first = CheckSoftwareUpdateProbe::reply(*checkerOf(window));
            QVERIFY(first);
        }
        manualCheck(window);
        QTRY_VERIFY(checkEnded(window));
        // The first request was cancelled by the program itself: nothing to tell the user.
        QCOMPARE(watcher.boxSummaries(), QStringList{announcement("1.0.3.0")});
        if (firstStillWaiting) {
            QCOMPARE(service.requestLines().size(), 2);
            QTRY_COMPARE(service.connectionsClosedByClient(), 1);
            QTRY_VERIFY(first.isNull());
        }
    }

    // A box shown from the reply's readyRead runs its own event loop; a check that starts in
    // there replaces the very reply whose handler is still on the stack.
    void checkWhileABoxIsOpen_data()
    {
        QTest::addColumn<bool>("byStartupTimer");
        QTest::newRow("start-up check runs out") << true;
        QTest::newRow("manual check") << false;
    }

    void checkWhileABoxIsOpen()
    {
        QFETCH(bool, byStartupTimer);

        UpdateService service;
        QVERIFY(service.start());
        service.becomeApplicationProxy();
        service.setAnswers({UpdateService::respond({"version:1.0.3\n"}),
                            UpdateService::respond({"version:1.0.4\n"})});
        PopupWatcher watcher;

        MainWindow window;
        QTimer* timer = startupTimer(window);
        QVERIFY(timer);
        QPointer<QNetworkReply> first;
        bool secondStarted = false;
        bool firstAliveAtClose = false;
        QElapsedTimer holding;
        watcher.holdBox = [&](int index, QMessageBox*) {
            if (index != 0)
                return false;
            if (!secondStarted) {
                secondStarted = true;
                first = CheckSoftwareUpdateProbe::reply(*checkerOf(window));
                holding.start();
                if (byStartupTimer)
                    timer->start(0);
                else
                    QMetaObject::invokeMethod(&window, "CheckForSoftwareUpdate");
            }
            // Open until the second answer has been shown and closed.
            const bool keepOpen = watcher.boxes().size() < 2 && holding.elapsed() < 5000;
            if (!keepOpen)
                firstAliveAtClose = !first.isNull();
            return keepOpen;
        };

        manualCheck(window);
        QTRY_COMPARE(watcher.boxes().size(), 2);
        QTRY_VERIFY(checkEnded(window));
        QCOMPARE(watcher.boxSummaries(),
                 (QStringList{announcement("1.0.3.0"), announcement("1.0.4.0")}));
        QCOMPARE(service.requestLines().size(), 2);
        // The replaced reply outlives the handler that its signal is still running (its box),
        // and is released once that handler has returned.
        QVERIFY(secondStarted);
        QVERIFY(firstAliveAtClose);
        QTRY_VERIFY(first.isNull());
        QCOMPARE(CheckSoftwareUpdateProbe::retiredReplies(*checkerOf(window)), 0);
    }

    void closingTheProgramDuringACheckShowsNoBox()
    {
        UpdateService service;
        QVERIFY(service.start());
        service.becomeApplicationProxy();
        service.setAnswers({UpdateService::hold()});
        PopupWatcher watcher;

        auto window = std::make_unique<MainWindow>();
        manualCheck(*window);
        QTRY_COMPARE(service.requestLines().size(), 1);
        window.reset();
        // The request is cancelled, and nobody is told about it.
        QVERIFY(watcher.boxes().isEmpty());
        QTRY_COMPARE(service.connectionsClosedByClient(), 1);
        QVERIFY(watcher.boxes().isEmpty());
    }

private:
    // After the end of a request: ready for the next one, and a found release remembered.
    void checkState(const MainWindow& window, const QStringList& boxes)
    {
        const CheckSoftwareUpdate* checker = checkerOf(window);
        QVERIFY(!CheckSoftwareUpdateProbe::dataReceived(*checker));
        const bool announced = std::any_of(boxes.begin(), boxes.end(), [](const QString& box) {
            return box.startsWith(QStringLiteral("information|Update Check|<center>New version"));
        });
        QCOMPARE(CheckSoftwareUpdateProbe::updateFound(*checker), announced);
    }

    // Every box of the update check stands alone, application-modal, with one Ok button.
    void checkBoxes(const PopupWatcher& watcher)
    {
        for (const PopupWatcher::Box& box : watcher.boxes()) {
            QVERIFY(!box.parent);
            QVERIFY(box.modal);
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
    }
};

QTEST_MAIN(UpdateCheckTest)
#include "tst_updatecheck.moc"
