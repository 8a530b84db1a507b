// The timecode display: the 41 ms refresh from the node, and the text variant's font fitting.
#include "mainwindow.h"

#include "artnet.h"
#include "diagnostics.h"
#include "displayrules.h"
#include "sendernames.h"
#include "senderrows.h"
#include "timecode.h"
#include "timecodetext.h"

#include <QDebug>
#include <QFont>
#include <QLCDNumber>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <tuple>

#include <utility>

void MainWindow::SendTimecodeTimeOut()
{
    if (!artnetNode)
        return;

    // Reading the node's table opens no socket: a port that was busy at start is taken as soon
    // as it frees up, and polls are answered from then on.
    artnetNode->setPollReplyEnabled(true);
    const qint64 now = artnetNode->timecodeClockNow();
    if (senderNamer)
        senderNamer->poll(now);
    const QString dropped = KernelDrops::lineFor(droppedReported, artnetNode->kernelDrops(), now);
    // Through the output thread, as every other line of the window: a paused terminal holds
    // up no refresh.
    if (!dropped.isNull())
        ArtNetOutput::line(dropped);

    // Until the first timecode arrives the no-signal texts stay; afterwards a silent sender
    // keeps its last values.
    const SenderTable& senders = artnetNode->senders();
    if (senders.isEmpty())
        return;
    // Cleared, they keep their capacity: no allocation per refresh.
    readSilent.clear();
    readTwoSources.clear();
    bool same =
        senders.size() == shownTimecodes.size() && senders.nameChanges() == shownNameChanges;
    toldTwoSources.resize(senders.size());
    for (int order = 0; order < senders.size(); ++order) {
        const SenderEntry& entry = senders.at(order);
        readSilent.append(entry.silentAt(now));
        const bool twoSources = entry.twoSourcesAt(now);
        readTwoSources.append(twoSources);
        if (twoSources && !toldTwoSources[order]) {
            toldTwoSources[order] = true;
            ArtNetOutput::line(SenderNames::twoSourcesLine(entry.address, entry.stream));
        }
        same = same && Timecode::sameRecord(entry.timecode, shownTimecodes[order]);
    }
    // Two sources found or gone change an address line.
    if (readTwoSources != shownTwoSources) {
        shownTwoSources.swap(readTwoSources);
        same = false;
    }
    // Nothing new since the last refresh: the widgets show it already, so the texts are not
    // built again.
    if (!same)
        showEntries();
    // A sender falling silent or sending again changes colours only: no text, no fit.
    if (readSilent != shownSilent) {
        shownSilent.swap(readSilent);
        showLiveness();
    }
}

void MainWindow::showEntries()
{
    const SenderTable& senders = artnetNode->senders();
    const qsizetype before = shownTimecodes.size();
    shownTimecodes.resize(senders.size());
    for (int order = 0; order < senders.size(); ++order)
        shownTimecodes[order] = senders.at(order).timecode;
    shownNameChanges = senders.nameChanges();
    const qsizetype n = shownTimecodes.size();
    ++textBuilds;

    if (senderRows) {
        showRows();
        if (n == before)
            return;
        // A block more: the blocks share the screen's room, and the window stays on it.
        senderRows->setRoom(roomOnScreen({senderRows}));
        activateLayouts();
        keepOnScreen();
        return;
    }

    TimecodeText::Texts texts;
    const qsizetype linesBefore = lcdLineSenders.size();
    const auto addressLine = [this](const SenderEntry& shown) {
        return SenderNames::addressLine(shown.name, shown.address, shown.stream,
                                        shownTwoSources.value(shown.order));
    };
    if (useLcd) {
        QList<TimecodeText::LcdLine> lines;
        for (const SenderEntry& shown : senders.all())
            TimecodeText::appendLcdEntry(lines, shown.timecode, addressLine(shown));
        showLcdLines(lines);
        // The addresses stacked as the numbers are: a line of them per line of senders.
        for (const TimecodeText::LcdLine& line : std::as_const(lines)) {
            if (!texts.source.isEmpty())
                texts.source += QLatin1Char('\n');
            texts.source += line.texts.source;
        }
    } else {
        for (const SenderEntry& shown : senders.all())
            TimecodeText::appendEntry(texts, shown.timecode, addressLine(shown),
                                      QStringLiteral("\n"));
    }

    if (timecodeLabel)
        timecodeLabel->setText(texts.time);
    if (rateLabel)
        rateLabel->setText(texts.rate);
    if (sourceLabel)
        sourceLabel->setText(texts.source);
    // A new line of senders on the seven-segment display: the numbers share the screen's room.
    if (useLcd && lcdLineSenders.size() != linesBefore) {
        fitLcdLinesToScreen();
        placeOnScreen();
    }
    // The first timecode replaces the no-signal text, whose dashes are narrower than digits; a
    // new sender adds a line. Either needs room the font was not fitted for.
    if (!timecodeLabel || (n == before && texts.time.size() == floorTextLength))
        return;
    setTimecodeFloor();
    // The layouts first: the panel takes the labels' new minimums and places the timecode label,
    // then the window grows to its new minimum if it is smaller. Only then is the label's size
    // the one to fit the font to.
    const QSize sizeBefore = size();
    activateLayouts();
    // A window that grew has fitted the font at its resize event.
    if (size() == sizeBefore)
        fitTimecodeFont();
    keepOnScreen();
}

