// The timecode display as the user sees it: the real window, fed by real ArtTimeCode datagrams
// on loopback and refreshed by its own 41 ms timer, in both variants; and the text variant's
// font fitting when the window is resized.
#include "capture.h"
#include "mainwindow.h"
#include "sandbox.h"
#include "settingsstore.h"
#include "timecodetext.h"
#include "traffic.h"
#include "windowprobes.h"

#include <QFontMetrics>
#include <QLCDNumber>
#include <QLabel>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using namespace TestSupport;

namespace {

// One ArtTimeCode datagram as a controller sends it, and what the window then shows.
struct Timecode
{
    QString from;
    quint8 frames, seconds, minutes, hours, type;
};
using Traffic = QList<Timecode>;
struct Shown
{
    QString time, rate, source;
    int timeDigits = 11, rateDigits = 6;
};

const QString kA = QStringLiteral("127.0.0.2");
const QString kB = QStringLiteral("127.0.0.3");

const QByteArray kUseLcd("[General]\nUseLcd=true\n");

// A seven-segment widget cannot be asked what it shows, so it is compared, picture by picture,
// with one set up like the window's showing the expected text.
bool lcdShows(QLCDNumber& shown, const QString& text)
{
    QLCDNumber reference;
    reference.setSegmentStyle(QLCDNumber::Flat);
    reference.setFrameStyle(QFrame::NoFrame);
    reference.setDigitCount(shown.digitCount());
    reference.resize(shown.size());
    reference.display(text);
    const auto picture = [](QWidget& widget) {
        return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    return picture(shown) == picture(reference);
}

// The fitting rule worked out here on its own: bold sizes from 23 up, stop at the first whose
// one-line height reaches two thirds of the label's height or whose text, as one line, reaches
// two thirds of its width, and take the size below; 22 if no size up to 999 stops the search.
int expectedPointSize(const QString& family, const QString& text, QSize label)
{
    for (int size = 23; size <= 999; ++size) {
        const QFontMetrics metrics(QFont(family, size, QFont::Bold));
        if (metrics.height() >= (2 * label.height()) / 3 ||
            metrics.horizontalAdvance(text) >= (2 * label.width()) / 3)
            return size - 1;
    }
    return 22;
}

// The timecode label's size and text at each resize event of the window, as the window's own
// handler finds them: the layouts have already run, the handler has not.
struct ResizeWitness : QObject
{
    QLabel* label = nullptr;
    QList<QPair<QSize, QString>> seen;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            seen.append({label->size(), label->text()});
        return false;
    }
};

void send(MainWindow& window, const Traffic& traffic)
{
    for (const Timecode& tc : traffic) {
        Controller from{QHostAddress(tc.from)};
        const QByteArray datagram =
            artTimeCode(tc.frames, tc.seconds, tc.minutes, tc.hours, tc.type);
        QCOMPARE(from.send(datagram), qint64(datagram.size()));
    }
    settle(*MainWindowProbe::node(window));
}

// Counts the paint events a widget receives.
struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Lets the window's own timer run; whatever was received before is on show after the first.
void waitForRefreshes(MainWindow& window, int count)
{
    QSignalSpy refreshes(MainWindowProbe::timer(window), &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(refreshes.count() >= count, 5000);
}

} // namespace

Q_DECLARE_METATYPE(Traffic)
Q_DECLARE_METATYPE(Shown)

class DisplayTest : public QObject
{
    Q_OBJECT

    SettingsStore settings;

private slots:
    void initTestCase() { QVERIFY(settings.isValid()); }

    void display_data()
    {
        QTest::addColumn<bool>("lcd");
        QTest::addColumn<Traffic>("traffic");
        QTest::addColumn<Shown>("shown");

        const Traffic aThenB{{kA, 4, 3, 2, 1, 1}, {kB, 29, 59, 0, 10, 0}};
        const Shown none{"--:--:--:--", "-- fps", "0.0.0.0"};
        QTest::newRow("text, no timecode") << false << Traffic{} << none;
        QTest::newRow("seven-segment, no timecode") << true << Traffic{} << none;
        QTest::newRow("seven-segment, 1:2:3:4")
            << true << Traffic{{kA, 4, 3, 2, 1, 1}} << Shown{"01:02:03:04", "25 FPS", kA};
        QTest::newRow("two digits stay")
            << false << Traffic{{kA, 29, 59, 0, 10, 1}} << Shown{"10:00:59:29", "25 FPS", kA};
        QTest::newRow("9 gets a zero, type 2")
            << false << Traffic{{kA, 9, 9, 9, 9, 2}} << Shown{"09:09:09:09", "30 Drop", kA};
        QTest::newRow("frames 123 as received")
            << false << Traffic{{kA, 123, 0, 0, 0, 1}} << Shown{"00:00:00:123", "25 FPS", kA};
        QTest::newRow("text, A then B: two lines, A first")
            << false << aThenB
            << Shown{"01:02:03:04\n10:00:59:29", "25 FPS\n24 FPS", kA + "\n" + kB};
        QTest::newRow("seven-segment, A then B: one blank between")
            << true << aThenB
            << Shown{"01:02:03:04 10:00:59:29", "25 FPS 24 FPS", kA + " " + kB, 23, 13};
        QTest::newRow("type 7 keeps its empty place")
            << false << Traffic{{kA, 1, 0, 0, 0, 1}, {kB, 2, 0, 0, 0, 7}}
            << Shown{"00:00:00:01\n00:00:00:02", "25 FPS\n", kA + "\n" + kB};
    }

