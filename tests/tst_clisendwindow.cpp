// The generator and the real window on one host: the window shows, as its own refresh draws it,
// the timecode that chronolume-cli send put on the wire, its rate and its sender.
#include "capture.h"
#include "patience.h"
#include "sandbox.h"
#include "settingsstore.h"
#include "windowprobes.h"

#include <QProcess>
#include <QtTest>

using namespace TestSupport;

class CliSendWindowTest : public QObject
{
    Q_OBJECT

    SettingsStore settings;

private slots:
    void initTestCase() { QVERIFY(settings.isValid()); }

    void windowShowsTheGeneratedTimecode_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("rate");
        QTest::newRow("29.97 across a minute that skips 00 and 01")
            << QStringList{"--rate", "29.97", "--start", "00:00:59:27", "--frames", "5"}
            << "00:01:00:03"
            << "30 Drop";
        QTest::newRow("24 across midnight")
            << QStringList{"--rate", "24", "--start", "23:59:59:22", "--frames", "4"}
            << "00:00:00:01"
            << "24 FPS";
        QTest::newRow("25 from its defaults") << QStringList{"--frames", "12"} << "00:00:00:11"
                                              << "25 FPS";
        QTest::newRow("30 in the tenth hour")
            << QStringList{"--rate", "30", "--start", "09:59:59:28", "--frames", "3"}
            << "10:00:00:00"
            << "30 FPS";
    }

    // The window binds its port first, as it would on a desk's machine; the generator, sending
    // from a port of its own, still reaches it at 127.0.0.1.
    void windowShowsTheGeneratedTimecode()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(QStringList, arguments);
        QFETCH(QString, time);
        QFETCH(QString, rate);
        OutputCapture windowOutput;
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(MainWindowProbe::timecodeLabel(window)->text(), QStringLiteral("--:--:--:--"));

        QProcess generator;
        generator.start(QStringLiteral(CHRONOLUME_CLI),
                        QStringList{"send", "--to", "127.0.0.1", "--quiet"} + arguments);
        // No row sends more than 12 frames, at 24 fps or faster.
        QTRY_COMPARE_WITH_TIMEOUT(generator.state(), QProcess::NotRunning,
                                  Patience::frames(12, 24));
        QCOMPARE(generator.exitCode(), 0);
        QCOMPARE(generator.readAllStandardError(), QByteArray());

        // The last frame sent is what the window shows, once its timer has drawn it.
        QTRY_COMPARE_WITH_TIMEOUT(MainWindowProbe::timecodeLabel(window)->text(), time,
                                  Patience::ms());
        QCOMPARE(MainWindowProbe::rateLabel(window)->text(), rate);
        QCOMPARE(MainWindowProbe::sourceLabel(window)->text(), QStringLiteral("127.0.0.1"));
    }

    // Two generators on one machine, one address, two streams, as the README shows them: two
    // entries at once, each with its own time and rate.
    void twoStreamsFromOneAddressAreTwoEntries()
    {
        REQUIRE_PRIVATE_NETWORK();
        OutputCapture windowOutput;
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QProcess first, second;
        const QStringList common{"send", "--to", "127.0.0.1", "--from", "127.0.0.2", "--quiet"};
        first.start(QStringLiteral(CHRONOLUME_CLI),
                    common + QStringList{"--rate", "25", "--frames", "10"});
        second.start(QStringLiteral(CHRONOLUME_CLI),
                     common + QStringList{"--stream", "2", "--rate", "30", "--start", "10:00:00:00",
                                          "--frames", "12"});
        for (QProcess* generator : {&first, &second}) {
            QTRY_COMPARE_WITH_TIMEOUT(generator->state(), QProcess::NotRunning,
                                      Patience::frames(12, 30));
            QCOMPARE(generator->readAllStandardError(), QByteArray());
            QCOMPARE(generator->exitCode(), 0);
        }

        // Either may be heard first; each line of the three labels belongs to one entry.
        QTRY_COMPARE_WITH_TIMEOUT(MainWindowProbe::timecodeLabel(window)->text().split('\n').size(),
                                  2, Patience::ms());
        QTRY_COMPARE_WITH_TIMEOUT(
            MainWindowProbe::timecodeLabel(window)->text().contains(QStringLiteral("10:00:00:11")),
            true, Patience::ms());
        const QStringList times = MainWindowProbe::timecodeLabel(window)->text().split('\n');
        const QStringList rates = MainWindowProbe::rateLabel(window)->text().split('\n');
        const QStringList sources = MainWindowProbe::sourceLabel(window)->text().split('\n');
        QStringList entries;
        for (int i = 0; i < 2; ++i)
            entries << times.value(i) + " " + rates.value(i) + " " + sources.value(i);
        entries.sort();
        QCOMPARE(entries,
                 (QStringList{"00:00:00:09 25 FPS 127.0.0.2", "10:00:00:11 30 FPS 127.0.0.2 · 2"}));
    }
};

QTEST_MAIN(CliSendWindowTest)
#include "tst_clisendwindow.moc"
