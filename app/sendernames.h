// Which sender is which: the short name each sender's ArtPollReply gives, asked for with one
// unicast ArtPoll when a sender is first heard and again when it returns from silence, and the
// address line that shows it.
#pragma once

#include "artnet.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QString>

#include <optional>

namespace SenderNames {

// The longest short name shown: the field's 18 bytes less the NUL that ends it.
inline constexpr int kShortNameLength = 17;

// Whether a timecode from an address that arrived at arrivalNs asks the address for its name:
// when the address was never heard (lastArrivalNs < 0) or fell silent before it. Both on
// std::chrono::steady_clock in nanoseconds.
bool asksForName(qint64 lastArrivalNs, qint64 arrivalNs);

// What identifies the window's own ArtPollReply, which names no sender.
struct OwnReply
{
    QString longName;
    quint8 oemHi = 0;
    quint8 oemLo = 0;
};

// The name an ArtPollReply gives its source address, control characters shown as \xHH; nothing
// when the datagram is no reply, when its IP Address field is not the address it came from, or
// when it is the window's own reply.
std::optional<QString> nameFromReply(const QByteArray& datagram, const QHostAddress& source,
                                     const OwnReply& own);

// A sender's address line: "10.0.0.5", "10.0.0.5 · 2" for stream 2, and with a name in front,
// "FOH desk · 10.0.0.5 · 2".
QString addressLine(const QString& name, const QHostAddress& address, quint8 stream);

} // namespace SenderNames

// Learns the senders' names from the node it observes: polls as asksForName says, takes the
// names as nameFromReply says, and keeps one per address. On the node's thread.
class SenderNamer : public ArtNetObserver
{
public:
    // The node stays the caller's and must outlive the namer's use as its observer.
    SenderNamer(artnet* node, const SenderNames::OwnReply& own);

    void timecodeReceived(const TimecodeRecord& record, const QHostAddress& sender, quint8 stream,
                          qint64 arrivalNs) override;
    void pollReplyReceived(const QByteArray& datagram, const QHostAddress& sender) override;

    // The address's name; empty while it has none.
    QString name(const QHostAddress& address) const;
    // Counts the changes of any name, so a display redraws only when one changed.
    quint64 changes() const { return nameChanges; }

private:
    artnet* node = nullptr;
    SenderNames::OwnReply own;
    QByteArray poll;
    QHash<quint32, qint64> lastArrivals; // by IPv4 address, every stream of it
    QHash<quint32, QString> names;
    quint64 nameChanges = 0;
};