void MainWindow::showRows()
{
    static const QString separator = QStringLiteral(" \u00B7 ");
    QList<SenderRows::Entry> entries;
    for (const SenderEntry& shown : artnetNode->senders().all()) {
        const QString rate = TimecodeText::frameRateName(shown.timecode.type);
        const QString address = SenderNames::addressLine(shown.name, shown.address, shown.stream,
                                                         shownTwoSources.value(shown.order));
        entries.append({TimecodeText::formatTime(shown.timecode),
                        rate.isEmpty() ? address : rate + separator + address});
    }
    senderRows->setEntries(entries);
}

void MainWindow::activateLayouts()
{
    if (mainLayout)
        mainLayout->activate();
    if (layout())
        layout()->activate();
}

void MainWindow::placeOnScreen()
{
    activateLayouts();
    fitTimecodeFont();
    keepOnScreen();
}

QLCDNumber* MainWindow::addLcd(QWidget* column, int digits, const QString& text)
{
    auto* number = new QLCDNumber(column);
    number->setSegmentStyle(QLCDNumber::Flat);
    number->setDigitCount(digits);
    number->setFrameStyle(QFrame::NoFrame);
    number->display(text);
    column->layout()->addWidget(number);
    (column == timecodeColumn ? timecodeLcds : rateLcds).append(number);
    return number;
}

void MainWindow::showLcdLines(const QList<TimecodeText::LcdLine>& lines)
{
    // Senders never leave, so lines are only ever added.
    while (timecodeLcds.size() < lines.size()) {
        addLcd(timecodeColumn, 0, QString());
        addLcd(rateColumn, 0, QString());
    }
    lcdLineSenders.clear();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const TimecodeText::LcdLine& line = lines[i];
        for (const auto& [number, digits, text] :
             {std::tuple(timecodeLcds[i], line.timeDigits, line.texts.time),
              std::tuple(rateLcds[i], line.rateDigits, line.texts.rate)}) {
            // A seven-segment number asks for room by its digit count, which Qt does not tell
            // the layout of.
            if (number->digitCount() != digits) {
                number->setDigitCount(digits);
                number->updateGeometry();
            }
            number->display(text);
        }
        lcdLineSenders.append(line.texts.count);
    }
}

void MainWindow::setTimecodeFloor()
{
    if (!timecodeLabel || !rateLabel || !sourceLabel)
        return;
    const QString family = timecodeLabel->font().family();
    const QString time = timecodeLabel->text();
    const QString rate = rateLabel->text();
    const QString sources = sourceLabel->text();
    floorPointSize =
        DisplayRules::floorOnScreen(family, time, rate, sources, sourcesFont,
                                    roomOnScreen({timecodeLabel, rateLabel, sourceLabel}));
    const DisplayRules::LinesExtent extent =
        DisplayRules::linesExtent(family, time, rate, sources, sourcesFont, floorPointSize);
    // The three labels' minimums are set, not left to their own hints, so that the room the
    // lines were measured for is the room the layout gives them.
    timecodeLabel->setMinimumSize(extent.time);
    rateLabel->setFont(QFont(family, floorPointSize, QFont::Bold, false));
    rateLabel->setMinimumHeight(extent.rate.height());
    QFont addresses = sourcesFont;
    if (addresses.pointSize() > floorPointSize)
        addresses.setPointSize(floorPointSize);
    sourceLabel->setFont(addresses);
    sourceLabel->setMinimumHeight(extent.sources.height());
    floorTextLength = time.size();
}

QSize MainWindow::roomOnScreen(std::initializer_list<const QWidget*> lines) const
{
    const QScreen* shownOn = screen();
    if (!shownOn || !mainLayout)
        return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    // Whatever the window holds besides the lines keeps its room: margins, spacing, the title
    // and the link, and around the window the frame its window manager draws (known once it is
    // shown).
    int taken = 0;
    for (const QWidget* widget : lines) {
        if (widget)
            taken += widget->minimumHeight() > 0 ? widget->minimumHeight()
                                                 : widget->minimumSizeHint().height();
    }
    const QSize frame = frameSize();
    measuredFrame = frame;
    const QMargins margins = mainLayout->contentsMargins() + centralPanel->contentsMargins();
    const QSize available = shownOn->availableGeometry().size() - frame;
    return {available.width() - margins.left() - margins.right(),
            available.height() - (mainLayout->totalMinimumSize().height() - taken)};
}

