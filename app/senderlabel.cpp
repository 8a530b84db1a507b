#include "senderlabel.h"

#include "displayrules.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRegion>
#include <QStyle>
#include <QTextLayout>
#include <QTextOption>

#include <cmath>

namespace SenderLines {

QList<Rows> lineRows(const QFont& font, const QString& text, const QRect& area, int flags, int top,
                     int bottom)
{
    // Laid out as QPainter::drawText lays out a label's plain text: a line break ends a line, no
    // line is wrapped, and each line is placed on a whole pixel, the font's leading below the end
    // of the one above; the lines that begin below the area are not laid out.
    QString lines = text;
    lines.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(lines, font);
    QTextOption option;
    option.setAlignment(Qt::AlignLeft); // the horizontal alignment plays no part in the rows
    layout.setTextOption(option);
    const qreal leading = QFontMetricsF(font).leading();
    QList<qreal> tops;
    QList<qreal> heights;
    qreal height = -leading;
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(0x01000000);
        height = std::ceil(height + leading);
        tops.append(height);
        heights.append(line.ascent() + line.descent());
        height += heights.last();
        if (height >= area.height())
            break;
    }
    layout.endLayout();

    qreal offset = 0;
    if (flags & Qt::AlignBottom)
        offset = area.height() - height;
    else if (flags & Qt::AlignVCenter)
        offset = (area.height() - height) / 2;
    const qreal origin = area.y() + offset;

    QList<Rows> rows;
    for (qsizetype i = 0; i < tops.size(); ++i) {
        Rows line;
        line.top = i == 0 ? top : rows.last().bottom;
        if (i + 1 == tops.size()) {
            line.bottom = bottom;
        } else {
            const qreal end = origin + tops[i] + heights[i];
            const qreal next = origin + tops[i + 1];
            // A negative leading lets the boxes overlap: the next line's glyphs begin below its
            // top, while only descenders of this one reach past it.
            line.bottom = end <= next ? int(std::lround((end + next) / 2)) : int(std::floor(next));
        }
        rows.append(line);
    }
    return rows;
}

} // namespace SenderLines

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

    // The text is drawn whole twice, the way the label draws it, each time through the rows of
    // the lines it colours: every glyph stays where the label alone would put it.
    const QString shown = text();
    const QRect area =
        contentsRect().marginsRemoved(QMargins(margin(), margin(), margin(), margin()));
    const int flags = int(QStyle::visualAlignment(layoutDirection(), alignment()));
    const QList<SenderLines::Rows> rows =
        SenderLines::lineRows(font(), shown, area, flags, rect().top(), rect().bottom() + 1);

    QRegion dimmedRows;
    for (qsizetype line = 0; line < rows.size() && line < dimmed.size(); ++line) {
        if (dimmed[line])
            dimmedRows += QRect(rect().left(), rows[line].top, rect().width(),
                                rows[line].bottom - rows[line].top);
    }

    QPainter painter(this);
    const QPalette live = palette();
    QPalette grey = live;
    grey.setColor(foregroundRole(), DisplayRules::dimmedColour(live.color(foregroundRole()),
                                                               live.color(backgroundRole())));
    painter.setClipRegion(QRegion(rect()) - dimmedRows);
    style()->drawItemText(&painter, area, flags, live, isEnabled(), shown, foregroundRole());
    painter.setClipRegion(dimmedRows);
    style()->drawItemText(&painter, area, flags, grey, isEnabled(), shown, foregroundRole());
}
