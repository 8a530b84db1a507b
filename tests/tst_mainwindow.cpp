// The window as the user sees it: the setting that picks the display and the widgets it is made
// of, the node it creates and how it configures it, its title and refresh timer; and what it
// shows, fed by real ArtTimeCode datagrams on loopback and refreshed by its own 41 ms timer, in
// both variants, with the text variant's font fitting when the window is resized or a sender
// joins, and its search for the size held against trying every size. At the size it opens at, the
// room every sender's line needs; a sender gone silent drawn dimmed; full screen.
#include "capture.h"
#include "chronolume_config.h"
#include "displayrules.h"
#include "fitreference.h"
#include "probes.h"
#include "sandbox.h"
#include "senderlabel.h"
#include "settingsstore.h"
#include "steppedclock.h"
#include "timecodetext.h"
#include "traffic.h"
#include "windowoptions.h"
#include "windowprobes.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <functional>

using namespace TestSupport;

namespace {

// ArtTimeCode datagrams as controllers send them, each from its own address, and what the
// window then shows.
using Traffic = QList<QPair<QString, QByteArray>>;
struct Shown
{
    QString time, rate, source;
    int timeDigits = 11, rateDigits = 6;
};

const QString kA = QStringLiteral("127.0.0.2");
const QString kB = QStringLiteral("127.0.0.3");
const Traffic kAThenB{{kA, artTimeCode(4, 3, 2, 1, 1)}, {kB, artTimeCode(29, 59, 0, 10, 0)}};

// One timecode from each of the first count controllers, 127.0.0.2 upward.
Traffic fromControllers(int count)
{
    Traffic traffic;
    for (int n = 0; n < count; ++n)
        traffic.append({QStringLiteral("127.0.0.%1").arg(n + 2), artTimeCode(n, 59, 59, 23, 1)});
    return traffic;
}

// The timecode label's font is the largest whose text, as the label shows it, stays within two
// thirds of the label both ways: every line drawn inside the label, and one point more would
// reach a limit, with the lines stacked or with the widest line.
void checkFillsTwoThirds(const QLabel& label)
{
    const QFont font = label.font();
    const QString text = label.text();
    const QRect inside = label.contentsRect();
    const QRect drawn = QFontMetrics(font).boundingRect(inside, int(label.alignment()), text);
    QVERIFY2(inside.contains(drawn), qPrintable(QStringLiteral("%1 pt text of %2 x %3 in %4 x %5")
                                                    .arg(font.pointSize())
                                                    .arg(drawn.width())
                                                    .arg(drawn.height())
                                                    .arg(inside.width())
                                                    .arg(inside.height())));

    const auto reaches = [&](int size) {
        return FitReference::reaches(font.family(), text, size, label.size());
    };
    QCOMPARE(font, QFont(font.family(), font.pointSize(), QFont::Bold));
    QVERIFY(font.pointSize() > 22);
    QVERIFY(!reaches(font.pointSize()));
    QVERIFY(reaches(font.pointSize() + 1));
}

// What a display widget shows: a label its text. A seven-segment number cannot be asked, so its
// picture is compared with one set up like the window's, showing the expected text on the
// expected number of digits; any other picture comes back as a text no row expects.
QString seen(QWidget* widget, const QString& expected, int digits)
{
    if (const auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    QLCDNumber reference;
    reference.setSegmentStyle(QLCDNumber::Flat);
    reference.setFrameStyle(QFrame::NoFrame);
    reference.setDigitCount(digits);
    reference.resize(widget->size());
    reference.display(expected);
    const auto picture = [](QWidget& shown) {
        return shown.grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    return picture(*widget) == picture(reference) ? expected : QStringLiteral("(another picture)");
}

// Calls note at every event of one type that an object receives, before the object handles it.
struct EventHook : QObject
{
    EventHook(QObject* watched, QEvent::Type type, std::function<void()> note)
        : type(type), note(std::move(note))
    {
        watched->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == type)
            note();
        return false;
    }
    QEvent::Type type;
    std::function<void()> note;
};

// False if a datagram could not be sent whole or the window's node did not read them.
[[nodiscard]] bool send(MainWindow& window, const Traffic& traffic)
{
    for (const auto& [from, datagram] : traffic) {
        if (Controller(QHostAddress(from)).send(datagram) != datagram.size())
            return false;
    }
    return settle(*MainWindowProbe::node(window));
}

// Lets the window's own timer run; whatever was received before is on show after the first.
// False if it did not run count times within 5 s.
[[nodiscard]] bool waitForRefreshes(MainWindow& window, int count)
{
    QSignalSpy refreshes(MainWindowProbe::timer(window), &QTimer::timeout);
    return QTest::qWaitFor([&] { return refreshes.count() >= count; }, 5000);
}

// Which senders the window shows dimmed, as the source label has them: one flag per line, or on
// the seven-segment display one for all. Empty unless the timecode and the rate agree.
QList<bool> shownDimmed(const MainWindow& window)
{
    const QList<bool> flags = MainWindowProbe::sourceLabel(window)->dimmedLines();
    for (QWidget* widget :
         {MainWindowProbe::timeWidget(window), MainWindowProbe::rateWidget(window)}) {
        const auto* label = qobject_cast<SenderLabel*>(widget);
        if (label ? label->dimmedLines() != flags
                  : QList<bool>{widget->palette().color(QPalette::WindowText) !=
                                window.palette().color(QPalette::WindowText)} != flags)
            return {};
    }
    return flags;
}

// The darkest colour in rows top to bottom of a picture: the colour of the text drawn there.
QColor darkestIn(const QImage& picture, int top, int bottom)
{
    QColor darkest = Qt::white;
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (picture.pixelColor(x, y).lightness() < darkest.lightness())
                darkest = picture.pixelColor(x, y);
        }
    }
    return darkest;
}

// The family of the test font whose digits differ in width, six the widest and one the narrowest.
const QString kUnequalDigits = QStringLiteral("Unequal Digits");

// The three labels' texts for the first count controllers of fromControllers, as the text
// variant shows them.
QStringList linesOf(int count)
{
    QStringList time, rate, sources;
    for (int n = 0; n < count; ++n) {
        time << QStringLiteral("23:59:59:%1").arg(n, 2, 10, QLatin1Char('0'));
        rate << QStringLiteral("25 FPS");
        sources << QStringLiteral("127.0.0.%1").arg(n + 2);
    }
    return {time.join('\n'), rate.join('\n'), sources.join('\n')};
}

// The room the three labels' lines take stacked, the timecode and the rate in bold at size,
// the addresses in their font no larger than that, measured here line by line.
QSize stackedRoom(const QString& family, const QStringList& texts, const QFont& sourcesFont,
                  int size)
{
    QFont addresses = sourcesFont;
    addresses.setPointSize(std::min(size, sourcesFont.pointSize()));
    const QFont bold(family, size, QFont::Bold);
    QSize room = DisplayRules::floorExtent(family, texts[0], size);
    for (const auto& [text, font] : {std::pair(texts[1], bold), std::pair(texts[2], addresses)}) {
        const QFontMetrics metrics(font);
        const int lines = int(text.count('\n')) + 1;
        room.rheight() += lines * metrics.height() + (lines - 1) * metrics.leading();
        for (const QString& line : text.split('\n'))
            room.setWidth(std::max(room.width(), metrics.boundingRect(QRect(), 0, line).width()));
    }
    return room;
}

// Live text red and the background white, so that every pixel of a line tells which colour drew
// it: red blended with white keeps more red than green, the grey of a silent sender blended with
// white stays grey.
QPalette redOnWhite()
{
    QPalette colours;
    colours.setColor(QPalette::Window, Qt::white);
    colours.setColor(QPalette::WindowText, QColor(255, 0, 0));
    return colours;
}

