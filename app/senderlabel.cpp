#include "senderlabel.h"

#include "displayrules.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRegion>
#include <QStyle>

SenderLabel::SenderLabel(QWidget* parent) : QLabel(parent)
{
    // Never taken for rich text: the lines are counted by their breaks.
    setTextFormat(Qt::PlainText);
}

void SenderLabel::setDimmedLines(const QList<bool>& newDimmed)
{
    // Lines that are all live look the same however many flags say so.
    const bool looksDifferent =
        newDimmed != dimmed && (newDimmed.contains(true) || dimmed.contains(true));
    dimmed = newDimmed;
    if (looksDifferent)
        update();
}

void SenderLabel::paintEvent(QPaintEvent* event)
{
    if (!dimmed.contains(true)) {
        QLabel::paintEvent(event);
        return;
    }

    // The text is drawn whole twice, the way the label draws it, each time through the bands of
    // the lines it colours: every glyph stays where the label alone would put it.
    const QString shown = text();
    const QRect area = contentsRect();
    const int flags = int(QStyle::visualAlignment(layoutDirection(), alignment()));
    const QFontMetrics metrics(font());
    const QRect drawn = metrics.boundingRect(area, flags, shown);
    const int pitch = metrics.height() + metrics.leading();
    const qsizetype lines = shown.count(QLatin1Char('\n')) + 1;

    // Band i runs from halfway into the leading above line i to halfway into the one below; the
    // first and last reach to the label's edges.
    QRegion dimmedBands;
    for (qsizetype line = 0; line < lines && line < dimmed.size(); ++line) {
        if (!dimmed[line])
            continue;
        const int top =
            line == 0 ? rect().top() : drawn.top() + int(line) * pitch - metrics.leading() / 2;
        const int bottom = line == lines - 1
                               ? rect().bottom() + 1
                               : drawn.top() + int(line + 1) * pitch - metrics.leading() / 2;
        dimmedBands += QRect(rect().left(), top, rect().width(), bottom - top);
    }

    QPainter painter(this);
    const QPalette live = palette();
    QPalette grey = live;
    grey.setColor(foregroundRole(), DisplayRules::dimmedColour(live.color(foregroundRole()),
                                                               live.color(backgroundRole())));
    painter.setClipRegion(QRegion(rect()) - dimmedBands);
    style()->drawItemText(&painter, area, flags, live, isEnabled(), shown, foregroundRole());
    painter.setClipRegion(dimmedBands);
    style()->drawItemText(&painter, area, flags, grey, isEnabled(), shown, foregroundRole());
}
