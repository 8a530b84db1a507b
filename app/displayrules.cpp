#include "displayrules.h"

#include <QFont>
#include <QFontMetrics>

#include <algorithm>
#include <cmath>

namespace DisplayRules {

namespace {

// sRGB channel to linear light and back, as the contrast ratio's relative luminance takes it.
double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double encoded(double light)
{
    return light <= 0.0031308 ? light * 12.92 : 1.055 * std::pow(light, 1.0 / 2.4) - 0.055;
}

double luminance(const QColor& colour)
{
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

// The guidelines' ratio works on luminance plus this, for the glare on any screen.
constexpr double kFlare = 0.05;
constexpr double kReadableContrast = 3.0;

} // namespace

QSize floorExtent(const QString& family, const QString& text, int pointSize)
{
    const QFontMetrics metrics(QFont(family, pointSize, QFont::Bold, false));
    QChar widestDigit = QLatin1Char('0');
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (metrics.horizontalAdvance(QLatin1Char(digit)) > metrics.horizontalAdvance(widestDigit))
            widestDigit = QLatin1Char(digit);
    }
    // Measured as Qt lays the text out and draws it, which may reach past the advances.
    QString digits = text;
    for (QChar& place : digits) {
        if (place != QLatin1Char(':') && place != QLatin1Char('\n'))
            place = widestDigit;
    }
    return metrics.size(0, digits);
}

LinesExtent linesExtent(const QString& family, const QString& time, const QString& rate,
                        const QString& sources, const QFont& sourcesFont, int pointSize)
{
    QFont addresses = sourcesFont;
    if (addresses.pointSize() > pointSize)
        addresses.setPointSize(pointSize);
    return {floorExtent(family, time, pointSize),
            QFontMetrics(QFont(family, pointSize, QFont::Bold, false)).size(0, rate),
            QFontMetrics(addresses).size(0, sources)};
}

int floorOnScreen(const QString& family, const QString& time, const QString& rate,
                  const QString& sources, const QFont& sourcesFont, QSize room)
{
    // Downward from the floor: on any screen the program is shown on, the first size tried fits
    // unless there are many senders, and only the floor's few sizes lie below it.
    int size = kFloorPointSize;
    for (; size > 1; --size) {
        const LinesExtent extent = linesExtent(family, time, rate, sources, sourcesFont, size);
        const int height = extent.time.height() + extent.rate.height() + extent.sources.height();
        const int width =
            std::max({extent.time.width(), extent.rate.width(), extent.sources.width()});
        if (height <= room.height() && width <= room.width())
            break;
    }
    return size;
}

int columnsFor(int count, QSize room, const std::function<int(QSize cell)>& digits)
{
    if (count <= 1)
        return 1;
    int best = 1;
    int bestDigits = -1;
    int lastRows = 0;
    for (int columns = 1; columns <= count; ++columns) {
        const int rows = (count + columns - 1) / columns;
        if (rows == lastRows)
            continue;
        lastRows = rows;
        const int size = digits(QSize(room.width() / columns, room.height() / rows));
        if (size > bestDigits) {
            best = columns;
            bestDigits = size;
        }
    }
    return best;
}

QPoint placedOnScreen(const QRect& frame, const QRect& available)
{
    const int x =
        std::max(available.left(), std::min(frame.left(), available.right() - frame.width() + 1));
    const int y =
        std::max(available.top(), std::min(frame.top(), available.bottom() - frame.height() + 1));
    return {x, y};
}

double contrastRatio(const QColor& a, const QColor& b)
{
    const double x = luminance(a) + kFlare;
    const double y = luminance(b) + kFlare;
    return std::max(x, y) / std::min(x, y);
}

QColor dimmedColour(const QColor& text, const QColor& background)
{
    const double textLight = luminance(text) + kFlare;
    const double backgroundLight = luminance(background) + kFlare;
    // Equal ratios to both sides: the geometric mean of the two.
    double grey = std::sqrt(textLight * backgroundLight);
    const bool darkText = textLight < backgroundLight;
    const double readable =
        darkText ? backgroundLight / kReadableContrast : backgroundLight * kReadableContrast;
    if (darkText ? grey > readable : grey < readable)
        grey = darkText ? std::max(readable, textLight) : std::min(readable, textLight);
    const double level = encoded(std::clamp(grey - kFlare, 0.0, 1.0)) * 255.0;
    // Rounded away from the background, so the rounding never costs contrast against it.
    const int value = int(darkText ? std::floor(level) : std::ceil(level));
    return QColor(value, value, value);
}

} // namespace DisplayRules