    // Each row also checks the widgets its variant is made of.
    void display()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(bool, lcd);
        QFETCH(Traffic, traffic);
        QFETCH(Shown, shown);
        QVERIFY(settings.write(lcd ? kUseLcd : QByteArray()));
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QLabel* source = MainWindowProbe::sourceLabel(window);
        QLabel* timeLabel = MainWindowProbe::timecodeLabel(window);
        QLabel* rateLabel = MainWindowProbe::rateLabel(window);
        QLCDNumber* timeLcd = MainWindowProbe::timecodeLcd(window);
        QLCDNumber* rateLcd = MainWindowProbe::rateLcd(window);
        QVERIFY(source);
        QCOMPARE(timeLcd && rateLcd, lcd);
        QCOMPARE(timeLabel && rateLabel, !lcd);
        for (QWidget* widget : QWidgetList{source, timeLabel, rateLabel, timeLcd, rateLcd})
            QVERIFY(!widget || window.isAncestorOf(widget));
        for (QLabel* label : {source, timeLabel, rateLabel})
            QVERIFY(!label || label->alignment() == Qt::AlignCenter);
        for (QLCDNumber* display : {timeLcd, rateLcd})
            QVERIFY(!display || (display->segmentStyle() == QLCDNumber::Flat &&
                                 display->frameStyle() == QFrame::NoFrame));

        send(window, traffic);
        // Once at the first refresh, and again once the senders have long fallen silent: no
        // time-out brings the no-signal texts back.
        for (int refreshes : {1, 8}) {
            waitForRefreshes(window, refreshes);
            QCOMPARE(source->text(), shown.source);
            if (lcd) {
                QCOMPARE(timeLcd->digitCount(), shown.timeDigits);
                QCOMPARE(rateLcd->digitCount(), shown.rateDigits);
                QVERIFY2(lcdShows(*timeLcd, shown.time), qPrintable(shown.time));
                QVERIFY2(lcdShows(*rateLcd, shown.rate), qPrintable(shown.rate));
            } else {
                QCOMPARE(timeLabel->text(), shown.time);
                QCOMPARE(rateLabel->text(), shown.rate);
            }
        }
    }

    void textFontFitsTheLabel_data()
    {
        QTest::addColumn<QSize>("windowSize");
        QTest::addColumn<QSize>("labelMaximum");
        QTest::addColumn<bool>("smallest");

        const QSize unlimited(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        QTest::newRow("large, two lines: one line's height counts")
            << QSize(1800, 420) << unlimited << false;
        QTest::newRow("small: never below 22") << QSize(900, 500) << QSize(120, 40) << true;
        QTest::newRow("zero-sized label") << QSize(900, 500) << QSize(0, 0) << true;
    }

    void textFontFitsTheLabel()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(QSize, windowSize);
        QFETCH(QSize, labelMaximum);
        QFETCH(bool, smallest);
        QVERIFY(settings.write(QByteArray()));
        MainWindow window;
        ResizeWitness witness;
        witness.label = MainWindowProbe::timecodeLabel(window);
        QVERIFY(witness.label);
        witness.label->setMaximumSize(labelMaximum);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        send(window, {{kA, 4, 3, 2, 1, 1}, {kB, 29, 59, 0, 10, 0}});
        waitForRefreshes(window, 1);

        // Nothing asserts while the capture runs: QtTest's own report would vanish into it.
        window.installEventFilter(&witness);
        OutputCapture capture;
        window.resize(windowSize);
        const bool resized = QTest::qWaitFor([&] { return window.size() == windowSize; }, 5000);
        QCoreApplication::processEvents();
        capture.finish();
        QVERIFY(resized);
        QVERIFY(!witness.seen.isEmpty());

        // One line per resize event, for the label as it was at that event.
        const QString family = window.font().family();
        QStringList lines;
        int expected = 0;
        for (const auto& [size, text] : witness.seen) {
            expected = expectedPointSize(family, text, size);
            lines << QStringLiteral("font height: %1  height %2  width %3")
                         .arg(expected)
                         .arg(size.height())
                         .arg(size.width());
        }
        QCOMPARE(capture.debugMessages(), lines);
        QCOMPARE(witness.label->font(), QFont(family, expected, QFont::Bold));
        QCOMPARE(expected == 22, smallest);
        if (labelMaximum.isNull())
            QCOMPARE(witness.seen.last().first, QSize(0, 0));
        QCOMPARE(MainWindowProbe::rateLabel(window)->font(), QFont(family, 22, QFont::Bold));
    }

