// When the window tells of datagrams the kernel dropped: a line when the first are dropped, and
// one a minute with the count while drops go on. On a busy show network a full receive buffer is
// where timecode gets lost, and nothing else would show it.
#pragma once

#include <QString>
#include <QtGlobal>

namespace KernelDrops {

// While drops go on, their count is written no more often than this.
inline constexpr qint64 kReportEveryNs = 60'000'000'000;

// What was written so far.
struct Reported
{
    quint64 drops = 0; // the count the last line gave
    qint64 atNs = 0;   // when it was written
    bool any = false;  // a line was written
};

// The line to write at nowNs, with drops counted so far, or a null string; updates reported when
// it gives one.
QString lineFor(Reported& reported, quint64 drops, qint64 nowNs);

} // namespace KernelDrops
