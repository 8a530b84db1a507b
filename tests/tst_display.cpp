// The timecode display as the user sees it: the real window, fed by real ArtTimeCode datagrams
// on loopback and refreshed by its own 41 ms timer, in both variants; and the text variant's
// font fitting when the window is resized.
#include "capture.h"
#include "chronolume_config.h"
#include "mainwindow.h"
#include "sandbox.h"
#include "timecodetext.h"
#include "traffic.h"
#include "windowprobes.h"

#include <QFontMetrics>
#include <QLCDNumber>
#include <QLabel>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <map>
#include <memory>

using namespace TestSupport;

namespace {

// One ArtTimeCode datagram as a controller sends it.
struct Timecode
{
    QString from;
    quint8 frames;
    quint8 seconds;
    quint8 minutes;
    quint8 hours;
    quint8 type;
};
using Traffic = QList<Timecode>;

const QString kA = QStringLiteral("127.0.0.2");
const QString kB = QStringLiteral("127.0.0.3");
const QString kC = QStringLiteral("127.0.0.4");

// Refreshes to sit through where the display must not change: a third of a second of the timer.
constexpr int kManyRefreshes = 8;

QString separatorOf(bool lcd)
{
    return lcd ? QStringLiteral(" ") : QStringLiteral("\n");
}

// The widget as drawn, in one pixel format whichever backing store drew it.
QImage picture(QWidget& widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// What a seven-segment display with the window's settings looks like showing this text. The
// widget cannot be asked what it shows, so the window's display is compared picture by picture.
QImage lcdShowing(const QString& text, int digits, QSize size)
{
    QLCDNumber reference;
    reference.setSegmentStyle(QLCDNumber::Flat);
    reference.setFrameStyle(QFrame::NoFrame);
    reference.setDigitCount(digits);
    reference.resize(size);
    reference.display(text);
    return picture(reference);
}

// The timecode label's point size as the fitting rule gives it, worked out here on its own:
// bold sizes from 23 up, stop at the first whose one-line height reaches two thirds of the
// label's height or whose text, as one line, reaches two thirds of its width, and take the size
// below; 22 if no size up to 999 stops the search.
int expectedPointSize(const QString& family, const QString& text, int height, int width)
{
    for (int size = 23; size <= 999; ++size) {
        QFont font(family);
        font.setPointSize(size);
        font.setWeight(QFont::Bold);
        const QFontMetrics metrics(font);
        if (metrics.height() >= (2 * height) / 3)
            return size - 1;
        if (metrics.horizontalAdvance(text) >= (2 * width) / 3)
            return size - 1;
    }
    return 22;
}

// Which limit stopped the search one size above the chosen one.
QString bindingLimit(const QString& family, const QString& text, int chosen, int height, int width)
{
    QFont font(family);
    font.setPointSize(chosen + 1);
    font.setWeight(QFont::Bold);
    const QFontMetrics metrics(font);
    QStringList reached;
    if (metrics.height() >= (2 * height) / 3)
        reached << QStringLiteral("height");
    if (metrics.horizontalAdvance(text) >= (2 * width) / 3)
        reached << QStringLiteral("width");
    return reached.isEmpty() ? QStringLiteral("none") : reached.join(QLatin1Char('+'));
}

QString fittingLine(int size, int height, int width)
{
    // QDebug puts one blank after each item and drops the last one.
    return QStringLiteral("font height: %1  height %2  width %3").arg(size).arg(height).arg(width);
}

// The timecode label's size and text each time the window gets a resize event, as the window's
// own handler is about to find them: an event filter sees the event just before the handler.
class ResizeWitness : public QObject
{
public:
    struct Seen
    {
        QSize labelSize;
        QString text;
    };

    ResizeWitness(QWidget* window, QLabel* label) : label(label)
    {
        window->installEventFilter(this);
    }

    QList<Seen> seen;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            seen.append({label->size(), label->text()});
        return QObject::eventFilter(watched, event);
    }

private:
    QLabel* label;
};

} // namespace

Q_DECLARE_METATYPE(Traffic)

class DisplayTest : public QObject
{
    Q_OBJECT

    QTemporaryDir configDir;
    std::map<QString, std::unique_ptr<Controller>> controllers;

