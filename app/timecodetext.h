// Turning received timecode into the display's texts, and fitting the display's font.
#pragma once

#include "artnet.h"

#include <QHostAddress>
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

// Point size for the timecode label: one below the first bold size from 23 upward at which the
// text as the label shows it reaches two thirds of the label's height (all its lines stacked) or
// two thirds of its width (its widest line); 22 when the first size already does, or when no
// size up to 999 does. The sizes are searched, not tried one by one.
int fittedPointSize(const QString& family, const QString& text, int height, int width);

} // namespace TimecodeText
