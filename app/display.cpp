// The timecode display: the 41 ms refresh from the node, and the text variant's font fitting.
#include "mainwindow.h"

#include "artnet.h"
#include "timecodetext.h"

#include <QDebug>
#include <QFont>
#include <QLCDNumber>
#include <QLabel>

void MainWindow::SendTimecodeTimeOut()
{
    if (!artnetNode)
        return;

    const QString separator = useLcd ? QStringLiteral(" ") : QStringLiteral("\n");
    TimecodeText::Texts texts;
    TimecodeRecord record;
    QHostAddress sender;
    for (int index = 0; artnetNode->getTimecode(&record, &sender, index); ++index)
        TimecodeText::appendEntry(texts, record, sender, separator);

    // Until the first timecode arrives the no-signal texts stay; afterwards a silent sender
    // keeps its last values.
    const int n = texts.count;
    if (n == 0)
        return;

    if (timecodeLabel)
        timecodeLabel->setText(texts.time);
    if (rateLabel)
        rateLabel->setText(texts.rate);
    if (timecodeLcd) {
        // 11 places per sender and one per separator.
        timecodeLcd->setDigitCount(12 * n - 1);
        timecodeLcd->display(texts.time);
    }
    if (rateLcd) {
        rateLcd->setDigitCount(7 * n - 1);
        rateLcd->display(texts.rate);
    }
    if (sourceLabel)
        sourceLabel->setText(texts.source);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    // The seven-segment display scales its digits by itself.
    if (!event || !timecodeLabel)
        return;

    const int height = timecodeLabel->height();
    const int width = timecodeLabel->width();
    const QString family = timecodeLabel->font().family();
    const int size = TimecodeText::fittedPointSize(family, timecodeLabel->text(), height, width);
    timecodeLabel->setFont(QFont(family, size, QFont::Bold, false));
    qDebug() << "font height:" << size << " height" << height << " width" << width;
}
