// monitor's figures fed by hand, as the node feeds them: each timecode taken by a sender table
// first, whose entry the figures then count.
#pragma once

#include "monitor/timecodehealth.h"
#include "senders.h"

namespace TestSupport {

class FedMonitor : public TimecodeHealth::Monitor
{
public:
    using TimecodeHealth::Monitor::arrived;
    void arrived(const TimecodeRecord& record, const QHostAddress& sender, qint64 arrivalNs,
                 quint8 stream = 0)
    {
        int order = 0;
        const SenderTable::Taken taken = table.take(record, sender, stream, arrivalNs, &order);
        if (taken == SenderTable::Taken::Added || taken == SenderTable::Taken::Updated)
            arrived(table.at(order));
    }
    SenderTable table;
};

} // namespace TestSupport
