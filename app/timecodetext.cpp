#include "timecodetext.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>

namespace TimecodeText {

namespace {

constexpr int kFirstTriedSize = 23;
constexpr int kLastTriedSize = 999;
constexpr int kSmallestSize = 22;

QString leadingZero(quint8 value)
{
    return value <= 9 ? QStringLiteral("0") : QString();
}

} // namespace

QString frameRateName(quint8 type)
{
    switch (type) {
    case 0:
        return QCoreApplication::translate("MainWindow", "24 FPS");
    case 1:
        return QCoreApplication::translate("MainWindow", "25 FPS");
    case 2:
        return QCoreApplication::translate("MainWindow", "30 Drop");
    case 3:
        return QCoreApplication::translate("MainWindow", "30 FPS");
    default:
        return QString();
    }
}

QString formatTime(const TimecodeRecord& record)
{
    return QCoreApplication::translate("MainWindow", "%1%2:%3%4:%5%6:%7%8")
        .arg(leadingZero(record.hours), QString::number(record.hours), leadingZero(record.minutes),
             QString::number(record.minutes), leadingZero(record.seconds),
             QString::number(record.seconds), leadingZero(record.frames),
             QString::number(record.frames));
}

void appendEntry(Texts& texts, const TimecodeRecord& record, const QHostAddress& sender,
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
    texts.source += sender.toString();
    ++texts.count;
}

int fittedPointSize(const QString& family, const QString& text, int height, int width)
{
    const int heightLimit = (2 * height) / 3;
    const int widthLimit = (2 * width) / 3;
    for (int size = kFirstTriedSize;; ++size) {
        const QFontMetrics metrics(QFont(family, size, QFont::Bold, false));
        if (metrics.height() >= heightLimit)
            return size - 1;
        if (metrics.horizontalAdvance(text) >= widthLimit)
            return size - 1;
        if (size == kLastTriedSize)
            return kSmallestSize;
    }
}

} // namespace TimecodeText