void MainWindow::fitLcdLinesToScreen()
{
    // Each number first asks for the room its digits want; where the screen has no room for
    // them all, each gets an equal share of the height there is, and no more than the width,
    // and draws its digits that large.
    const QList<QLCDNumber*> numbers = timecodeLcds + rateLcds;
    int asked = 0;
    for (QLCDNumber* number : numbers) {
        number->setMinimumSize(0, 0);
        asked += number->sizeHint().height();
    }
    const QSize room = roomOnScreen({timecodeColumn, rateColumn, sourceLabel}) -
                       QSize(0, sourceLabel ? sourceLabel->minimumSizeHint().height() : 0);
    const int each = asked <= room.height() || numbers.isEmpty()
                         ? 0
                         : std::max(1, room.height() / int(numbers.size()));
    for (QLCDNumber* number : numbers) {
        if (number->sizeHint().width() > room.width())
            number->setMinimumWidth(std::max(1, room.width()));
        number->setMinimumHeight(each);
    }
}

void MainWindow::keepOnScreen(bool shrinkToScreen)
{
    const QScreen* shownOn = screen();
    if (!shownOn || !isVisible() || isFullScreen() || isMaximized())
        return;
    // A window that grew by a line, or came back from full screen larger than it left, may reach
    // past the screen's bottom or right edge.
    const QRect available = shownOn->availableGeometry();
    // Larger than the screen once its room was measured anew (a size taken from full screen, with
    // a frame around it now): as large as the screen has room for, where its minimum allows. A
    // size the user or a program gave it is theirs.
    const QSize room = (available.size() - frameSize()).expandedTo(minimumSize());
    if (shrinkToScreen && (width() > room.width() || height() > room.height()))
        resize(size().boundedTo(room));
    const QRect frame = frameGeometry();
    const QPoint placed = DisplayRules::placedOnScreen(frame, available);
    if (placed != frame.topLeft())
        move(placed);
}

QSize MainWindow::frameSize() const
{
    return frameGeometry().size() - geometry().size();
}

void MainWindow::roomMayHaveChanged()
{
    // The window manager tells the frame it draws around the window after the window is shown
    // or comes back from full screen; the room was measured without it until then.
    if (isVisible() && !isFullScreen() && frameSize() != measuredFrame) {
        measuredFrame = frameSize(); // once is enough
        QTimer::singleShot(0, this, &MainWindow::screenChanged);
    }
}

void MainWindow::screenChanged()
{
    // Another screen may have room for more, or less, of the floor or the numbers.
    setTimecodeFloor();
    if (senderRows)
        senderRows->setRoom(roomOnScreen({senderRows}));
    else if (useLcd)
        fitLcdLinesToScreen();
    placeOnScreen();
    keepOnScreen(/*shrinkToScreen=*/true);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (screenWatched || !windowHandle())
        return;
    screenWatched = true;
    connect(windowHandle(), &QWindow::screenChanged, this, &MainWindow::screenChanged);
}

void MainWindow::showLiveness()
{
    if (senderRows) {
        senderRows->setSilent(shownSilent);
        return;
    }
    if (useLcd) {
        // One pair of numbers for a line of senders: dimmed once none of them sends.
        const QColor dimmed = DisplayRules::dimmedColour(palette().color(QPalette::WindowText),
                                                         palette().color(QPalette::Window));
        QList<bool> silentLines;
        qsizetype first = 0;
        for (qsizetype i = 0; i < lcdLineSenders.size(); ++i) {
            const qsizetype end = std::min(first + lcdLineSenders[i], shownSilent.size());
            bool allSilent = true;
            for (qsizetype sender = first; sender < end; ++sender)
                allSilent = allSilent && shownSilent[sender];
            first = end;
            silentLines.append(allSilent);
            for (QLCDNumber* number : {timecodeLcds[i], rateLcds[i]}) {
                QPalette colours; // inherits every colour not set here
                if (allSilent)
                    colours.setColor(QPalette::WindowText, dimmed);
                number->setPalette(colours);
            }
        }
        if (sourceLabel)
            sourceLabel->setDimmedLines(silentLines);
        return;
    }
    for (SenderLabel* label : {timecodeLabel, rateLabel, sourceLabel}) {
        if (label)
            label->setDimmedLines(shownSilent);
    }
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    roomMayHaveChanged();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    if (!event)
        return;
    // Whatever made the window larger (a line more, its minimum after full screen, the user),
    // it stays on its screen.
    roomMayHaveChanged();
    keepOnScreen();
    // The seven-segment display scales its digits by itself.
    if (!timecodeLabel)
        return;
    // At the first show the panel is still hidden and its layout has not placed the label:
    // placed now, the label has the size it will be shown at.
    if (mainLayout)
        mainLayout->activate();
    fitTimecodeFont();
}

void MainWindow::fitTimecodeFont()
{
    if (!timecodeLabel)
        return;
    const int height = timecodeLabel->height();
    const int width = timecodeLabel->width();
    const QString family = timecodeLabel->font().family();
    const int size =
        TimecodeText::fittedPointSize(family, timecodeLabel->text(), height, width, floorPointSize);
    timecodeLabel->setFont(QFont(family, size, QFont::Bold, false));
    qDebug() << "font height:" << size << " height" << height << " width" << width;
}
