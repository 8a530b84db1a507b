#include "timecodetext.h"
#include "timecode.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QStringList>

#include <algorithm>

namespace TimecodeText {

namespace {

constexpr int kLastTriedSize = 999;

// What the label needs for its text at one point size: its lines stacked as the label lays them
// out, a line spacing apart, and its widest line.
struct Extent
{
    qint64 height = 0;
    qint64 width = 0;
};

Extent extentAt(const QString& family, const QStringList& lines, int size)
{
    const QFontMetrics metrics(QFont(family, size, QFont::Bold, false));
    Extent extent;
    extent.height =
        qint64(metrics.height()) * lines.size() + qint64(metrics.leading()) * (lines.size() - 1);
    for (const QString& line : lines)
        extent.width = std::max<qint64>(extent.width, metrics.horizontalAdvance(line));
    return extent;
}

} // namespace

QString frameRateName(quint8 type)
{
    // The window leaves the name out for a Type it does not know rather than name it.
    if (!Timecode::isKnownType(type))
        return QString();
    return QCoreApplication::translate("MainWindow", Timecode::rateName(type));
}

QString formatTime(const TimecodeRecord& record)
{
    return Timecode::text(record);
}

void appendEntry(Texts& texts, const TimecodeRecord& record, const QString& addressLine,
                 const QString& separator)
{
    // Separators go in even for an empty rate name, so every sender keeps its position.
    if (texts.count > 0) {
        texts.rate += separator;
        texts.time += separator;
        texts.source += separator;
    }
    texts.rate += frameRateName(record.type);
    texts.time += formatTime(record);
    texts.source += addressLine;
    ++texts.count;
}

void appendLcdEntry(QList<LcdLine>& lines, const TimecodeRecord& record, const QString& addressLine)
{
    // The time is the longer text of the two: a line its digits hold holds the rates too.
    const qsizetype time = formatTime(record).size();
    if (lines.isEmpty() || lines.constLast().texts.time.size() + 1 + time > kMostLcdDigits)
        lines.append(LcdLine());
    LcdLine& line = lines.last();
    appendEntry(line.texts, record, addressLine, QStringLiteral(" "));
    line.timeDigits = int(line.texts.time.size());
    line.rateDigits = int(std::max<qsizetype>(line.texts.rate.size(), 7 * line.texts.count - 1));
}

int fittedPointSize(const QString& family, const QString& text, int height, int width, int floor)
{
    const int smallest = std::clamp(floor, 1, kLastTriedSize - 2);
    const int firstTried = smallest + 1;
    const int heightLimit = (2 * height) / 3;
    const int widthLimit = (2 * width) / 3;
    const QStringList lines = text.split(QLatin1Char('\n'));
    const auto reaches = [&](const Extent& extent) {
        return extent.height >= heightLimit || extent.width >= widthLimit;
    };
    const auto reachesAt = [&](int size) { return reaches(extentAt(family, lines, size)); };

    const Extent first = extentAt(family, lines, firstTried);
    if (reaches(first))
        return smallest;

    // The text grows with the point size, so the sizes that reach a limit are one run up to the
    // last size tried; its start is searched for, not walked to. The text grows almost in
    // proportion to the size, so the first size's extent tells nearly where the run starts.
    const auto proportional = [firstTried](qint64 limit, qint64 extent) {
        return extent > 0 ? (qint64(firstTried) * limit + extent - 1) / extent
                          : qint64(kLastTriedSize);
    };
    const qint64 guess =
        std::min(proportional(heightLimit, first.height), proportional(widthLimit, first.width));

    int below = firstTried;        // the largest size known to stay under both limits
    int from = kLastTriedSize + 1; // the smallest known to reach one; one past the last: none does
    const int start = int(std::clamp<qint64>(guess, below + 1, kLastTriedSize));
    const bool startReaches = reachesAt(start);
    (startReaches ? from : below) = start;

    // Away from the guess in doubling steps until a size answers the other way, then halve.
    for (int step = 1; from - below > 1; step *= 2) {
        const int size =
            startReaches ? std::max(below + 1, from - step) : std::min(from - 1, below + step);
        const bool reached = reachesAt(size);
        (reached ? from : below) = size;
        if (reached != startReaches)
            break;
    }
    while (from - below > 1) {
        const int middle = below + (from - below) / 2;
        (reachesAt(middle) ? from : below) = middle;
    }
    return from > kLastTriedSize ? smallest : from - 1;
}

} // namespace TimecodeText
