// The timecode font fit done the slow, obvious way, for the tests and the fitting benchmark to
// hold the window's search against: every bold size from 23 upward, one by one.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QSize>
#include <QString>
#include <QStringList>

#include <algorithm>

namespace FitReference {

// Stops at the first size whose lines, stacked a line spacing apart, reach two thirds of the
// label's height, or whose widest line reaches two thirds of its width, and takes the size below;
// 22 when no size up to 999 stops it.
inline int oneByOne(const QString& family, const QString& text, QSize label)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int size = 23; size <= 999; ++size) {
        const QFontMetrics metrics(QFont(family, size, QFont::Bold));
        int widest = 0;
        for (const QString& line : lines)
            widest = std::max(widest, metrics.horizontalAdvance(line));
        const int stacked =
            int(lines.size()) * metrics.height() + int(lines.size() - 1) * metrics.leading();
        if (stacked >= (2 * label.height()) / 3 || widest >= (2 * label.width()) / 3)
            return size - 1;
    }
    return 22;
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
