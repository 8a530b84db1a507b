// The timecode display: the 41 ms refresh from the node, and the text variant's font fitting.
#include "mainwindow.h"

#include "artnet.h"
#include "timecode.h"
#include "timecodetext.h"

#include <QDebug>
#include <QFont>
#include <QLCDNumber>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
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

    readEntries.clear(); // keeps its capacity: no allocation per refresh
    TimecodeSource entry;
    for (int index = 0; artnetNode->getTimecode(&entry.timecode, &entry.sender, index); ++index)
        readEntries.append(entry);

    // Until the first timecode arrives the no-signal texts stay; afterwards a silent sender
    // keeps its last values. Nothing new since the last refresh: the widgets show it already,
    // so the texts are not built again.
    const qsizetype n = readEntries.size();
    if (n == 0 || sameEntries(readEntries, shownEntries))
        return;
    // The no-signal text is one line too: only a further sender changes the text's shape.
    const bool newLine = n > std::max<qsizetype>(shownEntries.size(), 1);
    shownEntries.swap(readEntries);
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

    // A new line needs room the font was not fitted for. The labels below have grown by a line
    // too, so the layout gives the timecode label its new size first.
    if (newLine && timecodeLabel) {
        if (mainLayout)
            mainLayout->activate();
        fitTimecodeFont();
    }
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    // The seven-segment display scales its digits by itself.
    if (!event || !timecodeLabel)
        return;
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
