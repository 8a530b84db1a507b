// The display's rules that need no window: the room the timecode needs at its smallest size and
// the colour a silent sender is drawn in.
#pragma once

#include <QColor>
#include <QSize>
#include <QString>

namespace DisplayRules {

// The timecode's smallest font: bold, this many points. The fit never goes below it.
inline constexpr int kFloorPointSize = 22;

// The room the timecode label needs for its text at the floor size: its widest line with a digit
// in every place but the colons (so the no-signal text keeps the room a timecode will take, and
// the widest digit is counted wherever a digit may stand), and one line height per line with
// the leading between them.
QSize floorExtent(const QString& family, const QString& text);

// The contrast ratio of two colours as accessibility guidelines define it, from 1 (alike) to 21
// (black and white).
double contrastRatio(const QColor& a, const QColor& b);

// A grey for a silent sender's text: halfway, in contrast, between the live text and the
// background, so it is told from both alike; never below 3 : 1 against the background, which
// large text needs to stay readable, where the two colours leave room for that.
QColor dimmedColour(const QColor& text, const QColor& background);

} // namespace DisplayRules
