// The timecode display: the 41 ms refresh from the node, and the text variant's font fitting.
#include "mainwindow.h"

#include "artnet.h"
#include "displayrules.h"
#include "timecode.h"
#include "timecodetext.h"

#include <QDebug>
#include <QFont>
#include <QLCDNumber>
#include <QLabel>
#include <QVBoxLayout>

#include <cstdio>
#include <utility>

namespace {

bool sameEntries(const QList<TimecodeSource>& a, const QList<TimecodeSource>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (!Timecode::sameRecord(a[i].timecode, b[i].timecode) || a[i].sender != b[i].sender)
            return false;
    }
    return true;
}

} // namespace

void MainWindow::SendTimecodeTimeOut()
{
    if (!artnetNode)
        return;

    // Cleared, they keep their capacity: no allocation per refresh.
    readEntries.clear();
    readSilent.clear();
    const qint64 now = artnetNode->timecodeClockNow();
    const QString dropped = KernelDrops::lineFor(droppedReported, artnetNode->kernelDrops(), now);
    if (!dropped.isNull()) {
        std::fputs(qPrintable(dropped + QLatin1Char('\n')), stdout);
        std::fflush(stdout);
    }
    TimecodeSource entry;
    for (int index = 0; artnetNode->getTimecode(&entry.timecode, &entry.sender, index); ++index) {
        readEntries.append(entry);
        readSilent.append(Timecode::isSilent(artnetNode->timecodeArrival(index), now));
    }

    // Until the first timecode arrives the no-signal texts stay; afterwards a silent sender
    // keeps its last values. Nothing new since the last refresh: the widgets show it already,
    // so the texts are not built again.
    if (readEntries.isEmpty())
        return;
    if (!sameEntries(readEntries, shownEntries))
        showEntries();
    // A sender falling silent or sending again changes colours only: no text, no fit.
    if (readSilent != shownSilent) {
        shownSilent.swap(readSilent);
        showLiveness();
    }
}

void MainWindow::showEntries()
{
    const qsizetype before = shownEntries.size();
    shownEntries.swap(readEntries);
    const qsizetype n = shownEntries.size();
    ++textBuilds;

    const QString separator = useLcd ? QStringLiteral(" ") : QStringLiteral("\n");
    TimecodeText::Texts texts;
    for (const TimecodeSource& shown : std::as_const(shownEntries))
        TimecodeText::appendEntry(texts, shown.timecode, shown.sender, separator);

    if (timecodeLabel)
        timecodeLabel->setText(texts.time);
    if (rateLabel)
        rateLabel->setText(texts.rate);
    if (timecodeLcd) {
        // 11 places per sender and one per separator.
        timecodeLcd->setDigitCount(int(12 * n - 1));
        timecodeLcd->display(texts.time);
    }
    if (rateLcd) {
        rateLcd->setDigitCount(int(7 * n - 1));
        rateLcd->display(texts.rate);
    }
    if (sourceLabel)
        sourceLabel->setText(texts.source);

    // A seven-segment number asks for room by its digit count, which Qt does not tell the
    // layout of.
    if (n != before) {
        for (QLCDNumber* number : {timecodeLcd, rateLcd}) {
            if (number)
                number->updateGeometry();
        }
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
    if (mainLayout)
        mainLayout->activate();
    if (layout())
        layout()->activate();
    // A window that grew has fitted the font at its resize event.
    if (size() == sizeBefore)
        fitTimecodeFont();
}

void MainWindow::setTimecodeFloor()
{
    if (!timecodeLabel)
        return;
    const QString text = timecodeLabel->text();
    timecodeLabel->setMinimumSize(DisplayRules::floorExtent(timecodeLabel->font().family(), text));
    floorTextLength = text.size();
}

void MainWindow::showLiveness()
{
    if (useLcd) {
        // One widget for all senders: dimmed once none of them sends.
        const bool allSilent = !shownSilent.contains(false);
        const QColor dimmed = DisplayRules::dimmedColour(palette().color(QPalette::WindowText),
                                                         palette().color(QPalette::Window));
        for (QLCDNumber* number : {timecodeLcd, rateLcd}) {
            if (!number)
                continue;
            QPalette colours; // inherits every colour not set here
            if (allSilent)
                colours.setColor(QPalette::WindowText, dimmed);
            number->setPalette(colours);
        }
        if (sourceLabel)
            sourceLabel->setDimmedLines({allSilent});
        return;
    }
    for (SenderLabel* label : {timecodeLabel, rateLabel, sourceLabel}) {
        if (label)
            label->setDimmedLines(shownSilent);
    }
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    // The seven-segment display scales its digits by itself.
    if (!event || !timecodeLabel)
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
    const int size = TimecodeText::fittedPointSize(family, timecodeLabel->text(), height, width);
    timecodeLabel->setFont(QFont(family, size, QFont::Bold, false));
    qDebug() << "font height:" << size << " height" << height << " width" << width;
}
