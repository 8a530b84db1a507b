// Which sender is which: the node's table keeps the names its ArtPollReplies give; the window
// asks each sender for one with a unicast ArtPoll when it is first heard and again when it
// returns from silence, and writes the address line that shows it.
#pragma once

#include "artnet.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

namespace SenderNames {

// Whether a timecode, read as its sender's numbering reads it, asks the sender for its name:
// the sender's first, or the first after a silence.
bool asksForName(Timecode::HeardKind heard);

// A sender's address line: "10.0.0.5", "10.0.0.5 · 2" for stream 2, with a name in front,
// "FOH desk · 10.0.0.5 · 2", and while two programs send under it, "two sources" at the end:
// "FOH desk · 10.0.0.5 · 2 · two sources".
QString addressLine(const QString& name, const QHostAddress& address, quint8 stream,
                    bool twoSources = false);

// The line on standard output when the window first finds two sources behind a sender, named as
// `monitor` names it: "10.0.0.5: two sources", "10.0.0.6 stream 2: two sources".
QString twoSourcesLine(const QHostAddress& address, quint8 stream);

} // namespace SenderNames

// Asks senders for their names as asksForName says. On the node's thread, as its observer.
class SenderNamer : public ArtNetObserver
{
public:
    // The node stays the caller's and must outlive the namer's use as its observer.
    explicit SenderNamer(artnet* node);

    void timecodeReceived(const SenderEntry& sender) override;

private:
    artnet* node = nullptr;
    QByteArray poll;
};
