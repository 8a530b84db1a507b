// The rows layout: every sender a block of its own, its time in large digits with its rate, name
// and address under it, the blocks in first-heard order down the columns, as many columns as give
// the digits the largest size that fits.
#pragma once

#include "displayrules.h"

#include <QFont>
#include <QList>
#include <QSize>
#include <QString>
#include <QWidget>

class QLCDNumber;
class QLabel;

class SenderRows : public QWidget
{
    Q_OBJECT

public:
    SenderRows(bool sevenSegment, QWidget* parent);

    // What a block shows: the time, and the line under it ("25 FPS · FOH desk · 10.0.0.5").
    struct Entry
    {
        QString time;
        QString info;
    };
    // A block for every entry, in order; senders never leave, so blocks are only ever added.
    void setEntries(const QList<Entry>& entries);
    // One flag per block, true for a silent sender's block, which is drawn dimmed.
    void setSilent(const QList<bool>& silent);
    // The room the window's screen leaves the blocks. The time's floor is the fixed one where
    // every block fits into it at that size in some number of columns, else the largest size
    // below at which they do; the blocks' minimum size is theirs at that size in the fewest
    // columns that fit.
    void setRoom(QSize room);

    int columns() const { return shownColumns; }
    int floor() const { return floorPointSize; }
    // The blocks' parts, for the tests: the time (a label or a seven-segment number) and the line
    // under it.
    qsizetype blockCount() const { return blocks.size(); }
    QWidget* timeWidget(qsizetype block) const;
    QLabel* infoLabel(qsizetype block) const { return blocks.at(block).info; }

    QSize minimumSizeHint() const override { return minimum; }
    QSize sizeHint() const override { return minimum; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Block
    {
        QLabel* timeLabel = nullptr;
        QLCDNumber* timeLcd = nullptr;
        QLabel* info = nullptr;
    };

    // The floor, the lines' fonts and the minimum size, from the room and the texts.
    void measure();
    // The columns, the blocks' places and the time's font, at the widget's size.
    void place();
    void colour();
    // The room one block needs with its time at a point size (the seven-segment number: at the
    // size it asks for), and the line under it in font.
    QSize blockAt(int pointSize, const QFont& font) const;
    // What of a cell a block takes, the gaps to its neighbours left out.
    QSize inside(QSize cell) const;
    // How large the digits are in a cell, above a line of this height: the time's point size, or
    // the seven-segment number's segment length; 0 where the cell is smaller than a block at the
    // floor.
    int digitsIn(QSize cell, int lineHeight) const;
    QString widestTime() const;
    QString widestInfo() const;

    bool lcd = false;
    QList<Block> blocks;
    QList<Entry> shown;
    QList<bool> silent;
    QSize room{QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    QString family;    // the time's, bold
    QFont desktopFont; // the line under it, as the desktop gives it
    QFont infoFont;    // that, no larger than the floor
    int floorPointSize = DisplayRules::kFloorPointSize;
    QSize floorBlock; // a block at the floor
    QSize minimum;
    int lcdDigits = 11;
    int shownColumns = 1;
    int timePointSize = DisplayRules::kFloorPointSize;
};