    QString settingsFile() const
    {
        return configDir.filePath(QLatin1String(chronolume::kWebDomain) +
                                  QStringLiteral("/Chronolume.conf"));
    }

    // The window reads the setting once, when it is made.
    void chooseVariant(bool lcd)
    {
        QFile::remove(settingsFile());
        if (!lcd)
            return;
        QDir().mkpath(QFileInfo(settingsFile()).absolutePath());
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[General]\nUseLcd=true\n");
    }

    Controller& controller(const QString& address)
    {
        std::unique_ptr<Controller>& slot = controllers[address];
        if (!slot)
            slot = std::make_unique<Controller>(QHostAddress(address));
        return *slot;
    }

    void send(MainWindow& window, const Traffic& traffic)
    {
        for (const Timecode& timecode : traffic) {
            Controller& from = controller(timecode.from);
            QVERIFY2(from.isBound(), qPrintable(timecode.from));
            const QByteArray datagram = artTimeCode(
                timecode.frames, timecode.seconds, timecode.minutes, timecode.hours, timecode.type);
            QCOMPARE(from.send(datagram), qint64(datagram.size()));
        }
        settle(*MainWindowProbe::node(window));
    }

    // Lets the window's own timer run the refresh this many times. Whatever was received before
    // the call is on show after the first.
    static void waitForRefreshes(MainWindow& window, int count)
    {
        QSignalSpy refreshes(MainWindowProbe::timer(window), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(refreshes.count() >= count, 5000);
    }

    static void showWindow(MainWindow& window)
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }

    static void addVariantRows()
    {
        QTest::addColumn<bool>("lcd");
        QTest::newRow("text") << false;
        QTest::newRow("seven-segment") << true;
    }

    // The three texts as the window shows them, read from whichever widgets the variant has.
    static void compareShown(MainWindow& window, bool lcd, const QString& time, int timeDigits,
                             const QString& rate, int rateDigits, const QString& source)
    {
        QCOMPARE(MainWindowProbe::sourceLabel(window)->text(), source);
        if (lcd) {
            QLCDNumber* timeLcd = MainWindowProbe::timecodeLcd(window);
            QLCDNumber* rateLcd = MainWindowProbe::rateLcd(window);
            QVERIFY(timeLcd && rateLcd);
            QCOMPARE(timeLcd->digitCount(), timeDigits);
            QCOMPARE(rateLcd->digitCount(), rateDigits);
            QVERIFY2(picture(*timeLcd) == lcdShowing(time, timeDigits, timeLcd->size()),
                     qPrintable(QStringLiteral("timecode display does not show \"%1\"").arg(time)));
            QVERIFY2(picture(*rateLcd) == lcdShowing(rate, rateDigits, rateLcd->size()),
                     qPrintable(QStringLiteral("rate display does not show \"%1\"").arg(rate)));
        } else {
            QVERIFY(MainWindowProbe::timecodeLabel(window) && MainWindowProbe::rateLabel(window));
            QCOMPARE(MainWindowProbe::timecodeLabel(window)->text(), time);
            QCOMPARE(MainWindowProbe::rateLabel(window)->text(), rate);
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(configDir.isValid());
        // The per-user settings store of this test run, not the user's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configDir.path());
    }

    void cleanup() { controllers.clear(); }

    void widgetsOfEachVariant_data() { addVariantRows(); }

    void widgetsOfEachVariant()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(bool, lcd);
        chooseVariant(lcd);
        MainWindow window;
        showWindow(window);

        QLabel* source = MainWindowProbe::sourceLabel(window);
        QVERIFY(source);
        QCOMPARE(source->alignment(), Qt::AlignCenter);
        QVERIFY(window.isAncestorOf(source));
        if (lcd) {
            QVERIFY(!MainWindowProbe::timecodeLabel(window));
            QVERIFY(!MainWindowProbe::rateLabel(window));
            for (QLCDNumber* display :
                 {MainWindowProbe::timecodeLcd(window), MainWindowProbe::rateLcd(window)}) {
                QVERIFY(display);
                QVERIFY(window.isAncestorOf(display));
                QCOMPARE(display->segmentStyle(), QLCDNumber::Flat);
                QCOMPARE(display->frameStyle(), 0);
            }
        } else {
            QVERIFY(!MainWindowProbe::timecodeLcd(window));
            QVERIFY(!MainWindowProbe::rateLcd(window));
            QLabel* time = MainWindowProbe::timecodeLabel(window);
            QLabel* rate = MainWindowProbe::rateLabel(window);
            QVERIFY(time && rate);
            QVERIFY(window.isAncestorOf(time) && window.isAncestorOf(rate));
            QCOMPARE(time->alignment(), Qt::AlignCenter);
            QCOMPARE(rate->alignment(), Qt::AlignCenter);
            // Both start in the label's own family, bold 22; only the timecode is refitted.
            QCOMPARE(rate->font().family(), window.font().family());
            QCOMPARE(time->font().family(), window.font().family());
            QCOMPARE(rate->font().pointSize(), 22);
            QCOMPARE(rate->font().weight(), QFont::Bold);
            QVERIFY(!rate->font().italic());
            QCOMPARE(time->font().weight(), QFont::Bold);
            QVERIFY(!time->font().italic());
        }
    }

