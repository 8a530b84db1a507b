#include "senderrows.h"

#include "timecodetext.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLCDNumber>
#include <QLabel>
#include <QPalette>

#include <algorithm>

namespace {

// Between two blocks, so that neither the digits nor the lines of neighbours run together.
constexpr int kBlockGap = 8;

int rowsFor(qsizetype count, int columns)
{
    return int((count + columns - 1) / columns);
}

} // namespace

SenderRows::SenderRows(bool sevenSegment, QWidget* parent) : QWidget(parent), lcd(sevenSegment)
{
    family = font().family();
    desktopFont = font();
    infoFont = desktopFont;
}

QWidget* SenderRows::timeWidget(qsizetype block) const
{
    const Block& b = blocks.at(block);
    return b.timeLcd ? static_cast<QWidget*>(b.timeLcd) : static_cast<QWidget*>(b.timeLabel);
}

void SenderRows::setEntries(const QList<Entry>& entries)
{
    const qsizetype before = blocks.size();
    // Another block, a longer time or another line under one is another shape: the floor and the
    // minimum follow, and the blocks are placed anew. Only the times change at every frame.
    bool reshaped = entries.size() != shown.size();
    for (qsizetype i = 0; !reshaped && i < entries.size(); ++i)
        reshaped = entries[i].info != shown[i].info;
    const qsizetype longestBefore = widestTime().size();
    shown = entries;
    reshaped = reshaped || widestTime().size() != longestBefore;
    // Every digit on a number: the count is set before a text is shown, which it would cut.
    lcdDigits = std::max(11, int(widestTime().size()));
    while (blocks.size() < entries.size()) {
        Block block;
        if (lcd) {
            block.timeLcd = new QLCDNumber(this);
            block.timeLcd->setSegmentStyle(QLCDNumber::Flat);
            block.timeLcd->setFrameStyle(QFrame::NoFrame);
            block.timeLcd->setDigitCount(lcdDigits);
        } else {
            block.timeLabel = new QLabel(this);
            block.timeLabel->setTextFormat(Qt::PlainText);
            // Down to the line under it, which reads as the time's own.
            block.timeLabel->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
            block.timeLabel->setFont(QFont(family, timePointSize, QFont::Bold, false));
        }
        block.info = new QLabel(this);
        block.info->setTextFormat(Qt::PlainText);
        block.info->setAlignment(Qt::AlignCenter);
        block.info->setFont(infoFont);
        blocks.append(block);
        timeWidget(blocks.size() - 1)->show();
        block.info->show();
    }
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Block& block = blocks[i];
        if (block.timeLcd && block.timeLcd->digitCount() != lcdDigits)
            block.timeLcd->setDigitCount(lcdDigits);
        if (block.timeLcd)
            block.timeLcd->display(entries[i].time);
        else
            block.timeLabel->setText(entries[i].time);
        block.info->setText(entries[i].info);
    }
    if (blocks.size() != before || reshaped) {
        measure();
        place();
        colour();
    }
}

void SenderRows::setSilent(const QList<bool>& newSilent)
{
    if (newSilent == silent)
        return;
    silent = newSilent;
    colour();
}

void SenderRows::setRoom(QSize newRoom)
{
    if (newRoom == room)
        return;
    room = newRoom;
    measure();
    place();
}

QString SenderRows::widestTime() const
{
    QString widest;
    for (const Entry& entry : shown) {
        if (entry.time.size() > widest.size())
            widest = entry.time;
    }
    return widest;
}

QString SenderRows::widestInfo() const
{
    const QFontMetrics metrics(infoFont);
    QString widest;
    for (const Entry& entry : shown) {
        if (metrics.horizontalAdvance(entry.info) > metrics.horizontalAdvance(widest))
            widest = entry.info;
    }
    return widest;
}

QSize SenderRows::blockAt(int pointSize, const QFont& font) const
{
    const QSize line = QFontMetrics(font).size(0, widestInfo());
    QSize time;
    if (lcd) {
        QLCDNumber reference;
        reference.setDigitCount(lcdDigits);
        time = reference.sizeHint();
    } else {
        time = DisplayRules::floorExtent(family, widestTime(), pointSize);
    }
    return QSize(std::max(time.width(), line.width()), time.height() + line.height()) +
           QSize(kBlockGap, kBlockGap);
}

