// A label with one line per sender, any of which can be drawn dimmed for a sender that went
// silent. Its text stays the plain text, so the font fit measures what it always measured and
// a change of colour costs no new text.
#pragma once

#include <QFont>
#include <QLabel>
#include <QList>
#include <QRect>
#include <QString>

namespace SenderLines {

// The rows of a label that belong to each of its lines, top to bottom: a line's glyphs, as Qt
// draws the text into area with these alignment flags, lie within its rows. Qt places each line
// at its own height, which may be fractional (the font's metrics are), a whole pixel below the
// leading under the one before: the rows follow that placement, not a fixed line pitch. Two lines
// meet halfway between the one's box and the next one's, or at the next one's top where a
// negative leading makes them overlap; the first reaches up to top, the last down to bottom (the
// label's edges). Lines that Qt does not lay out, those that begin below the
// area, have no rows. Plain text only, without wrapping.
struct Rows
{
    int top = 0;
    int bottom = 0; // one past the last row
};
QList<Rows> lineRows(const QFont& font, const QString& text, const QRect& area, int flags, int top,
                     int bottom);

} // namespace SenderLines

class SenderLabel : public QLabel
{
    Q_OBJECT

public:
    explicit SenderLabel(QWidget* parent);

    // One flag per line of the text, true for a line to draw dimmed; lines past the list are
    // drawn in full colour. Repaints only when the flags change.
    void setDimmedLines(const QList<bool>& dimmed);
    const QList<bool>& dimmedLines() const { return dimmed; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<bool> dimmed;
};
