// Turning received timecode into the display's texts, and fitting the display's font.
#pragma once

#include "artnet.h"
#include "displayrules.h"

#include <QHostAddress>
#include <QList>
#include <QString>

namespace TimecodeText {

// "24 FPS", "25 FPS", "30 Drop", "30 FPS"; empty for a type the protocol does not define.
QString frameRateName(quint8 type);

// hh:mm:ss:ff, each field at least two digits, larger values shown as received.
QString formatTime(const TimecodeRecord& record);

// The three texts of the display, one entry per sender joined by a separator.
struct Texts
{
    QString rate;
    QString time;
    QString source;
    int count = 0;
};

// One sender's entry; its address line as SenderNames::addressLine gives it.
void appendEntry(Texts& texts, const TimecodeRecord& record, const QString& addressLine,
                 const QString& separator);

// The most digits a seven-segment number shows; it drops whatever is put on more.
inline constexpr int kMostLcdDigits = 99;

// One line of senders on the seven-segment display, their entries joined by blanks, and the
// digits each of its two numbers needs: one per character, and for the rate at least the 6 of
// every sender's name and the blanks, so that an unknown rate keeps its place.
struct LcdLine
{
    Texts texts;
    int timeDigits = 0;
    int rateDigits = 0;
};

// Adds a sender to the last line, or begins a new one where its time would take that line past
// kMostLcdDigits.
void appendLcdEntry(QList<LcdLine>& lines, const TimecodeRecord& record,
                    const QString& addressLine);

// Point size for the timecode label: one below the first bold size from one above the floor
// upward at which the text as the label shows it reaches two thirds of the label's height (all
// its lines stacked) or two thirds of its width (its widest line); the floor when the first size
// already does, or when no size up to 999 does. The floor is the screen's (floorOnScreen), which
// is the fixed one unless the screen is too small for it. The sizes are searched, not tried one
// by one.
int fittedPointSize(const QString& family, const QString& text, int height, int width,
                    int floor = DisplayRules::kFloorPointSize);

} // namespace TimecodeText
