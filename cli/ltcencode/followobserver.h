// How a --follow command hears its sender: the node's ArtTimeCode filtered to the sender (and
// stream) asked for, or to the first one heard, which is then the only one followed.
#pragma once

#include "ltcencode/followoptions.h"

#include "artnet.h"

#include <QString>

#include <functional>

namespace Console {
class OutputThread;
}

namespace Follow {

class Observer : public ArtNetObserver
{
public:
    // Each datagram followed, on the node's thread.
    using Arrived = std::function<void(const TimecodeRecord& record, qint64 arrivalNs)>;

    // The sender chosen is said once on `report`; on a terminal the line takes the place of the
    // status line (showStatus).
    Observer(const Target& target, Arrived arrived, Console::OutputThread& report, bool showStatus);

    void timecodeReceived(const SenderEntry& entry) override;

    bool heard() const { return chosen; }
    // "ADDRESS stream N" of the sender followed.
    QString followed() const;

private:
    Target target;
    Arrived arrivedFrom;
    Console::OutputThread& report;
    const bool showStatus;
    bool chosen = false;
};

// A line said while a status line stands on the terminal takes its place; the status line is
// drawn again below it at the next tick.
QString overStatus(bool showStatus);

} // namespace Follow
