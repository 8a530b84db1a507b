// What send writes while it runs and when it ends.
#pragma once

#include "artnet.h"
#include "framepacer.h"

#include <QString>

// The status line a terminal shows: the frame just sent, the rate and the count so far; from the
// first failure on, how many of them failed and the words of the first failure instead. With a
// width (a terminal's), cut to width - 1 characters, so that it never wraps.
QString statusText(const TimecodeRecord& record, qint64 sent, quint8 type, qint64 failed = 0,
                   const QString& firstFailure = QString(), int width = 0);

// The final line, with its line break: frames sent, the time taken, the rate, and the frames
// skipped or failed where there were any.
QString summaryText(const PacingResult& result, qint64 failed, quint8 type);
