// The one table of timecode senders: every front end (the window, `monitor`, `web`) reads this,
// kept by the node as it reads ArtTimeCode and ArtPollReply. A sender is an IPv4 address and an
// ArtTimeCode StreamId together. Plain data and rules: no socket, no clock of its own.
#pragma once

#include "packets.h"
#include "timecode.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <optional>

// One sender, in first-heard order.
struct SenderEntry
{
    int order = 0; // its place in first-heard order, from 0
    QHostAddress address;
    quint32 ip = 0;
    // ArtTimeCode's StreamId: one address sending several streams has an entry for each, so a
    // media server and an LTC bridge on one machine do not take turns in one entry.
    quint8 stream = 0;
    TimecodeRecord timecode; // the last one received
    // Its arrival in nanoseconds on the node's timecode clock. Every datagram counts, the same
    // frame repeated too: a paused playback still sends.
    qint64 arrivalNs = 0;
    QString name; // empty while no reply names it (SenderNaming)
    // Its frames read as a numbering, and what the last datagram was in it.
    Timecode::Numbering numbering;
    Timecode::Heard heard;

    bool silentAt(qint64 nowNs) const { return Timecode::isSilent(arrivalNs, nowNs); }
    // Two programs send under this address and stream now.
    bool twoSourcesAt(qint64 nowNs) const { return numbering.twoSourcesAt(nowNs); }
};

// Which sender an ArtPollReply names. A reply names only the address it came from (its IP
// Address field is its source: a reply relayed or forged for another address names nobody), never
// the node's own nor another Chronolume window's (a viewer sends no timecode), and shows its
// short name escaped and cut as a line on screen allows. Several programs may answer from one
// address (a desk and an LTC bridge on one laptop), and a wrong name is worse than none: a reply
// that says which stream it sends ("stream N" in its long name, as our generators write it) names
// that stream alone; a reply that says none names a stream only when nothing else is left to
// tell: it is the only such reply from its address, and of the address's streams exactly one is
// named by no reply that says its stream.
namespace SenderNaming {

// The longest short name shown: the field's 18 bytes less the NUL that ends it.
inline constexpr int kShortNameLength = 17;

// The OEM code a Chronolume window answers with; with a long name that begins "Chronolume ", a
// reply is a window's, which names no sender.
inline constexpr quint8 kWindowOemHi = 0x0C;
inline constexpr quint8 kWindowOemLo = 0x12;

// What identifies the node's own ArtPollReply, which names no sender.
struct OwnReply
{
    QString longName;
    quint8 oemHi = 0;
    quint8 oemLo = 0;
};

// One program's answer from an address.
struct Replier
{
    QString shortName; // as received
    QString longName;
    QString name;    // as shown: escaped, cut
    int stream = -1; // the stream its long name says it sends, -1 when it says none
};

// The replier an ArtPollReply from source makes; nothing when the datagram is no reply, names
// another address, or is the node's own or a Chronolume window's.
std::optional<Replier> replier(const QByteArray& datagram, const QHostAddress& source,
                               const OwnReply& own);

// The stream a long name says it sends: "stream N", N from 0 to 255, as a word of its own.
int streamInLongName(const QString& longName);

// The name the repliers of one address give one of its streams, the address sending `streams`;
// empty for none.
QString nameFor(const QList<Replier>& repliers, quint8 stream, const QList<quint8>& streams);

} // namespace SenderNaming

class SenderTable
{
public:
    // However many addresses and streams a network shows, no more entries than this are kept:
    // a flood of new senders must not take over the node's memory and time.
    static constexpr int kMaxSenders = 256;
    // Programs remembered per address; a new one past them replaces the one heard longest ago.
    static constexpr int kMaxRepliersPerAddress = 8;
    // Addresses whose replies are kept besides the senders' own: names that come before a
    // sender's first timecode are ready for it.
    static constexpr int kMaxOtherNamedAddresses = 256;

    // What taking a timecode did.
    enum class Taken { Updated, Added, Full, NotIpv4 };

    // A timecode from sender and stream, arrived at arrivalNs on the node's clock; *order is
    // the entry's (unchanged for Full and NotIpv4).
    Taken take(const TimecodeRecord& record, const QHostAddress& sender, quint8 stream,
               qint64 arrivalNs, int* order = nullptr);
    // An ArtPollReply from source. The orders of the entries whose name it changed.
    QList<int> takeReply(const QByteArray& datagram, const QHostAddress& source,
                         const SenderNaming::OwnReply& own);

    int size() const { return int(entries.size()); }
    bool isEmpty() const { return entries.isEmpty(); }
    // The entry at its place in first-heard order; order from 0 to size() - 1.
    const SenderEntry& at(int order) const { return entries.at(order); }
    const QList<SenderEntry>& all() const { return entries; }
    // The order of a sender, -1 when it is not in the table.
    int find(quint32 ip, quint8 stream) const;
    // Counts every change of a name, so a display redraws only when one changed.
    quint64 nameChanges() const { return renamed; }

private:
    static quint64 key(quint32 ip, quint8 stream) { return (quint64(ip) << 8) | stream; }
    QList<int> rename(quint32 ip);

    QList<SenderEntry> entries;
    QHash<quint64, int> index;            // by key
    QHash<quint32, QList<int>> byAddress; // the orders of every stream of an address
    QHash<quint32, QList<SenderNaming::Replier>> repliers; // by address, oldest first
    int otherNamed = 0; // addresses in repliers that send no timecode
    quint64 renamed = 0;
};
