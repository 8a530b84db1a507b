// The window's start-up: the setting that picks the display, the node it creates and how it
// configures it, its title and refresh timer.
#include "chronolume_config.h"
#include "mainwindow.h"
#include "probes.h"
#include "sandbox.h"
#include "settingsstore.h"
#include "windowprobes.h"

#include <QLCDNumber>
#include <QLabel>
#include <QTimer>
#include <QtTest>

class MainWindowTest : public QObject
{
    Q_OBJECT

    TestSupport::SettingsStore settings;

private slots:
    void initTestCase() { QVERIFY(settings.isValid()); }

    void init()
    {
        REQUIRE_PRIVATE_NETWORK();
        QVERIFY(settings.write(QByteArray()));
    }

    void settingPicksTheDisplay_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("lcd");
        QTest::newRow("no settings file") << QByteArray() << false;
        QTest::newRow("no UseLcd key") << QByteArray("[General]\nOther=1\n") << false;
        QTest::newRow("UseLcd true") << QByteArray("[General]\nUseLcd=true\n") << true;
        QTest::newRow("UseLcd false") << QByteArray("[General]\nUseLcd=false\n") << false;
        QTest::newRow("UseLcd 1") << QByteArray("[General]\nUseLcd=1\n") << true;
    }

    void settingPicksTheDisplay()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, lcd);
        QVERIFY(settings.write(content));

        {
            MainWindow window;
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QCOMPARE(MainWindowProbe::useLcd(window), lcd);
            QCOMPARE(MainWindowProbe::timecodeLcd(window) != nullptr, lcd);
            QCOMPARE(MainWindowProbe::rateLcd(window) != nullptr, lcd);
            QCOMPARE(MainWindowProbe::timecodeLabel(window) != nullptr, !lcd);
            QCOMPARE(MainWindowProbe::rateLabel(window) != nullptr, !lcd);
            QVERIFY(MainWindowProbe::sourceLabel(window));
        }
        // Read, never written: the store looks exactly as before the run.
        QCOMPARE(QFile::exists(settings.file()), !content.isEmpty());
        QCOMPARE(settings.read(), content);
    }

    void windowAndNodeAreSetUp()
    {
        MainWindow window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Chronolume"));
        QCOMPARE(MainWindowProbe::titleLabel(window)->text(), QStringLiteral("Chronolume v1.0.2"));
        QCOMPARE(MainWindowProbe::titleLabel(window)->alignment(), Qt::AlignCenter);

        artnet* node = MainWindowProbe::node(window);
        QVERIFY(node);
        QVERIFY(node->shareBind);
        QCOMPARE(node->versionHi, quint8(1));
        QCOMPARE(node->versionLo, quint8(0));
        QCOMPARE(node->oemHi, quint8(0x0C));
        QCOMPARE(node->oemLo, quint8(0x12));
        QCOMPARE(ArtnetProbe::shortName(*node), QStringLiteral("Tempolis"));
        QCOMPARE(ArtnetProbe::longName(*node),
                 QStringLiteral("Chronolume v1.0.2 by ") + QLatin1String(chronolume::kWebHost));
        QVERIFY(ArtnetProbe::pollReplyEnabled(*node));
        QVERIFY(ArtnetProbe::socketReady(*node));

        QTimer* timer = MainWindowProbe::timer(window);
        QVERIFY(timer);
        QVERIFY(timer->isActive());
        QVERIFY(!timer->isSingleShot());
        QCOMPARE(timer->interval(), 41);
    }

    void layoutStacksTheDisplayAboveTitleAndLink()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QLabel* time = MainWindowProbe::timecodeLabel(window);
        QLabel* rate = MainWindowProbe::rateLabel(window);
        QLabel* source = MainWindowProbe::sourceLabel(window);
        QLabel* title = MainWindowProbe::titleLabel(window);
        QLabel* link = MainWindowProbe::linkLabel(window);
        QVERIFY(time->geometry().bottom() <= rate->geometry().top());
        QVERIFY(rate->geometry().bottom() <= source->geometry().top());
        QVERIFY(source->geometry().bottom() <= title->geometry().top());
        QVERIFY(title->geometry().bottom() <= link->geometry().top());
        // The timecode takes the lion's share of any extra height.
        window.resize(window.width(), window.height() + 300);
        QTRY_VERIFY(time->height() > 2 * source->height());
    }

    void nodeBindFailureStillShowsTheWindow()
    {
        QUdpSocket blocker;
        QVERIFY(blocker.bind(QHostAddress::AnyIPv4, 6454));
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        artnet* node = MainWindowProbe::node(window);
        QVERIFY(!ArtnetProbe::pollReplyEnabled(*node));
        QCOMPARE(MainWindowProbe::timecodeLabel(window)->text(), QStringLiteral("--:--:--:--"));
        // The refresh keeps trying, and takes the port once it is free.
        blocker.close();
        QTRY_VERIFY(ArtnetProbe::socketReady(*node));
        QVERIFY(!ArtnetProbe::pollReplyEnabled(*node));
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
