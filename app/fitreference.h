// The timecode font fit done the slow, obvious way, for the tests and the fitting benchmark to
// hold the window's search against: every bold size from one above the floor upward, one by one.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QSize>
#include <QString>
#include <QStringList>

#include <algorithm>

namespace FitReference {

// Whether the text in the bold font of this size reaches two thirds of the label's height with
// its lines stacked a line spacing apart, or two thirds of its width with its widest line.
inline bool reaches(const QString& family, const QString& text, int size, QSize label)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    const QFontMetrics metrics(QFont(family, size, QFont::Bold));
    int widest = 0;
    for (const QString& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    const int stacked =
        int(lines.size()) * metrics.height() + int(lines.size() - 1) * metrics.leading();
    return stacked >= (2 * label.height()) / 3 || widest >= (2 * label.width()) / 3;
}

// From one above the floor, stops at the first size that reaches a limit and takes the size
// below; the floor when no size up to 999 stops it.
inline int oneByOne(const QString& family, const QString& text, QSize label, int floor = 22)
{
    for (int size = floor + 1; size <= 999; ++size) {
        if (reaches(family, text, size, label))
            return size - 1;
    }
    return floor;
}

// The rule the window had for one line: one line's height, and the whole text measured as one
// line. For a text of one line it is the rule above.
inline int oneLine(const QString& family, const QString& text, QSize label)
{
    for (int size = 23; size <= 999; ++size) {
        const QFontMetrics metrics(QFont(family, size, QFont::Bold));
        if (metrics.height() >= (2 * label.height()) / 3 ||
            metrics.horizontalAdvance(text) >= (2 * label.width()) / 3)
            return size - 1;
    }
    return 22;
}

} // namespace FitReference
