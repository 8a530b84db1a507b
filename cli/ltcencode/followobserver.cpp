#include "ltcencode/followobserver.h"
#include "common/console.h"

namespace Follow {

QString overStatus(bool showStatus)
{
    return showStatus ? QStringLiteral("\r\x1b[K") : QString();
}

Observer::Observer(const Target& target, Arrived arrived, Console::OutputThread& report,
                   bool showStatus)
    : target(target), arrivedFrom(std::move(arrived)), report(report), showStatus(showStatus)
{
}

void Observer::timecodeReceived(const SenderEntry& entry)
{
    const QHostAddress& sender = entry.address;
    const quint8 stream = entry.stream;
    if (!matches(target, sender, stream))
        return;
    if (!chosen) {
        // One sender and one stream from here on: two interleaved would make timecode of
        // neither.
        target.sender = sender;
        target.stream = stream;
        chosen = true;
        report.append(overStatus(showStatus) +
                      CliText::tr("following the ArtTimeCode of %1, stream %2\n")
                          .arg(sender.toString())
                          .arg(int(stream)));
    }
    arrivedFrom(entry.timecode, entry.arrivalNs);
}

QString Observer::followed() const
{
    return CliText::tr("%1 stream %2").arg(target.sender.toString()).arg(target.stream);
}

} // namespace Follow