// Which colour drew each line of a label on the window: 0 the live red for every pixel of its
// glyphs, 1 the silent grey for every one, -1 both or another. A line's glyphs are where a label
// set up as this one draws them when it shows that line alone.
QList<int> linesDrawn(QLabel& label)
{
    const QImage shown = label.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QStringList lines = label.text().split(QLatin1Char('\n'));
    QLabel alone;
    alone.setTextFormat(Qt::PlainText);
    alone.setAlignment(label.alignment());
    alone.setFont(label.font());
    alone.resize(label.size());
    const QRgb white = qRgb(255, 255, 255);
    QList<int> drawn;
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QStringList blanked;
        for (qsizetype other = 0; other < lines.size(); ++other)
            blanked << (other == n ? lines[n] : QString(lines[other].size(), QLatin1Char(' ')));
        alone.setText(blanked.join(QLatin1Char('\n')));
        const QImage glyphs = alone.grab().toImage().convertToFormat(QImage::Format_RGB32);
        QSet<int> colours;
        for (int y = 0; y < glyphs.height(); ++y) {
            for (int x = 0; x < glyphs.width(); ++x) {
                const QRgb pixel = shown.pixel(x, y);
                if (glyphs.pixel(x, y) == glyphs.pixel(0, 0) || pixel == white)
                    continue;
                const bool grey = qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel);
                const bool red = qRed(pixel) == 255 && qGreen(pixel) == qBlue(pixel);
                colours.insert(grey ? 1 : red ? 0 : -1);
            }
        }
        drawn.append(colours.size() == 1 ? *colours.begin() : -1);
    }
    return drawn;
}
} // namespace

Q_DECLARE_METATYPE(Traffic)
Q_DECLARE_METATYPE(Shown)

class MainWindowTest : public QObject
{
    Q_OBJECT

    SettingsStore settings;

private slots:
    void initTestCase()
    {
        QVERIFY(settings.isValid());
        for (const char* font : {CHRONOLUME_UNEQUAL_DIGITS_FONT, CHRONOLUME_GAPPED_DIGITS_FONT,
                                 CHRONOLUME_OVERLAPPING_DIGITS_FONT})
            QVERIFY(QFontDatabase::addApplicationFont(QString::fromUtf8(font)) >= 0);
        const QFontMetrics unequal(QFont(kUnequalDigits, 22, QFont::Bold));
        QVERIFY(unequal.horizontalAdvance('6') > unequal.horizontalAdvance('9'));
        QVERIFY(unequal.horizontalAdvance('9') > unequal.horizontalAdvance('0'));
    }
    void init() { QVERIFY(settings.write(QByteArray())); }

