// The display's rules that need no window: the room the timecode needs at its smallest size,
// how far that size gives way on a screen too small for every line, and the colour a silent
// sender is drawn in.
#pragma once

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

namespace DisplayRules {

// The timecode's and the rate's smallest font: bold, this many points. The fit never goes below
// it, unless the screen has no room for every line at it (see floorOnScreen).
inline constexpr int kFloorPointSize = 22;

// The room the timecode label needs for its text at a point size, the floor unless given: its
// widest line with a digit in every place but the colons (so the no-signal text keeps the room a
// timecode will take, and the widest digit is counted wherever a digit may stand), and one line
// height per line with the leading between them.
QSize floorExtent(const QString& family, const QString& text, int pointSize = kFloorPointSize);

// The room the three stacked labels need at one floor size: the timecode as floorExtent has it,
// the rate in the same bold font, the addresses in their own font, never larger than it is.
struct LinesExtent
{
    QSize time;
    QSize rate;
    QSize sources;
};
LinesExtent linesExtent(const QString& family, const QString& time, const QString& rate,
                        const QString& sources, const QFont& sourcesFont, int pointSize);

// The floor on a screen: the floor itself where the lines fit into room at it, else the largest
// size below it at which the timecode's, the rate's and the addresses' lines, stacked, fit into
// room's height and the widest of them into its width; 1 when not even that size fits.
int floorOnScreen(const QString& family, const QString& time, const QString& rate,
                  const QString& sources, const QFont& sourcesFont, QSize room);

// The rows layout's columns: how many columns count blocks of senders stand in within room, so
// that their digits are the largest. The blocks go down the columns, rows = count / columns
// rounded up; a block's cell is room's width / columns by room's height / rows, in whole pixels.
// digits says how large the digits are in a cell (0 where a block does not fit in it). The
// largest digits win; of column counts that give the same, the fewest. Of the counts that make
// the same number of rows only the fewest is tried: more would only narrow the cells.
int columnsFor(int count, QSize room, const std::function<int(QSize cell)>& digits);

// Where a window's frame goes to stand on its screen's available area: moved back by what it
// reaches past the bottom or the right edge, and never past the top or the left edge, where a
// frame larger than the area keeps its top left corner.
QPoint placedOnScreen(const QRect& frame, const QRect& available);

// The contrast ratio of two colours as accessibility guidelines define it, from 1 (alike) to 21
// (black and white).
double contrastRatio(const QColor& a, const QColor& b);

// A grey for a silent sender's text: halfway, in contrast, between the live text and the
// background, so it is told from both alike; never below 3 : 1 against the background, which
// large text needs to stay readable, where the two colours leave room for that.
QColor dimmedColour(const QColor& text, const QColor& background);

} // namespace DisplayRules