    void sevenSegmentIsNotRefitted()
    {
        REQUIRE_PRIVATE_NETWORK();
        QVERIFY(settings.write(kUseLcd));
        OutputCapture capture;
        MainWindow window;
        window.show();
        bool shown = QTest::qWaitForWindowExposed(&window);
        window.resize(1200, 800);
        shown = shown && QTest::qWaitFor([&] { return window.width() == 1200; }, 5000);
        QSignalSpy refreshes(MainWindowProbe::timer(window), &QTimer::timeout);
        shown = shown && QTest::qWaitFor([&] { return refreshes.count() >= 2; }, 5000);
        capture.finish();
        QVERIFY(shown);
        QCOMPARE(capture.debugMessages(), QStringList());
    }

    void repaintsOnlyWhatChanged_data()
    {
        QTest::addColumn<bool>("lcd");
        QTest::newRow("text") << false;
        QTest::newRow("seven-segment") << true;
    }

    // A refresh that finds the timecode as it was draws nothing; a new timecode is drawn at the
    // first refresh after it arrived.
    void repaintsOnlyWhatChanged()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(bool, lcd);
        QVERIFY(settings.write(lcd ? kUseLcd : QByteArray()));
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QWidget* time = lcd ? static_cast<QWidget*>(MainWindowProbe::timecodeLcd(window))
                            : MainWindowProbe::timecodeLabel(window);
        QVERIFY(time);
        PaintCounter counter;
        time->installEventFilter(&counter);

        send(window, {{kA, 4, 3, 2, 1, 1}});
        waitForRefreshes(window, 2);
        QTRY_VERIFY_WITH_TIMEOUT(counter.paints > 0, 2000);

        // The same timecode again, then silence: several refreshes, no drawing.
        send(window, {{kA, 4, 3, 2, 1, 1}});
        waitForRefreshes(window, 1);
        QCoreApplication::processEvents();
        counter.paints = 0;
        waitForRefreshes(window, 4);
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 0);

        // One frame later, read while the refresh timer stands still: drawn by the refresh that
        // follows, before the one after it.
        QTimer* timer = MainWindowProbe::timer(window);
        timer->stop();
        send(window, {{kA, 5, 3, 2, 1, 1}});
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 0);
        // Taken as each refresh ends: at the second, whatever the first drew has been drawn.
        QList<int> paintsAtRefresh;
        connect(timer, &QTimer::timeout, this, [&] { paintsAtRefresh.append(counter.paints); });
        timer->start();
        QTRY_VERIFY_WITH_TIMEOUT(paintsAtRefresh.size() >= 2, 5000);
        QCOMPARE(paintsAtRefresh[0], 0);
        QVERIFY(paintsAtRefresh[1] > 0);
        if (!lcd)
            QCOMPARE(MainWindowProbe::timecodeLabel(window)->text(), QStringLiteral("01:02:03:05"));
        else
            QVERIFY(lcdShows(*MainWindowProbe::timecodeLcd(window), QStringLiteral("01:02:03:05")));
    }

    // What the window cannot reach: a label far larger than any screen, and exact limits.
    void fittedPointSize()
    {
        const QString family = QApplication::font().family();
        const QString time = QStringLiteral("01:02:03:04");
        const QFontMetrics at999(QFont(family, 999, QFont::Bold));
        const QFontMetrics at40(QFont(family, 40, QFont::Bold));
        // Nothing reached up to 999: the smallest size, not the one below the last tried.
        QCOMPARE(TimecodeText::fittedPointSize(family, ".", 100000, 100000), 22);
        // Two thirds of these, truncated, are exactly the line height at 999 or the text's width
        // at 40: a limit reached exactly stops the search there.
        const int heightAt999 = (3 * at999.height() + 1) / 2;
        const int widthAt40 = (3 * at40.horizontalAdvance(time) + 1) / 2;
        QCOMPARE(TimecodeText::fittedPointSize(family, time, heightAt999, 100000), 998);
        QCOMPARE(TimecodeText::fittedPointSize(family, time, 100000, widthAt40), 39);
    }
};

QTEST_MAIN(DisplayTest)
#include "tst_display.moc"