    void startUp_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("lcd");
        QTest::newRow("no settings file") << QByteArray() << false;
        QTest::newRow("no UseLcd key") << QByteArray("[General]\nOther=1\n") << false;
        QTest::newRow("UseLcd true") << QByteArray("[General]\nUseLcd=true\n") << true;
        QTest::newRow("UseLcd false") << QByteArray("[General]\nUseLcd=false\n") << false;
        QTest::newRow("UseLcd 1") << QByteArray("[General]\nUseLcd=1\n") << true;
    }

    // The title, the node as the window sets it up, and the refresh. The setting picks labels or
    // flat, frameless seven-segment numbers; either way the display stands above the title and
    // the link, every label centred, and the timecode takes the lion's share of extra height.
    void startUp()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(QByteArray, content);
        QFETCH(bool, lcd);
        QVERIFY(settings.write(content));
        {
            MainWindow window;
            QCOMPARE(window.windowTitle(), QStringLiteral("Chronolume"));
            QCOMPARE(MainWindowProbe::titleLabel(window)->text(),
                     QStringLiteral("Chronolume v1.0.2"));
            QCOMPARE(MainWindowProbe::timer(window)->interval(), 41);
            const artnet& node = *MainWindowProbe::node(window);
            QVERIFY(node.shareBind);
            QCOMPARE((QList<int>{node.versionHi, node.versionLo, node.oemHi, node.oemLo}),
                     (QList<int>{1, 0, 0x0C, 0x12}));
            QCOMPARE(ArtnetProbe::shortName(node), QStringLiteral("Tempolis"));
            QCOMPARE(ArtnetProbe::longName(node),
                     QStringLiteral("Chronolume v1.0.2 by ") + QLatin1String(chronolume::kWebHost));
            QVERIFY(ArtnetProbe::pollReplyEnabled(node));
            QVERIFY(ArtnetProbe::socketReady(node));

            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            // Nothing else made and left lying in the window: title, link and source, and two of
            // the variant's widgets.
            QCOMPARE(window.findChildren<QLabel*>().size(), lcd ? 3 : 5);
            const QList<QLCDNumber*> numbers = window.findChildren<QLCDNumber*>();
            QCOMPARE(numbers.size(), lcd ? 2 : 0);
            for (const QLCDNumber* number : numbers)
                QVERIFY(number->segmentStyle() == QLCDNumber::Flat &&
                        number->frameStyle() == QFrame::NoFrame);

            const QWidgetList column{
                MainWindowProbe::timeWidget(window), MainWindowProbe::rateWidget(window),
                MainWindowProbe::sourceLabel(window), MainWindowProbe::titleLabel(window),
                MainWindowProbe::linkLabel(window)};
            // Where each stands in the window: a number stands in a column of its own.
            const auto placed = [&](const QWidget* widget) {
                return QRect(widget->mapTo(&window, QPoint()), widget->size());
            };
            for (qsizetype i = 0; i < column.size(); ++i) {
                QVERIFY(window.isAncestorOf(column[i]));
                QVERIFY(i == 0 || placed(column[i - 1]).bottom() <= placed(column[i]).top());
                if (const auto* label = qobject_cast<QLabel*>(column[i]))
                    QCOMPARE(label->alignment(), Qt::AlignCenter);
            }
            window.resize(window.width(), window.height() + 300);
            QTRY_VERIFY(column[0]->height() > 2 * column[2]->height());
        }
        // Read, never written: the store looks exactly as before the run.
        QCOMPARE(QFile::exists(settings.file()), !content.isEmpty());
        QCOMPARE(settings.read(), content);
    }

    void nodeBindFailureStillShowsTheWindow()
    {
        REQUIRE_PRIVATE_NETWORK();
        QUdpSocket blocker;
        QVERIFY(blocker.bind(QHostAddress::AnyIPv4, 6454));
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const artnet& node = *MainWindowProbe::node(window);
        QVERIFY(!ArtnetProbe::pollReplyEnabled(node));
        QCOMPARE(MainWindowProbe::timecodeLabel(window)->text(), QStringLiteral("--:--:--:--"));
        // The refresh keeps trying, takes the port once it is free, and from then on answers
        // polls, so that the desks list the window after all.
        blocker.close();
        QTRY_VERIFY(ArtnetProbe::socketReady(node));
        QVERIFY(ArtnetProbe::pollReplyEnabled(node));
    }

    void display_data()
    {
        QTest::addColumn<bool>("lcd");
        QTest::addColumn<Traffic>("traffic");
        QTest::addColumn<Shown>("shown");

        const Shown none{"--:--:--:--", "-- fps", "0.0.0.0"};
        QTest::newRow("text, no timecode") << false << Traffic{} << none;
        QTest::newRow("seven-segment, no timecode") << true << Traffic{} << none;
        QTest::newRow("seven-segment, 1:2:3:4") << true << Traffic{{kA, artTimeCode(4, 3, 2, 1, 1)}}
                                                << Shown{"01:02:03:04", "25 FPS", kA};
        QTest::newRow("9 gets a zero, type 2") << false << Traffic{{kA, artTimeCode(9, 9, 9, 9, 2)}}
                                               << Shown{"09:09:09:09", "30 Drop", kA};
        QTest::newRow("frames 123 as received, type 3")
            << false << Traffic{{kA, artTimeCode(123, 0, 0, 0, 3)}}
            << Shown{"00:00:00:123", "30 FPS", kA};
        QTest::newRow("text, A then B: two lines, A first, two digits stay")
            << false << kAThenB
            << Shown{"01:02:03:04\n10:00:59:29", "25 FPS\n24 FPS", kA + "\n" + kB};
        QTest::newRow("seven-segment, A then B: one blank between")
            << true << kAThenB
            << Shown{"01:02:03:04 10:00:59:29", "25 FPS 24 FPS", kA + " " + kB, 23, 13};
        QTest::newRow("type 7 keeps its empty place")
            << false << Traffic{{kA, artTimeCode(1, 0, 0, 0, 1)}, {kB, artTimeCode(2, 0, 0, 0, 7)}}
            << Shown{"00:00:00:01\n00:00:00:02", "25 FPS\n", kA + "\n" + kB};
    }

    // What each variant shows at the first refresh, and still once the senders have long fallen
    // silent: no time-out brings the no-signal texts back. The same timecodes again build no
    // texts; a new one is drawn by the first refresh after it arrived, not on receipt. Resized,
    // the text variant fits its font anew; the seven-segment numbers scale by themselves.
    void display()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(bool, lcd);
        QFETCH(Traffic, traffic);
        QFETCH(Shown, shown);
        QVERIFY(settings.write(lcd ? QByteArray("[General]\nUseLcd=true\n") : QByteArray()));
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QWidget* time = MainWindowProbe::timeWidget(window);
        int paints = 0;
        EventHook counter(time, QEvent::Paint, [&] { ++paints; });
        QVERIFY(send(window, traffic));
        QVERIFY(waitForRefreshes(window, 1));
        // Everything arrived before one refresh, which built the texts once, if at all.
        const quint64 built = MainWindowProbe::textBuilds(window);
        QCOMPARE(built, quint64(traffic.isEmpty() ? 0 : 1));
        for (const bool again : {false, true}) {
            if (again) {
                QVERIFY(send(window, traffic));
                QVERIFY(waitForRefreshes(window, 8));
                QCOMPARE(MainWindowProbe::textBuilds(window), built);
            }
            QCOMPARE(MainWindowProbe::sourceLabel(window)->text(), shown.source);
            QCOMPARE(seen(time, shown.time, shown.timeDigits), shown.time);
            QCOMPARE(seen(MainWindowProbe::rateWidget(window), shown.rate, shown.rateDigits),
                     shown.rate);
        }

        // Taken as each refresh ends: at the second, whatever the first drew has been drawn.
        QTimer* timer = MainWindowProbe::timer(window);
        timer->stop();
        paints = 0;
        QVERIFY(send(window, {{kA, artTimeCode(5, 3, 2, 1, 1)}}));
        QList<int> paintsAtRefresh;
        connect(timer, &QTimer::timeout, this, [&] { paintsAtRefresh.append(paints); });
        timer->start();
        QTRY_VERIFY_WITH_TIMEOUT(paintsAtRefresh.size() >= 2, 5000);
        QCOMPARE(paintsAtRefresh[0], 0);
        QVERIFY(paintsAtRefresh[1] > 0);

        // The label at each resize event, as the window's own handler finds it: the layouts have
        // run, the handler has not. Nothing asserts while the capture runs: QtTest's own report
        // would vanish into it. The refreshes that follow fit nothing either.
        QLabel* label = MainWindowProbe::timecodeLabel(window);
        int resizes = 0;
        QList<QPair<QSize, QString>> atResize;
        EventHook witness(&window, QEvent::Resize, [&] {
            ++resizes;
            if (label)
                atResize.append({label->size(), label->text()});
        });
        OutputCapture capture;
        window.resize(1800, 420);
        const int before = paintsAtRefresh.size();
        const bool resized = QTest::qWaitFor(
            [&] { return window.width() == 1800 && paintsAtRefresh.size() >= before + 2; }, 5000);
        QCoreApplication::processEvents();
        capture.finish();
        QVERIFY(resized);
        QVERIFY(resizes > 0);

        // One line per resize event. Every line of the text counts.
        const QString family = window.font().family();
        QStringList lines;
        int fitted = 0;
        for (const auto& [size, text] : std::as_const(atResize)) {
            fitted = FitReference::oneByOne(family, text, size);
            lines << QStringLiteral("font height: %1  height %2  width %3")
                         .arg(fitted)
                         .arg(size.height())
                         .arg(size.width());
        }
        QCOMPARE(capture.debugMessages(), lines);
        if (label) {
            QVERIFY(fitted > 22);
            QCOMPARE(label->font(), QFont(family, fitted, QFont::Bold));
            QCOMPARE(MainWindowProbe::rateLabel(window)->font(), QFont(family, 22, QFont::Bold));
        }
    }

    void searchFindsTheOneByOneSize_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QSize>("label");
        QTest::addColumn<int>("floor");

        const QString none = QStringLiteral("--:--:--:--");
        const QString one = QStringLiteral("01:02:03:04");
        const QString two = one + QStringLiteral("\n10:00:59:29");
        const QString three = two + QStringLiteral("\n23:59:59:29");
        QString eight = three;
        for (int n = 3; n < 8; ++n)
            eight += QStringLiteral("\n00:00:00:0%1").arg(n);

        QTest::newRow("no signal, 480 x 320") << none << QSize(480, 320) << 22;
        QTest::newRow("no signal, 3840 x 2160") << none << QSize(3840, 2160) << 22;
        QTest::newRow("one, 40 x 30: the first size reaches") << one << QSize(40, 30) << 22;
        QTest::newRow("one, 1000 x 600") << one << QSize(1000, 600) << 22;
        QTest::newRow("one, 1900 x 300: height decides") << one << QSize(1900, 300) << 22;
        QTest::newRow("one, 3840 x 2160") << one << QSize(3840, 2160) << 22;
        QTest::newRow("one, 8000 x 3000") << one << QSize(8000, 3000) << 22;
        QTest::newRow("one, 300 x 4000: width decides") << one << QSize(300, 4000) << 22;
        QTest::newRow("frames 123, 1900 x 1000")
            << QStringLiteral("00:00:00:123") << QSize(1900, 1000) << 22;
        QTest::newRow("nothing up to 999 reaches")
            << QStringLiteral(".") << QSize(100000, 100000) << 22;
        QTest::newRow("two, 1900 x 400") << two << QSize(1900, 400) << 22;
        QTest::newRow("two, 1900 x 1000") << two << QSize(1900, 1000) << 22;
        QTest::newRow("two, 3840 x 2160") << two << QSize(3840, 2160) << 22;
        QTest::newRow("three, 1000 x 600") << three << QSize(1000, 600) << 22;
        QTest::newRow("three, 8000 x 3000") << three << QSize(8000, 3000) << 22;
        QTest::newRow("eight, 3840 x 2160") << eight << QSize(3840, 2160) << 22;
        QTest::newRow("eight, 1000 x 300: the first size reaches")
            << eight << QSize(1000, 300) << 22;
        QTest::newRow("eight, 1000 x 300, a floor of 10") << eight << QSize(1000, 300) << 10;
        QTest::newRow("eight, 400 x 150, a floor of 10: the first size reaches")
            << eight << QSize(400, 150) << 10;
    }

    // The window's search against trying every size in turn; for one line also against the
    // rule that measured one line's height and the text as one line.
    void searchFindsTheOneByOneSize()
    {
        QFETCH(QString, text);
        QFETCH(QSize, label);
        QFETCH(int, floor);
        const QString family = QApplication::font().family();
        const int found =
            TimecodeText::fittedPointSize(family, text, label.height(), label.width(), floor);
        QCOMPARE(found, FitReference::oneByOne(family, text, label, floor));
        if (!text.contains(QLatin1Char('\n')) && floor == 22)
            QCOMPARE(found, FitReference::oneLine(family, text, label));
    }

    void floorExtent_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("widestPlaces"); // # where a digit may stand
        QTest::addColumn<QString>("family");       // empty: the desktop's
        const QString places = QStringLiteral("##:##:##:##");
        QTest::newRow("no signal keeps a timecode's room")
            << "--:--:--:--" << 1 << places << QString();
        QTest::newRow("narrow digits count as the widest")
            << "11:11:11:11" << 1 << places << QString();
        QTest::newRow("two senders: one line more")
            << "01:02:03:04\n10:00:59:29" << 2 << places << QString();
        QTest::newRow("three digits widen the line")
            << "00:00:00:123\n01:00:00:00" << 2 << QStringLiteral("##:##:##:###") << QString();
        QTest::newRow("eight senders")
            << QStringList(8, places).join('\n') << 8 << places << QString();
        QTest::newRow("digits of unequal width: the widest, neither first nor last")
            << "10:11:17:01" << 1 << places << kUnequalDigits;
    }

    // The timecode label's minimum: the widest line at 22 points bold, whichever digit stands in
    // each place, and the lines stacked a line spacing apart.
    void floorExtent()
    {
        QFETCH(QString, text);
        QFETCH(int, lines);
        QFETCH(QString, widestPlaces);
        QFETCH(QString, family);
        // A font of the test's own, not a stand-in for it.
        if (!family.isEmpty())
            QCOMPARE(QFontInfo(QFont(family, 22, QFont::Bold)).family(), family);
        else
            family = QApplication::font().family();
        const QFontMetrics metrics(QFont(family, 22, QFont::Bold));
        int widest = 0;
        for (const char digit : QByteArray("0123456789")) {
            const QString line = QString(widestPlaces).replace('#', QLatin1Char(digit));
            widest = std::max(widest, metrics.boundingRect(QRect(), 0, line).width());
        }
        QCOMPARE(DisplayRules::floorExtent(family, text),
                 QSize(widest, lines * metrics.height() + (lines - 1) * metrics.leading()));
    }

    void floorOnScreen_data()
    {
        QTest::addColumn<int>("senders");
        QTest::addColumn<QSize>("less"); // than the room their lines take at the floor
        QTest::addColumn<int>("size");   // 0: the largest below the floor at which they fit
        QTest::newRow("one, its room exactly: the floor") << 1 << QSize(0, 0) << 22;
        QTest::newRow("one, a pixel less high") << 1 << QSize(0, 1) << 0;
        QTest::newRow("one, a pixel less wide") << 1 << QSize(1, 0) << 0;
        QTest::newRow("sixteen, their room exactly: the floor") << 16 << QSize(0, 0) << 22;
        QTest::newRow("sixteen, a pixel less high") << 16 << QSize(0, 1) << 0;
        QTest::newRow("sixteen, a pixel less wide") << 16 << QSize(1, 0) << 0;
        QTest::newRow("sixteen, 600 pixels less high") << 16 << QSize(0, 600) << 0;
        QTest::newRow("no room at all: 1") << 16 << QSize(100000, 100000) << 1;
    }

    // The floor gives way only where the lines do not fit at it, and then only as far as they
    // need: they fit at the size found and not at one more. The addresses shrink with the rest
    // once the size goes below their own.
    void floorOnScreen()
    {
        QFETCH(int, senders);
        QFETCH(QSize, less);
        QFETCH(int, size);
        const QString family = QApplication::font().family();
        const QFont sourcesFont = QApplication::font();
        const QStringList texts = linesOf(senders);
        const auto fits = [&](int at, QSize room) {
            const QSize taken = stackedRoom(family, texts, sourcesFont, at);
            return taken.width() <= room.width() && taken.height() <= room.height();
        };
        const QSize room = stackedRoom(family, texts, sourcesFont, 22) - less;
        const int found =
            DisplayRules::floorOnScreen(family, texts[0], texts[1], texts[2], sourcesFont, room);
        if (size > 0) {
            QCOMPARE(found, size);
            return;
        }
        QVERIFY2(found > 1 && found < 22, qPrintable(QString::number(found)));
        QVERIFY(fits(found, room));
        QVERIFY(!fits(found + 1, room));
    }

    void lineRows_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("extra"); // rows of the label beyond its text's
        // DejaVu Sans's lines are a fraction of a pixel higher or lower than its whole-pixel
        // metrics say, and have no leading; the test's digits come with a leading, positive or
        // negative, which is a fraction of a pixel at most sizes.
        const QString dejaVu = QStringLiteral("DejaVu Sans");
        const QString gapped = QStringLiteral("Gapped Digits");
        const QString overlapping = QStringLiteral("Overlapping Digits");
        QTest::newRow("8 pt, 64 lines") << dejaVu << 8 << 64 << 0;
        QTest::newRow("10 pt, 32 lines, an odd row more") << dejaVu << 10 << 32 << 1;
        QTest::newRow("14 pt, 16 lines: where it broke") << dejaVu << 14 << 16 << 0;
        QTest::newRow("15 pt, 16 lines") << dejaVu << 15 << 16 << 0;
        QTest::newRow("17 pt, 15 lines") << dejaVu << 17 << 15 << 7;
        QTest::newRow("23 pt, two lines") << dejaVu << 23 << 2 << 0;
        QTest::newRow("37 pt, 8 lines in twice their room") << dejaVu << 37 << 8 << 500;
        QTest::newRow("100 pt, 6 lines") << dejaVu << 100 << 6 << 0;
        QTest::newRow("200 pt, 3 lines") << dejaVu << 200 << 3 << 0;
        QTest::newRow("positive leading, 8 pt, 64 lines") << gapped << 8 << 64 << 0;
        QTest::newRow("positive leading, 11 pt, 24 lines") << gapped << 11 << 24 << 1;
        QTest::newRow("positive leading, 100 pt, 3 lines") << gapped << 100 << 3 << 0;
        QTest::newRow("negative leading, 8 pt, 40 lines") << overlapping << 8 << 40 << 5;
        QTest::newRow("negative leading, 15 pt, 16 lines") << overlapping << 15 << 16 << 0;
        QTest::newRow("negative leading, 200 pt, 2 lines") << overlapping << 200 << 2 << 1;
    }

    // Every line of a label, drawn by the label alone with the others left blank, lies within
    // the rows the rule gives it: the rows follow where Qt draws each line, at every size and
    // count, whatever the font's leading.
    void lineRows()
    {
        QFETCH(QString, family);
        QFETCH(int, size);
        QFETCH(int, lines);
        QFETCH(int, extra);
        const QFont font(family, size, QFont::Bold);
        QCOMPARE(QFontInfo(font).family(), family);
        // The test's fonts have digits and colons only.
        const bool letters = family == QLatin1String("DejaVu Sans");
        QStringList texts;
        for (int n = 0; n < lines; ++n) {
            // Descenders too, and the separators of an address line.
            texts << (letters && n % 2
                          ? QStringLiteral("Gypsy desk \u00B7 10.0.0.%1").arg(n)
                          : QStringLiteral("23:59:59:%1").arg(n, 2, 10, QLatin1Char('0')));
        }
        QLabel label;
        label.setTextFormat(Qt::PlainText);
        label.setAlignment(Qt::AlignCenter);
        label.setFont(font);
        label.resize(QFontMetrics(font).size(0, texts.join('\n')) + QSize(8, extra));
        const QList<SenderLines::Rows> rows =
            SenderLines::lineRows(font, texts.join('\n'), label.contentsRect(),
                                  int(label.alignment()), 0, label.height());
        QCOMPARE(rows.size(), lines);
        QCOMPARE(rows.first().top, 0);
        QCOMPARE(rows.last().bottom, label.height());
        for (int n = 0; n < lines; ++n) {
            QStringList alone(lines, QString());
            for (int other = 0; other < lines; ++other)
                alone[other] =
                    other == n ? texts[n] : QString(texts[other].size(), QLatin1Char(' '));
            label.setText(alone.join('\n'));
            const QImage picture = label.grab().toImage().convertToFormat(QImage::Format_RGB32);
            const QRgb background = label.palette().color(QPalette::Window).rgb();
            int first = -1, last = -1;
            for (int y = 0; y < picture.height(); ++y) {
                const auto* row = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
                if (std::any_of(row, row + picture.width(),
                                [&](QRgb p) { return p != background; })) {
                    first = first < 0 ? y : first;
                    last = y;
                }
            }
            // Rows of the picture are device pixels.
            const qreal scale = picture.devicePixelRatio();
            QVERIFY2(first >= rows[n].top * scale && last >= first && last < rows[n].bottom * scale,
                     qPrintable(QStringLiteral("line %1 drawn in rows %2 to %3, given %4 to %5")
                                    .arg(n)
                                    .arg(first)
                                    .arg(last)
                                    .arg(rows[n].top)
                                    .arg(rows[n].bottom - 1)));
        }
    }

    void columnsFor_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QSize>("room");
        QTest::addColumn<int>("columns");
        // Digits in a cell as large as its height, or a tenth of its width, whichever is less;
        // none in a cell narrower than 50 pixels.
        QTest::newRow("two, 200 x 19: a column more gives 10 over 9") << 2 << QSize(200, 19) << 2;
        QTest::newRow("two, 200 x 20: the same either way, the fewer columns")
            << 2 << QSize(200, 20) << 1;
        QTest::newRow("two, 200 x 22: one column gives 11 over 10") << 2 << QSize(200, 22) << 1;
        QTest::newRow("three, 300 x 30: two columns of two rows") << 3 << QSize(300, 30) << 2;
        QTest::newRow("two, 100 x 6: a column more gives 5 over 3") << 2 << QSize(100, 6) << 2;
        QTest::newRow("two, 99 x 6: a column more would, but no block fits its cells")
            << 2 << QSize(99, 6) << 1;
        QTest::newRow("sixteen, 1920 x 1040: two columns; three narrow the digits")
            << 16 << QSize(1920, 1040) << 2;
        QTest::newRow("sixteen, 1920 x 200: four of four, the cells most alike their digits")
            << 16 << QSize(1920, 200) << 4;
    }

    // The rows layout's columns: the most that give the digits the largest size.
    void columnsFor()
    {
        QFETCH(int, count);
        QFETCH(QSize, room);
        QFETCH(int, columns);
        const auto digits = [](QSize cell) {
            return cell.width() < 50 ? 0 : std::min(cell.width() / 10, cell.height());
        };
        QCOMPARE(DisplayRules::columnsFor(count, room, digits), columns);
    }

    void placedOnScreen_data()
    {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QPoint>("placed");
        // A 1920 x 1080 screen with a panel of 30 pixels at its top.
        QTest::newRow("inside: stays") << QRect(100, 100, 400, 300) << QPoint(100, 100);
        QTest::newRow("its bottom on the last row: stays")
            << QRect(100, 780, 400, 300) << QPoint(100, 780);
        QTest::newRow("a row past the bottom: up by one")
            << QRect(100, 781, 400, 300) << QPoint(100, 780);
        QTest::newRow("back from full screen grown by senders: up by what it reaches past")
            << QRect(0, 471, 215, 644) << QPoint(0, 436);
        QTest::newRow("a column past the right edge: left by one")
            << QRect(1521, 100, 400, 300) << QPoint(1520, 100);
        QTest::newRow("under the panel: down to the area")
            << QRect(100, 29, 400, 300) << QPoint(100, 30);
        QTest::newRow("taller than the area: its top on the area's")
            << QRect(100, 500, 400, 1100) << QPoint(100, 30);
    }

    // Where the window goes when it would reach past its screen: after full screen, and at every
    // size change.
    void placedOnScreen()
    {
        QFETCH(QRect, frame);
        QFETCH(QPoint, placed);
        QCOMPARE(DisplayRules::placedOnScreen(frame, QRect(0, 30, 1920, 1050)), placed);
    }

    // Readable against the background, 3 : 1 as large text needs, and told from the live text;
    // where halfway between them would be less readable, closer to the text.
    void dimmedColour()
    {
        QCOMPARE(DisplayRules::contrastRatio(Qt::black, Qt::white), 21.0);
        const QList<std::tuple<QColor, QColor, double>> pairs{
            {QColor(0, 0, 0), QColor(0xefefef), 4.0}, // the desktop's
            {QColor(0xf2f2f2), QColor(0, 0, 0), 4.0}, // full screen
            {QColor(0x606060), QColor(0xffffff), 1.5}};
        for (const auto& [text, background, fromText] : pairs) {
            const QColor grey = DisplayRules::dimmedColour(text, background);
            QVERIFY2(DisplayRules::contrastRatio(grey, background) >= 3.0 &&
                         DisplayRules::contrastRatio(grey, text) >= fromText,
                     qPrintable(grey.name()));
        }
    }

    void ownSizeKeepsEveryTimecodeWhole_data()
    {
        QTest::addColumn<bool>("lcd");
        QTest::addColumn<int>("senders");
        for (const bool lcd : {false, true}) {
            for (const int senders : {1, 2, 3, 8})
                QTest::addRow("%s, %d", lcd ? "seven-segment" : "text", senders) << lcd << senders;
        }
    }

    // The window left at the size it opens at, as a new user leaves it. Every line whole inside
    // the timecode label, which has at least the room of its text at the floor size (a number at
    // least the room its digits ask for, where the screen has it); the window grew no further
    // than its minimum, and the font was fitted to the label as placed.
    void ownSizeKeepsEveryTimecodeWhole()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(bool, lcd);
        QFETCH(int, senders);
        QVERIFY(settings.write(lcd ? QByteArray("[General]\nUseLcd=true\n") : QByteArray()));
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QSize opened = window.size();
        QVERIFY(send(window, fromControllers(senders)));
        QTRY_COMPARE(MainWindowProbe::sourceLabel(window)->text().count(lcd ? ' ' : '\n'),
                     senders - 1);
        QVERIFY(waitForRefreshes(window, 3));
        QCOMPARE(window.size(), opened.expandedTo(window.minimumSize()));

        QWidget* number = MainWindowProbe::timeWidget(window);
        const QLabel* label = MainWindowProbe::timecodeLabel(window);
        if (!label) {
            // As wide as its digits ask, or, on a screen narrower than that, as the screen.
            QVERIFY(number->width() >= number->sizeHint().width() ||
                    window.frameGeometry().width() == window.screen()->availableGeometry().width());
            QVERIFY(number->height() >= number->sizeHint().height());
            return;
        }
        const QString family = label->font().family();
        const QSize floor = DisplayRules::floorExtent(family, label->text());
        QCOMPARE(label->minimumSize(), floor);
        QVERIFY(label->height() >= floor.height() && label->width() >= floor.width());
        const QRect inside = label->contentsRect();
        QVERIFY(inside.contains(QFontMetrics(label->font())
                                    .boundingRect(inside, int(label->alignment()), label->text())));
        QCOMPARE(
            label->font().pointSize(),
            TimecodeText::fittedPointSize(family, label->text(), label->height(), label->width()));
    }

    void silentSenderIsDimmed_data()
    {
        QTest::addColumn<bool>("lcd");
        QTest::newRow("text") << false;
        QTest::newRow("seven-segment") << true;
    }

    // Live is a datagram within the last second, whatever it carries: A repeats one frame and
    // stays live, B stops and is dimmed, and comes back with its next frame. The seven-segment
    // display, one widget for all, dims only when all are silent. Only colours change: no text
    // is built and no font fitted for it.
    void silentSenderIsDimmed()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(bool, lcd);
        QVERIFY(settings.write(lcd ? QByteArray("[General]\nUseLcd=true\n") : QByteArray()));
        MainWindow window;
        auto* clock = new SteppedClock;
        MainWindowProbe::node(window)->setTimecodeClock(clock);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto after = [&](qint64 ms, const Traffic& traffic) {
            clock->step(ms);
            return send(window, traffic) && waitForRefreshes(window, 2);
        };
        const auto expect = [&](QList<bool> silent) {
            return lcd ? QList<bool>{!silent.contains(false)} : silent;
        };

        QVERIFY(after(0, kAThenB));
        QCOMPARE(shownDimmed(window), expect({false, false}));
        const quint64 built = MainWindowProbe::textBuilds(window);
        OutputCapture capture;
        const bool atOneSecond = after(1000, {kAThenB[0]});
        const QList<bool> oneSecondOn = shownDimmed(window);
        const bool aMillisecondLater = after(1, {});
        capture.finish();
        QVERIFY(atOneSecond && aMillisecondLater);
        QCOMPARE(oneSecondOn, expect({false, false}));
        QCOMPARE(shownDimmed(window), expect({false, true}));
        QCOMPARE(MainWindowProbe::textBuilds(window), built);
        QCOMPARE(capture.debugMessages(), QStringList());
        if (QLabel* label = MainWindowProbe::timecodeLabel(window)) {
            // Drawn so: A's line in the text's colour, B's in the grey.
            const QImage picture = label->grab().toImage();
            const QColor text = label->palette().color(QPalette::WindowText);
            QCOMPARE(darkestIn(picture, 0, picture.height() / 2), text);
            QCOMPARE(darkestIn(picture, picture.height() / 2, picture.height()),
                     DisplayRules::dimmedColour(text, label->palette().color(QPalette::Window)));
        }

        QVERIFY(after(1001, {}));
        QCOMPARE(shownDimmed(window), expect({true, true}));
        QVERIFY(after(0, {{kB, artTimeCode(0, 0, 1, 10, 0)}}));
        QCOMPARE(shownDimmed(window), expect({true, false}));
    }

    void linesTakeTheirSendersColours_data()
    {
        QTest::addColumn<bool>("lcd");
        QTest::addColumn<int>("senders");
        QTest::newRow("text, 16 senders") << false << 16;
        QTest::newRow("text, 32 senders") << false << 32;
        QTest::newRow("text, 64 senders") << false << 64;
        QTest::newRow("seven-segment, 64 senders") << true << 64;
    }

    // Many senders on a screen without room for their lines at the floor, every other one
    // stopped (on the seven-segment display every other line of them): every line of every label
    // is drawn wholly in its sender's colour, the live red or the silent grey, read from the
    // pixels the window draws.
    void linesTakeTheirSendersColours()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(bool, lcd);
        QFETCH(int, senders);
        QVERIFY(settings.write(lcd ? QByteArray("[General]\nUseLcd=true\n") : QByteArray()));
        MainWindow window;
        window.setPalette(redOnWhite());
        auto* clock = new SteppedClock;
        MainWindowProbe::node(window)->setTimecodeClock(clock);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const Traffic all = fromControllers(senders);
        QVERIFY(send(window, all));
        clock->step(1001);
        // Eight to a line of seven-segment numbers.
        const auto stopped = [&](int n) { return lcd ? (n / 8) % 2 == 1 : n % 2 == 1; };
        Traffic live;
        QList<bool> silent;
        for (int n = 0; n < senders; ++n) {
            if (!stopped(n))
                live.append(all[n]);
            if (!lcd || n % 8 == 0)
                silent.append(stopped(n));
        }
        QVERIFY(send(window, live));
        QTRY_COMPARE(MainWindowProbe::sourceLabel(window)->dimmedLines(), silent);
        QVERIFY(waitForRefreshes(window, 3));
        QCoreApplication::processEvents();

        QList<QLabel*> labels{MainWindowProbe::sourceLabel(window)};
        if (!lcd) {
            labels << MainWindowProbe::timecodeLabel(window) << MainWindowProbe::rateLabel(window);
            // Otherwise this would not be where it broke.
            QVERIFY(labels[1]->font().pointSize() < DisplayRules::kFloorPointSize);
        }
        QList<int> expected;
        for (const bool stoppedLine : std::as_const(silent))
            expected.append(stoppedLine ? 1 : 0);
        for (QLabel* label : std::as_const(labels))
            QCOMPARE(linesDrawn(*label), expected);
    }

    void windowOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("layout"); // -1: none given
        QTest::addColumn<QString>("error");
        QTest::newRow("none") << QStringList() << -1 << "";
        QTest::newRow("--layout rows") << QStringList{"--layout", "rows"} << 1 << "";
        QTest::newRow("--layout=blocks") << QStringList{"--layout=blocks"} << 0 << "";
        QTest::newRow("-layout rows, as Qt's options are written")
            << QStringList{"-layout", "rows"} << 1 << "";
        QTest::newRow("Qt's own arguments pass")
            << QStringList{"-platform", "offscreen", "-reverse"} << -1 << "";
        QTest::newRow("an unknown layout") << QStringList{"--layout", "columns"} << -1
                                           << "--layout takes blocks or rows, not \"columns\"";
        QTest::newRow("--layout without a value")
            << QStringList{"--full-screen", "--layout"} << -1 << "--layout needs a value";
        QTest::newRow("--screen without a value")
            << QStringList{"--screen"} << -1 << "--screen needs a value";
    }

    // The window's options, judged before any display is opened: a usage error is a line to
    // write and status 2.
    void windowOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, layout);
        QFETCH(QString, error);
        const WindowOptions::Options options =
            WindowOptions::read(QStringList{"chronolume"} + arguments);
        QCOMPARE(options.error, error);
        QCOMPARE(options.layout ? int(*options.layout) : -1, layout);
    }

    void noDisplay_data()
    {
        QTest::addColumn<QString>("platform"); // the -platform argument; null: none
        QTest::addColumn<QByteArray>("qpa");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<bool>("none");
        QTest::newRow("nothing set")
            << QString() << QByteArray() << QByteArray() << QByteArray() << true;
        QTest::newRow("DISPLAY") << QString() << QByteArray() << QByteArray(":0") << QByteArray()
                                 << false;
        QTest::newRow("WAYLAND_DISPLAY: Qt may choose Wayland")
            << QString() << QByteArray() << QByteArray() << QByteArray("wayland-0") << false;
        QTest::newRow("xcb named, no DISPLAY")
            << QString() << QByteArray("xcb") << QByteArray() << QByteArray("wayland-0") << true;
        QTest::newRow("offscreen")
            << QString() << QByteArray("offscreen") << QByteArray() << QByteArray() << false;
        QTest::newRow("-platform offscreen over QT_QPA_PLATFORM")
            << QStringLiteral("offscreen") << QByteArray("xcb") << QByteArray() << QByteArray()
            << false;
    }

    void noDisplay()
    {
        QFETCH(QString, platform);
        QFETCH(QByteArray, qpa);
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, wayland);
        QFETCH(bool, none);
        QCOMPARE(WindowOptions::noDisplay(platform, qpa, display, wayland), none);
    }

    void rowsLayout_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::newRow("text") << QByteArray("[General]\nLayout=rows\n");
        QTest::newRow("seven-segment") << QByteArray("[General]\nLayout=rows\nUseLcd=true\n");
    }

    // Sixteen senders in full screen on a 1920 x 1080 screen, in the rows layout: each sender's
    // rate and address right under its time, in first-heard order down the columns, which the
    // rows flow into, every block within the window, and the digits at least 40 pixels high.
    void rowsLayout()
    {
        REQUIRE_PRIVATE_NETWORK();
        // QSKIP's expansion written out: clang's pedantic warnings reject its empty variadic part.
        if (QGuiApplication::primaryScreen()->size() != QSize(1920, 1080)) {
            QTest::qSkip("needs the 1920 x 1080 screen of tst_mainwindow_full_hd", __FILE__,
                         __LINE__);
            return;
        }
        QFETCH(QByteArray, settings);
        QVERIFY(this->settings.write(settings));
        MainWindow window;
        window.showFullScreen();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(window.geometry(), QRect(0, 0, 1920, 1080));
        QVERIFY(send(window, fromControllers(16)));
        SenderRows* rows = MainWindowProbe::senderRows(window);
        QVERIFY(rows);
        QTRY_COMPARE(rows->blockCount(), 16);
        QVERIFY(waitForRefreshes(window, 3));
        QCoreApplication::processEvents();

        QVERIFY2(rows->columns() > 1, qPrintable(QString::number(rows->columns())));
        const auto placed = [&](const QWidget* widget) {
            return QRect(widget->mapTo(&window, QPoint()), widget->size());
        };
        const QColor black = window.palette().color(QPalette::Window);
        for (int n = 0; n < 16; ++n) {
            QWidget* time = rows->timeWidget(n);
            const QLabel* info = rows->infoLabel(n);
            QCOMPARE(info->text(), QStringLiteral("25 FPS · 127.0.0.%1").arg(n + 2));
            if (const auto* label = qobject_cast<QLabel*>(time))
                QCOMPARE(label->text(),
                         QStringLiteral("23:59:59:%1").arg(n, 2, 10, QLatin1Char('0')));
            const QRect timeAt = placed(time);
            const QRect infoAt = placed(info);
            QVERIFY(window.rect().contains(timeAt) && window.rect().contains(infoAt));
            QCOMPARE(infoAt.top(), timeAt.bottom() + 1);
            QCOMPARE(infoAt.center().x(), timeAt.center().x());
            if (n > 0) {
                // Below the one before, or at the top of the next column.
                const QRect before = placed(rows->timeWidget(n - 1));
                QVERIFY((timeAt.left() == before.left() && timeAt.top() > before.bottom()) ||
                        (timeAt.left() > before.right() && timeAt.top() < before.top()));
            }
            // The digits as drawn: the rows of the time's picture with anything but the black.
            const QImage picture = time->grab().toImage().convertToFormat(QImage::Format_RGB32);
            int first = -1, last = -1;
            for (int y = 0; y < picture.height(); ++y) {
                for (int x = 0; x < picture.width(); ++x) {
                    if (picture.pixelColor(x, y) != black) {
                        first = first < 0 ? y : first;
                        last = y;
                        break;
                    }
                }
            }
            QVERIFY2(first >= 0 && last - first + 1 >= 40,
                     qPrintable(QStringLiteral("sender %1: digits %2 pixels high")
                                    .arg(n)
                                    .arg(last - first + 1)));
        }
    }

    // F11 and a double click switch full screen on and off, Escape leaves it and does nothing
    // else. Full screen is light on black, where live text, a silent sender's grey and the link
    // stay apart.
    void fullScreen()
    {
        REQUIRE_PRIVATE_NETWORK();
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const QPalette desktop = window.palette();
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isFullScreen());

        QTest::keyClick(&window, Qt::Key_F11);
        QTRY_VERIFY(window.isFullScreen());
        QLabel* linkLabel = MainWindowProbe::linkLabel(window);
        const QColor text = linkLabel->palette().color(QPalette::WindowText);
        const QColor black = linkLabel->palette().color(QPalette::Window);
        const QColor link = linkLabel->palette().color(QPalette::Link);
        QCOMPARE(black, QColor(Qt::black));
        QVERIFY(DisplayRules::contrastRatio(text, black) >= 15);
        QVERIFY(DisplayRules::contrastRatio(link, black) >= 4.5 && link.hue() >= 0);
        QVERIFY(DisplayRules::contrastRatio(link, DisplayRules::dimmedColour(text, black)) >= 1.5);
        // Drawn so: Qt takes a link's colour from elsewhere than the label's palette.
        const QImage picture = linkLabel->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const auto* pixels = reinterpret_cast<const QRgb*>(picture.constBits());
        const auto* end = pixels + picture.width() * picture.height();
        QVERIFY(std::find(pixels, end, link.rgb()) != end);

        QTest::keyClick(&window, Qt::Key_Escape);
        QTRY_VERIFY(!window.isFullScreen());
        QCOMPARE(window.palette(), desktop);
        for (const bool on : {true, false}) {
            QTest::mouseDClick(MainWindowProbe::timecodeLabel(window), Qt::LeftButton);
            QTRY_COMPARE(window.isFullScreen(), on);
        }
    }

    void severalSendersFitAndTheWindowKeepsItsSize_data()
    {
        QTest::addColumn<int>("senders");
        QTest::addColumn<QSize>("asked");
        QTest::newRow("two senders, 1900 x 300") << 2 << QSize(1900, 300);
        QTest::newRow("two senders, 1900 x 400") << 2 << QSize(1900, 400);
        QTest::newRow("three senders, 1000 x 600") << 3 << QSize(1000, 600);
    }

    // The senders arrive after the window got its size, so only their coming refits the font.
    // A big window and back: the font grows and shrinks again, and the window never grows by
    // itself to make room for it.
    void severalSendersFitAndTheWindowKeepsItsSize()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(int, senders);
        QFETCH(QSize, asked);
        MainWindow window;
        // Sized before it is shown: the first fit comes before the panel's layout ran.
        window.resize(asked);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QLabel* label = MainWindowProbe::timecodeLabel(window);
        QVERIFY(label);
        const auto settledAt = [&](QSize size) {
            // Long enough for a layout that would enlarge the window to have done so.
            if (!waitForRefreshes(window, 3))
                return false;
            QCoreApplication::processEvents();
            return window.size() == size;
        };

        QVERIFY(settledAt(asked));
        checkFillsTwoThirds(*label);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(send(window, fromControllers(senders)));
        QTRY_COMPARE(label->text().count(QLatin1Char('\n')), senders - 1);
        QVERIFY(settledAt(asked));
        checkFillsTwoThirds(*label);
        if (QTest::currentTestFailed())
            return;
        const QFont fitted = label->font();

        const QSize big(1900, 1000);
        window.resize(big);
        QVERIFY(settledAt(big));
        checkFillsTwoThirds(*label);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(label->font().pointSize() > fitted.pointSize());

        window.resize(asked);
        QVERIFY(settledAt(asked));
        checkFillsTwoThirds(*label);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(label->font(), fitted);
    }

    void lcdLines_data()
    {
        QTest::addColumn<QList<int>>("frames");  // one sender each
        QTest::addColumn<QList<int>>("types");   // one for all, or one each
        QTest::addColumn<QList<int>>("senders"); // per line
        QTest::addColumn<QList<int>>("timeDigits");
        QTest::addColumn<QList<int>>("rateDigits");
        QTest::newRow("one at 29.97: the whole name")
            << QList<int>{1} << QList<int>{2} << QList<int>{1} << QList<int>{11} << QList<int>{7};
        QTest::newRow("two at 29.97") << QList<int>{1, 1} << QList<int>{2} << QList<int>{2}
                                      << QList<int>{23} << QList<int>{15};
        QTest::newRow("an unknown rate keeps its places")
            << QList<int>{1, 1} << QList<int>{1, 7} << QList<int>{2} << QList<int>{23}
            << QList<int>{13};
        QTest::newRow("nine: a second line")
            << QList<int>(9, 1) << QList<int>{1} << QList<int>{8, 1} << QList<int>{95, 11}
            << QList<int>{55, 6};
        QTest::newRow("eight, four with frames 100: 99 digits, one line")
            << QList<int>{100, 100, 100, 100, 1, 1, 1, 1} << QList<int>{1} << QList<int>{8}
            << QList<int>{99} << QList<int>{55};
        QTest::newRow("eight, five with frames 100: 100 digits, two lines")
            << QList<int>{100, 100, 100, 100, 100, 1, 1, 1} << QList<int>{1} << QList<int>{7, 1}
            << QList<int>{88, 11} << QList<int>{48, 6};
    }

    // The seven-segment display's lines: as many senders as 99 digits hold, each number with a
    // digit for every character it shows.
    void lcdLines()
    {
        QFETCH(QList<int>, frames);
        QFETCH(QList<int>, types);
        QFETCH(QList<int>, senders);
        QFETCH(QList<int>, timeDigits);
        QFETCH(QList<int>, rateDigits);
        QList<TimecodeText::LcdLine> lines;
        for (qsizetype i = 0; i < frames.size(); ++i) {
            TimecodeRecord record{};
            record.frames = quint8(frames[i]);
            record.type = quint8(types.value(i, types.first()));
            TimecodeText::appendLcdEntry(lines, record, QHostAddress(quint32(i)).toString());
        }
        QList<int> count, time, rate;
        for (const TimecodeText::LcdLine& line : std::as_const(lines)) {
            count << line.texts.count;
            time << line.timeDigits;
            rate << line.rateDigits;
            QCOMPARE(line.texts.time.size(), line.timeDigits);
            QVERIFY(line.texts.rate.size() <= line.rateDigits);
        }
        QCOMPARE(count, senders);
        QCOMPARE(time, timeDigits);
        QCOMPARE(rate, rateDigits);
    }

    // Sixteen senders on a screen with no room for their lines at the floor: the floor gives
    // way, the window stays within the screen's room, and every timecode, rate and address line
    // is drawn inside its label, inside the window.
    void manySendersStayOnTheScreen()
    {
        REQUIRE_PRIVATE_NETWORK();
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect screen = window.screen()->availableGeometry();
        const QString family = window.font().family();
        // Otherwise this would prove nothing.
        QVERIFY(stackedRoom(family, linesOf(16), window.font(), 22).height() > screen.height());
        // Halfway down: the window that grows for them moves up rather than off the screen.
        window.move(screen.left(), screen.center().y());
        QVERIFY(send(window, fromControllers(16)));
        QTRY_COMPARE(MainWindowProbe::sourceLabel(window)->text().count('\n'), 15);
        QVERIFY(waitForRefreshes(window, 3));
        QCoreApplication::processEvents();

        QVERIFY2(screen.contains(window.frameGeometry()),
                 qPrintable(QStringLiteral("%1 x %2").arg(window.height()).arg(window.width())));
        for (const QLabel* label : {static_cast<QLabel*>(MainWindowProbe::timecodeLabel(window)),
                                    static_cast<QLabel*>(MainWindowProbe::rateLabel(window)),
                                    static_cast<QLabel*>(MainWindowProbe::sourceLabel(window))}) {
            QCOMPARE(label->text().count('\n'), 15);
            QVERIFY(window.rect().contains(QRect(label->mapTo(&window, QPoint()), label->size())));
            const QRect inside = label->contentsRect();
            const QRect drawn = QFontMetrics(label->font())
                                    .boundingRect(inside, int(label->alignment()), label->text());
            QVERIFY2(inside.contains(drawn), qPrintable(label->text().section('\n', 0, 0)));
        }
    }

    void sevenSegmentKeepsEveryDigit_data()
    {
        QTest::addColumn<Traffic>("traffic");
        QTest::addColumn<QStringList>("times"); // per line
        QTest::addColumn<QStringList>("rates");
        QTest::newRow("one at 29.97") << Traffic{{kA, artTimeCode(4, 3, 2, 1, 2)}}
                                      << QStringList{"01:02:03:04"} << QStringList{"30 Drop"};
        // Frames below 25, so that every sender takes 11 digits and a line holds eight.
        for (const int count : {9, 16, 128}) {
            Traffic traffic;
            QStringList times(1), rates(1);
            for (int n = 0; n < count; ++n) {
                traffic.append(
                    {QStringLiteral("127.0.0.%1").arg(n + 2), artTimeCode(n % 25, 59, 59, 23, 1)});
                if (n > 0 && n % 8 == 0) {
                    times << QString();
                    rates << QString();
                }
                const QString blank = n % 8 ? QStringLiteral(" ") : QString();
                times.last() +=
                    blank + QStringLiteral("23:59:59:%1").arg(n % 25, 2, 10, QLatin1Char('0'));
                rates.last() += blank + QStringLiteral("25 FPS");
            }
            QTest::addRow("%d senders", count) << traffic << times << rates;
        }
    }

    // Every line of senders on a pair of numbers of its own, stacked, each with a digit for every
    // character, and showing them; 128 senders want more height than the screen has, and the
    // numbers share what it has.
    void sevenSegmentKeepsEveryDigit()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(Traffic, traffic);
        QFETCH(QStringList, times);
        QFETCH(QStringList, rates);
        QVERIFY(settings.write("[General]\nUseLcd=true\n"));
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(send(window, traffic));
        QTRY_COMPARE(MainWindowProbe::sourceLabel(window)->text().count('\n'), times.size() - 1);
        QVERIFY(waitForRefreshes(window, 3));
        QCoreApplication::processEvents();
        const QRect screen = window.screen()->availableGeometry();
        QVERIFY2(screen.contains(window.frameGeometry()),
                 qPrintable(QStringLiteral("%1 x %2 on %3 x %4")
                                .arg(window.width())
                                .arg(window.height())
                                .arg(screen.width())
                                .arg(screen.height())));
        for (const auto& [numbers, texts] :
             {std::pair(MainWindowProbe::timecodeLcds(window), times),
              std::pair(MainWindowProbe::rateLcds(window), rates)}) {
            QCOMPARE(numbers.size(), texts.size());
            for (qsizetype i = 0; i < texts.size(); ++i) {
                QCOMPARE(numbers[i]->digitCount(), int(texts[i].size()));
                QCOMPARE(seen(numbers[i], texts[i], int(texts[i].size())), texts[i]);
                QVERIFY(i == 0 ||
                        numbers[i - 1]->geometry().bottom() < numbers[i]->geometry().top());
            }
        }
    }

    // What the window does not reach: a label far larger than any screen, or none at all, and
    // exact limits.
    void fittedPointSize()
    {
        const QString family = QApplication::font().family();
        const QString time = QStringLiteral("01:02:03:04");
        const QFontMetrics at999(QFont(family, 999, QFont::Bold));
        const QFontMetrics at40(QFont(family, 40, QFont::Bold));
        // Nothing reached up to 999, or the first size tried already reaches: the smallest size.
        QCOMPARE(TimecodeText::fittedPointSize(family, ".", 100000, 100000), 22);
        QCOMPARE(TimecodeText::fittedPointSize(family, time, 0, 0), 22);
        // Two thirds of these, truncated, are exactly the line height at 999 or the text's width
        // at 40: a limit reached exactly stops the search there.
        const int heightAt999 = (3 * at999.height() + 1) / 2;
        const int widthAt40 = (3 * at40.horizontalAdvance(time) + 1) / 2;
        QCOMPARE(TimecodeText::fittedPointSize(family, time, heightAt999, 100000), 998);
        QCOMPARE(TimecodeText::fittedPointSize(family, time, 100000, widthAt40), 39);
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