    void noTimecodeKeepsTheNoSignalTexts_data() { addVariantRows(); }

    void noTimecodeKeepsTheNoSignalTexts()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(bool, lcd);
        chooseVariant(lcd);
        MainWindow window;
        showWindow(window);
        // Other Art-Net traffic is not timecode and leaves the display alone.
        Controller& desk = controller(kA);
        QVERIFY(desk.isBound());
        desk.send(artDmx(0, QByteArray(512, '\x7f')));
        settle(*MainWindowProbe::node(window));

        waitForRefreshes(window, kManyRefreshes);
        compareShown(window, lcd, QStringLiteral("--:--:--:--"), 11, QStringLiteral("-- fps"), 6,
                     QStringLiteral("0.0.0.0"));
    }

    void oneSender_data()
    {
        QTest::addColumn<bool>("lcd");
        QTest::addColumn<Traffic>("traffic");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("rate");

        struct Row
        {
            const char* name;
            Timecode timecode;
            const char* time;
            const char* rate;
        };
        const Row rows[] = {
            {"1:2:3:4 at 25 fps", {kA, 4, 3, 2, 1, 1}, "01:02:03:04", "25 FPS"},
            {"10:0:59:29, two digits stay", {kA, 29, 59, 0, 10, 1}, "10:00:59:29", "25 FPS"},
            {"9 gets a zero, 10 does not", {kA, 10, 9, 10, 9, 1}, "09:10:09:10", "25 FPS"},
            {"frames 123 shown as received", {kA, 123, 0, 0, 0, 1}, "00:00:00:123", "25 FPS"},
            {"255 everywhere", {kA, 255, 255, 255, 255, 3}, "255:255:255:255", "30 FPS"},
            {"type 0", {kA, 0, 0, 0, 0, 0}, "00:00:00:00", "24 FPS"},
            {"type 2", {kA, 0, 0, 0, 0, 2}, "00:00:00:00", "30 Drop"},
            {"type 3", {kA, 0, 0, 0, 0, 3}, "00:00:00:00", "30 FPS"},
            {"type 7 has no name", {kA, 0, 0, 0, 0, 7}, "00:00:00:00", ""},
            {"type 4 has no name", {kA, 0, 0, 0, 0, 4}, "00:00:00:00", ""},
        };
        for (bool lcd : {false, true}) {
            for (const Row& row : rows) {
                QTest::addRow("%s, %s", lcd ? "seven-segment" : "text", row.name)
                    << lcd << Traffic{row.timecode} << QString::fromLatin1(row.time)
                    << QString::fromLatin1(row.rate);
            }
        }
    }

    void oneSender()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(bool, lcd);
        QFETCH(Traffic, traffic);
        QFETCH(QString, time);
        QFETCH(QString, rate);
        chooseVariant(lcd);
        MainWindow window;
        showWindow(window);

        send(window, traffic);
        waitForRefreshes(window, 1);
        compareShown(window, lcd, time, 11, rate, 6, kA);
    }

    void severalSenders_data()
    {
        QTest::addColumn<bool>("lcd");
        QTest::addColumn<Traffic>("traffic");
        QTest::addColumn<QStringList>("times");
        QTest::addColumn<QStringList>("rates");
        QTest::addColumn<QStringList>("sources");

        for (bool lcd : {false, true}) {
            const char* variant = lcd ? "seven-segment" : "text";
            QTest::addRow("%s, A then B", variant)
                << lcd << Traffic{{kA, 4, 3, 2, 1, 1}, {kB, 29, 59, 0, 10, 0}}
                << QStringList{"01:02:03:04", "10:00:59:29"} << QStringList{"25 FPS", "24 FPS"}
                << QStringList{kA, kB};
            QTest::addRow("%s, B then A", variant)
                << lcd << Traffic{{kB, 29, 59, 0, 10, 0}, {kA, 4, 3, 2, 1, 1}}
                << QStringList{"10:00:59:29", "01:02:03:04"} << QStringList{"24 FPS", "25 FPS"}
                << QStringList{kB, kA};
            QTest::addRow("%s, first sender of type 7 keeps its place", variant)
                << lcd << Traffic{{kA, 1, 0, 0, 0, 7}, {kB, 2, 0, 0, 0, 2}}
                << QStringList{"00:00:00:01", "00:00:00:02"} << QStringList{"", "30 Drop"}
                << QStringList{kA, kB};
            QTest::addRow("%s, last sender of type 7 keeps its place", variant)
                << lcd << Traffic{{kA, 1, 0, 0, 0, 3}, {kB, 2, 0, 0, 0, 7}}
                << QStringList{"00:00:00:01", "00:00:00:02"} << QStringList{"30 FPS", ""}
                << QStringList{kA, kB};
            QTest::addRow("%s, three senders", variant)
                << lcd << Traffic{{kC, 3, 3, 3, 3, 3}, {kA, 1, 1, 1, 1, 1}, {kB, 2, 2, 2, 2, 2}}
                << QStringList{"03:03:03:03", "01:01:01:01", "02:02:02:02"}
                << QStringList{"30 FPS", "25 FPS", "30 Drop"} << QStringList{kC, kA, kB};
            QTest::addRow("%s, a known sender updates its own entry", variant)
                << lcd << Traffic{{kA, 4, 3, 2, 1, 1}, {kB, 29, 59, 0, 10, 0}, {kA, 5, 3, 2, 1, 2}}
                << QStringList{"01:02:03:05", "10:00:59:29"} << QStringList{"30 Drop", "24 FPS"}
                << QStringList{kA, kB};
        }
    }

    void severalSenders()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(bool, lcd);
        QFETCH(Traffic, traffic);
        QFETCH(QStringList, times);
        QFETCH(QStringList, rates);
        QFETCH(QStringList, sources);
        chooseVariant(lcd);
        MainWindow window;
        showWindow(window);

        send(window, traffic);
        waitForRefreshes(window, 1);
        // 11 places per timecode, 6 per rate name, one for each separator between them.
        const int n = int(times.size());
        const QString separator = separatorOf(lcd);
        compareShown(window, lcd, times.join(separator), 12 * n - 1, rates.join(separator),
                     7 * n - 1, sources.join(separator));
    }

    void silentSenderKeepsItsLastValues_data() { addVariantRows(); }

    void silentSenderKeepsItsLastValues()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(bool, lcd);
        chooseVariant(lcd);
        MainWindow window;
        showWindow(window);

        send(window, {{kA, 4, 3, 2, 1, 1}, {kB, 29, 59, 0, 10, 2}});
        waitForRefreshes(window, 1);
        const QString separator = separatorOf(lcd);
        const QString time = QStringLiteral("01:02:03:04") + separator + "10:00:59:29";
        const QString rate = QStringLiteral("25 FPS") + separator + "30 Drop";
        const QString source = kA + separator + kB;
        compareShown(window, lcd, time, 23, rate, 13, source);
        if (QTest::currentTestFailed())
            return;

        // Both fall silent: no time-out brings the no-signal texts back.
        waitForRefreshes(window, kManyRefreshes);
        compareShown(window, lcd, time, 23, rate, 13, source);
    }

    void textFontFitsTheLabel_data()
    {
        QTest::addColumn<QList<QSize>>("sizes");
        QTest::addColumn<QSize>("labelMaximum");
        QTest::addColumn<Traffic>("traffic");
        QTest::addColumn<QString>("binding");

        const QSize unlimited(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        const Traffic silence;
        const Traffic one{{kA, 4, 3, 2, 1, 1}};
        const Traffic two{{kA, 4, 3, 2, 1, 1}, {kB, 29, 59, 0, 10, 0}};
        QTest::newRow("as first shown") << QList<QSize>{} << unlimited << silence << "height+width";
        QTest::newRow("large, no signal")
            << QList<QSize>{{1200, 800}} << unlimited << silence << "width";
        QTest::newRow("large, one sender")
            << QList<QSize>{{1200, 800}} << unlimited << one << "width";
        QTest::newRow("wide and low") << QList<QSize>{{1600, 260}} << unlimited << one << "height";
        QTest::newRow("tall and narrow") << QList<QSize>{{500, 900}} << unlimited << one << "width";
        QTest::newRow("two senders, one line's height counts")
            << QList<QSize>{{1800, 420}} << unlimited << two << "width";
        QTest::newRow("grown, then small: never below 22")
            << QList<QSize>{{500, 300}, {60, 40}} << unlimited << one << "height+width";
        QTest::newRow("zero-sized label")
            << QList<QSize>{{900, 500}} << QSize(0, 0) << one << "height+width";
    }

    void textFontFitsTheLabel()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(QList<QSize>, sizes);
        QFETCH(QSize, labelMaximum);
        QFETCH(Traffic, traffic);
        QFETCH(QString, binding);
        chooseVariant(false);

        MainWindow window;
        QLabel* label = MainWindowProbe::timecodeLabel(window);
        QLabel* rateLabel = MainWindowProbe::rateLabel(window);
        QVERIFY(label && rateLabel);
        label->setMaximumSize(labelMaximum);
        ResizeWitness witness(&window, label);

        // Nothing asserts while the capture runs: QtTest's own report would vanish into it.
        std::unique_ptr<OutputCapture> capture;
        bool exposed = true;
        bool resized = true;
        if (sizes.isEmpty()) {
            // Showing the window is the first resize it gets.
            capture = std::make_unique<OutputCapture>();
            window.show();
            exposed = QTest::qWaitForWindowExposed(&window);
        } else {
            showWindow(window);
            if (!traffic.isEmpty()) {
                send(window, traffic);
                waitForRefreshes(window, 1);
            }
            witness.seen.clear();
            capture = std::make_unique<OutputCapture>();
            for (const QSize& size : sizes) {
                window.resize(size);
                // A window cannot be made smaller than its layout needs.
                resized =
                    resized &&
                    QTest::qWaitFor(
                        [&] { return window.size() == size.expandedTo(window.minimumSize()); },
                        5000);
            }
        }
        // Whatever the resizes set off in the layouts has run.
        QCoreApplication::processEvents();
        capture->finish();
        QVERIFY(exposed);
        QVERIFY(resized);
        QVERIFY(!witness.seen.isEmpty());

        // One line per resize event, each for the label as it was at that event.
        const QString family = label->font().family();
        QCOMPARE(family, window.font().family());
        QStringList expectedLines;
        for (const ResizeWitness::Seen& seen : witness.seen) {
            const QSize size = seen.labelSize;
            expectedLines << fittingLine(
                expectedPointSize(family, seen.text, size.height(), size.width()), size.height(),
                size.width());
        }
        QCOMPARE(capture->debugMessages(), expectedLines);

        const ResizeWitness::Seen last = witness.seen.last();
        const int height = last.labelSize.height();
        const int width = last.labelSize.width();
        const int expected = expectedPointSize(family, last.text, height, width);
        QCOMPARE(label->font().pointSize(), expected);
        QCOMPARE(label->font().weight(), QFont::Bold);
        QVERIFY(!label->font().italic());
        // The row shows what it is named for.
        QCOMPARE(bindingLimit(family, last.text, expected, height, width), binding);
        if (labelMaximum.isNull())
            QCOMPARE(last.labelSize, QSize(0, 0));

        QCOMPARE(rateLabel->font().pointSize(), 22);
        QCOMPARE(rateLabel->font().weight(), QFont::Bold);
        QCOMPARE(rateLabel->font().family(), family);
    }

    void sevenSegmentIsNotRefitted()
    {
        REQUIRE_PRIVATE_NETWORK();
        chooseVariant(true);
        OutputCapture capture;
        MainWindow window;
        QLCDNumber* time = MainWindowProbe::timecodeLcd(window);
        QLCDNumber* rate = MainWindowProbe::rateLcd(window);
        const QFont timeFont = time->font();
        const QFont rateFont = rate->font();
        window.show();
        const bool exposed = QTest::qWaitForWindowExposed(&window);
        bool resized = true;
        for (const QSize& size : {QSize(1200, 800), QSize(300, 200), QSize(1600, 260)}) {
            window.resize(size);
            resized = resized && QTest::qWaitFor([&] { return window.size() == size; }, 5000);
        }
        QSignalSpy refreshes(MainWindowProbe::timer(window), &QTimer::timeout);
        const bool refreshed = QTest::qWaitFor([&] { return refreshes.count() >= 2; }, 5000);
        capture.finish();
        QVERIFY(exposed);
        QVERIFY(refreshed);
        QVERIFY(resized);
        QCOMPARE(capture.debugMessages(), QStringList());
        QCOMPARE(time->font(), timeFont);
        QCOMPARE(rate->font(), rateFont);
        QCOMPARE(MainWindowProbe::sourceLabel(window)->font(), window.font());
    }

    // Cases the window cannot reach: a label far larger than any screen.
    void fittedPointSize_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("size");

        const QString time = QStringLiteral("01:02:03:04");
        QTest::newRow("nothing reached up to 999: 22") << "." << 100000 << 100000 << 22;
        QTest::newRow("zero label: 22") << time << 0 << 0 << 22;
        QTest::newRow("tiny label: 22") << time << 2 << 2 << 22;
        QTest::newRow("ordinary label") << time << 300 << 1000 << -1;
        QTest::newRow("only the height limits") << time << 200 << 100000 << -1;
        QTest::newRow("only the width limits") << time << 100000 << 900 << -1;
        QTest::newRow("several lines, one line's height counts")
            << time + "\n" + time + "\n" + time << 240 << 100000 << -1;
    }

    void fittedPointSize()
    {
        QFETCH(QString, text);
        QFETCH(int, height);
        QFETCH(int, width);
        QFETCH(int, size);
        const QString family = QApplication::font().family();
        const int expected = size > 0 ? size : expectedPointSize(family, text, height, width);
        QCOMPARE(TimecodeText::fittedPointSize(family, text, height, width), expected);
    }

    // The exact limit counts as reached: a line height equal to two thirds of the label stops
    // the search at that size, one pixel more lets it go on.
    void fittedPointSizeAtTheLimit_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("23") << 23;
        QTest::newRow("40") << 40;
        QTest::newRow("120") << 120;
        QTest::newRow("999, the last size tried") << 999;
    }

    void fittedPointSizeAtTheLimit()
    {
        QFETCH(int, size);
        const QString family = QApplication::font().family();
        QFont font(family);
        font.setPointSize(size);
        font.setWeight(QFont::Bold);
        const QFontMetrics metrics(font);
        const int lineHeight = metrics.height();
        const int textWidth = metrics.horizontalAdvance(QStringLiteral("01:02:03:04"));

        // A label whose two thirds, truncated, are exactly this size's line height: the size
        // reaches the limit, so the search stops at it or before.
        const int heightAtLimit = (3 * lineHeight + 1) / 2;
        QCOMPARE((2 * heightAtLimit) / 3, lineHeight);
        const int atHeight = TimecodeText::fittedPointSize(family, QStringLiteral("01:02:03:04"),
                                                           heightAtLimit, 100000);
        QVERIFY2(atHeight < size, qPrintable(QString::number(atHeight)));
        QCOMPARE(atHeight,
                 expectedPointSize(family, QStringLiteral("01:02:03:04"), heightAtLimit, 100000));

        // At 999 the height half already shows that the last size is measured before the search
        // gives up; the width half would repeat it at the cost of another second.
        if (size == 999)
            return;
        const int widthAtLimit = (3 * textWidth + 1) / 2;
        QCOMPARE((2 * widthAtLimit) / 3, textWidth);
        const int atWidth = TimecodeText::fittedPointSize(family, QStringLiteral("01:02:03:04"),
                                                          100000, widthAtLimit);
        QVERIFY2(atWidth < size, qPrintable(QString::number(atWidth)));
        QCOMPARE(atWidth,
                 expectedPointSize(family, QStringLiteral("01:02:03:04"), 100000, widthAtLimit));
    }
};

QTEST_MAIN(DisplayTest)
#include "tst_display.moc"
