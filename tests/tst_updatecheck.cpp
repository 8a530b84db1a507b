// The update check as the window runs it, against a stand-in for the maker's update service:
// what reaches the service, what the user is told for each kind of answer, and checks that
// overlap with each other, with an open message box or with the end of the program.
#include "chronolume_config.h"
#include "programfixture.h"
#include "sandbox.h"
#include "settingsstore.h"

#include <QPointer>
#include <QtTest>

#include <memory>

using namespace TestSupport;

using Answers = QList<UpdateService::Answer>;
Q_DECLARE_METATYPE(Answers)

namespace {

const QString kNoUpdates = QStringLiteral("information|Update Check|No updates available.");
const QString kNoConnection =
    QStringLiteral("warning|Update Check|No internet connection for check updates available!");

// The box as PopupWatcher writes it, with the update page's link.
QString announcement(const char* version)
{
    const QString host = QLatin1String(chronolume::kWebHost);
    return QStringLiteral("information|Update Check|<center>New version %1 available.</b><br>"
                          "Download Update here<br><a href=\"http://%2/update_view.php?"
                          "software=chronolume&currentversion=1.0.2.0\">%2</a></center>")
        .arg(QLatin1String(version), host);
}

Answers body(const QList<QByteArray>& parts, int status = 200, bool endless = false)
{
    return {{parts, status, endless}};
}

} // namespace

class UpdateCheckTest : public QObject
{
    Q_OBJECT

    SettingsStore settings;

private slots:
    void initTestCase() { QVERIFY(settings.isValid()); }
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    void outcomes_data()
    {
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<int>("manual"); // checks asked for by the user; 0: the start-up check
        QTest::addColumn<QStringList>("boxes");

        // The start-up check is silent unless it finds a newer release.
        const auto both = [](const char* name, const Answers& answers, const QStringList& manual,
                             const QStringList& startup) {
            QTest::addRow("manual, %s", name) << answers << 1 << manual;
            QTest::addRow("start-up, %s", name) << answers << 0 << startup;
        };
        const QStringList announced{announcement("1.0.3.0")};
        both("newer", body({"version:1.0.3\n"}), announced, announced);
        both("not newer", body({"version:1.0.2\n"}), {kNoUpdates}, {});
        both("closed without answering", body({}, 0), {kNoConnection}, {});
        // Each delivery is judged on its own.
        both("two deliveries", body({"software: chronolume\n", "version:1.0.3\n"}),
             {kNoUpdates, announcement("1.0.3.0")}, announced);
        // The status is not looked at: a body is data.
        both("HTTP error with a body", body({"version:1.0.3\n"}, 500), announced, announced);
        // The first request is cancelled by the program itself: nothing to tell the user about it.
        QTest::newRow("two quick manual checks, one box")
            << body({"version:1.0.3\n"}) << 2 << announced;
    }

    void outcomes()
    {
        QFETCH(Answers, answers);
        QFETCH(int, manual);
        QFETCH(QStringList, boxes);

        Program program(answers);
        QVERIFY(program.service.isListening());
        // The start-up check waits half a minute; it is run out early here.
        const QList<QTimer*> pending = CheckSoftwareUpdateProbe::pendingChecks(program.checker());
        QCOMPARE(pending.size(), 1);
        QCOMPARE(pending.first()->interval(), 30000);
        QVERIFY(pending.first()->isSingleShot());
        for (int k = 0; k < manual; ++k)
            QVERIFY(program.check());
        if (!manual)
            pending.first()->start(0);
        QTRY_VERIFY(program.ended());
        QCOMPARE(program.service.requestLines.value(0), kUpdateCheckRequestLine);
        QCOMPARE(program.watcher.boxes, boxes);
    }

    // A box shown from the reply's readyRead runs its own event loop; a check that starts in
    // there replaces the very reply whose handler is still on the stack.
    void checkWhileABoxIsOpen()
    {
        Program program(body({"version:1.0.3\n"}) + body({"version:1.0.4\n"}));
        QPointer<QNetworkReply> first;
        bool firstAliveAtClose = false;
        int looks = 0;
        program.watcher.holdBox = [&](int index) {
            if (index != 0)
                return false;
            if (looks++ == 0) {
                first = CheckSoftwareUpdateProbe::reply(program.checker());
                program.check();
            }
            // Open until the second answer's box has come and gone.
            if (program.watcher.boxes.size() < 2 && looks < 500)
                return true;
            firstAliveAtClose = !first.isNull();
            return false;
        };
        QVERIFY(program.check());
        QTRY_VERIFY(program.ended());
        QCOMPARE(program.watcher.boxes,
                 (QStringList{announcement("1.0.3.0"), announcement("1.0.4.0")}));
        // The replaced reply outlives its box, and is released once the handler has returned.
        QVERIFY(firstAliveAtClose);
        QTRY_VERIFY(first.isNull());
    }

    // What the replaced request received says nothing about the new one.
    void newRequestStartsWithoutData()
    {
        Program program(body({"software: chronolume\n"}, 200, true) + body({}, 0));
        QVERIFY(program.check());
        QTRY_COMPARE(program.watcher.boxes, QStringList{kNoUpdates});
        QVERIFY(program.check());
        QTRY_VERIFY(program.ended());
        QCOMPARE(program.watcher.boxes, (QStringList{kNoUpdates, kNoConnection}));
    }

    void closingTheProgramDuringACheckShowsNoBox()
    {
        UpdateService service;
        service.answers = body({}, 200, true);
        PopupWatcher watcher;
        auto window = std::make_unique<MainWindow>();
        QVERIFY(QMetaObject::invokeMethod(window.get(), "CheckForSoftwareUpdate"));
        QTRY_COMPARE(service.requestLines.size(), 1);
        window.reset();
        // The service sees the request given up; a box for it would have come with the abort.
        QTRY_COMPARE(service.connectionsEnded, 1);
        QCOMPARE(watcher.boxes, QStringList());
    }
};

QTEST_MAIN(UpdateCheckTest)
#include "tst_updatecheck.moc"
