#include "kerneldrops.h"

namespace KernelDrops {

QString lineFor(Reported& reported, quint64 drops, qint64 nowNs)
{
    if (drops <= reported.drops)
        return QString();
    QString line;
    if (!reported.any) {
        line = QStringLiteral("the receive buffer of UDP port 6454 overflowed: the kernel dropped "
                              "%1 datagrams, timecode among them may be lost")
                   .arg(drops);
    } else if (nowNs - reported.atNs >= kReportEveryNs) {
        line = QStringLiteral("the kernel has dropped %1 datagrams on UDP port 6454").arg(drops);
    } else {
        return QString();
    }
    reported = Reported{drops, nowNs, true};
    return line;
}

} // namespace KernelDrops
