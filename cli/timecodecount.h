// Timecode numbering: the frame rates ArtTimeCode names by its Type byte, and the counting of
// frames under each, drop-frame numbering included.
#pragma once

#include "artnet.h"

#include <QString>
#include <QtGlobal>

namespace TimecodeCount {

// Frames per second as the frame field counts them (30 for drop-frame); 0 for unknown types.
int nominalFps(quint8 type);
// Frames per second in real time (30000/1001 for drop-frame); 0 for unknown types.
double nominalRate(quint8 type);
// Milliseconds from one frame to the next; 0 for unknown types.
double nominalPeriodMs(quint8 type);

// Frame numbers from 00:00:00:00 up to, not including, the next midnight; 0 for unknown types.
qint64 framesPerDay(quint8 type);

// A timecode its own type can carry: hours below 24, minutes and seconds below 60, frames below
// the rate, and for drop-frame not one of the frame numbers the numbering skips.
bool isValid(const TimecodeRecord& record);

// Frames since 00:00:00:00 under the record's numbering; -1 when the record is not valid.
qint64 toFrameNumber(const TimecodeRecord& record);

// The timecode of frame n (taken modulo a day, so the hours wrap from 23 to 0); a zero record of
// that type when the type is unknown.
TimecodeRecord fromFrameNumber(qint64 n, quint8 type);

// "HH:MM:SS:FF", each field at least two digits.
QString text(const TimecodeRecord& record);

// The frame after this one; midnight follows the day's last frame (and an invalid record).
TimecodeRecord next(const TimecodeRecord& record);

} // namespace TimecodeCount