void SenderRows::measure()
{
    const qsizetype count = std::max<qsizetype>(1, shown.size());
    // The fewest columns in which the blocks fit into the room at a size, if any.
    const auto fitting = [&](QSize blockSize) {
        for (int columns = 1; columns <= count; ++columns) {
            if (columns * blockSize.width() <= room.width() &&
                rowsFor(count, columns) * blockSize.height() <= room.height())
                return columns;
        }
        return 0;
    };
    // Downward from the floor, as the blocks layout's floor gives way: only where the screen has
    // no room for every block at it, and then only as far as they need. The line under the time
    // shrinks along once the size is below its own.
    int columns = 0;
    for (floorPointSize = DisplayRules::kFloorPointSize;; --floorPointSize) {
        infoFont = desktopFont;
        if (infoFont.pointSize() > floorPointSize)
            infoFont.setPointSize(floorPointSize);
        floorBlock = blockAt(floorPointSize, infoFont);
        columns = fitting(floorBlock);
        // The seven-segment numbers ask for one size only; where that does not fit, they take
        // what the room gives them.
        if (columns > 0 || floorPointSize == 1 || lcd)
            break;
    }
    if (columns == 0) {
        columns = std::clamp(room.width() / std::max(1, floorBlock.width()), 1, int(count));
        if (lcd) {
            const int lineHeight = QFontMetrics(infoFont).height() + kBlockGap;
            floorBlock.setHeight(std::max(lineHeight + 1, room.height() / rowsFor(count, columns)));
        }
    }
    for (const Block& block : std::as_const(blocks))
        block.info->setFont(infoFont);
    minimum = QSize(columns * floorBlock.width(), rowsFor(count, columns) * floorBlock.height());
    updateGeometry();
}

QSize SenderRows::inside(QSize cell) const
{
    // Seven-segment digits fill their number's width: a wider gap keeps neighbours apart.
    const int across = lcd ? std::max(kBlockGap, cell.width() / 12) : kBlockGap;
    return cell - QSize(across, kBlockGap);
}

int SenderRows::digitsIn(QSize cell, int lineHeight) const
{
    if (cell.width() < floorBlock.width() || cell.height() < floorBlock.height())
        return 0;
    const QSize time = inside(cell) - QSize(0, lineHeight);
    if (lcd) {
        // As the seven-segment number sizes its digits: by the height, or by the width its
        // digits share, whichever allows less.
        return std::min(time.height() * 5 / 12, time.width() * 5 / (lcdDigits * 6 + 1));
    }
    return TimecodeText::fittedPointSize(family, widestTime(), time.height(), time.width(),
                                         floorPointSize);
}

void SenderRows::place()
{
    if (blocks.isEmpty())
        return;
    const qsizetype count = blocks.size();
    const int floorLine = QFontMetrics(infoFont).height();
    shownColumns = DisplayRules::columnsFor(int(count), size(),
                                            [&](QSize cell) { return digitsIn(cell, floorLine); });
    const int rows = rowsFor(count, shownColumns);
    const QSize cell(width() / shownColumns, height() / rows);
    const QPoint origin((width() - shownColumns * cell.width()) / 2,
                        (height() - rows * cell.height()) / 2);
    const QSize room = inside(cell);
    // The line under the time grows with it, to a third of the digits' height, as far as the
    // cell's width lets it; never below its own size.
    const int digits = digitsIn(cell, floorLine);
    const int grown = digits / 3;
    QFont line = infoFont;
    for (int size = grown; size > infoFont.pointSize(); --size) {
        line.setPointSize(size);
        if (QFontMetrics(line).horizontalAdvance(widestInfo()) <= room.width())
            break;
        line = infoFont;
    }
    const int lineHeight = QFontMetrics(line).height();
    const QSize time = (room - QSize(0, lineHeight)).expandedTo(QSize(1, 1));
    if (!lcd) {
        timePointSize = TimecodeText::fittedPointSize(family, widestTime(), time.height(),
                                                      time.width(), floorPointSize);
    }
    const QFont timeFont(family, timePointSize, QFont::Bold, false);
    const QPoint margin((cell.width() - room.width()) / 2, (cell.height() - room.height()) / 2);
    for (qsizetype i = 0; i < count; ++i) {
        const Block& block = blocks[i];
        // First-heard order down the columns.
        const QPoint at =
            origin + QPoint(int(i / rows) * cell.width(), int(i % rows) * cell.height()) + margin;
        timeWidget(i)->setGeometry(QRect(at, time));
        block.info->setGeometry(
            QRect(at + QPoint(0, time.height()), QSize(time.width(), lineHeight)));
        if (block.info->font() != line)
            block.info->setFont(line);
        if (block.timeLabel && block.timeLabel->font() != timeFont)
            block.timeLabel->setFont(timeFont);
    }
}

void SenderRows::colour()
{
    const QColor dimmed = DisplayRules::dimmedColour(palette().color(QPalette::WindowText),
                                                     palette().color(QPalette::Window));
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        QPalette colours; // inherits every colour not set here
        if (silent.value(i))
            colours.setColor(QPalette::WindowText, dimmed);
        timeWidget(i)->setPalette(colours);
        blocks[i].info->setPalette(colours);
    }
}

void SenderRows::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    place();
}

void SenderRows::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Full screen brings other colours, and with them another grey.
    if (event && event->type() == QEvent::PaletteChange)
        colour();
}
