// Which sender is which: the node's table keeps the names its ArtPollReplies give; the window
// asks each sender for one when it is first heard and again when it returns from silence, and
// writes the address line that shows it.
#pragma once

#include "artnet.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
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

// The window sends no more than one ArtPoll in this time, whatever it asks and of how many.
inline constexpr qint64 kPollEveryNs = 1'000'000'000;
// How long a sender may take to answer the ArtPoll sent to it alone before its network is asked.
inline constexpr qint64 kAnswerWaitNs = 500'000'000;

// A local network that has a broadcast address (loopback has none).
struct Network
{
    quint32 address = 0;
    quint32 netmask = 0;
    quint32 broadcast = 0;
};
QList<Network> broadcastNetworks(const QList<InterfaceEntry>& entries);

// An address whose sender wants a name: since askedNs, and polled alone at polledNs (-1: not
// yet).
struct Wanting
{
    quint32 address = 0;
    qint64 askedNs = 0;
    qint64 polledNs = -1;
};

// The ArtPoll to send now, if any, and the addresses it is the last ask for: those a broadcast
// reaches, and those polled alone that did not answer in time and that no broadcast can reach.
struct Poll
{
    enum class Kind { None, Unicast, Broadcast };
    Kind kind = Kind::None;
    quint32 to = 0;
    QList<quint32> done;
};

// Who is asked next, the addresses wanting names in the order they were asked, the last poll sent
// at lastPollNs (-1: none yet). No poll within kPollEveryNs of the last. The first address that
// may be asked decides: one its network's other wanting addresses share, or one that did not
// answer its own poll within kAnswerWaitNs, is asked by one broadcast on that network, which
// reaches every program there, those that take no unicast too (such as Chronolume's generators,
// which listen only on their networks' broadcast addresses); one alone is asked alone.
Poll nextPoll(const QList<Wanting>& wanting, const QList<Network>& networks, qint64 lastPollNs,
              qint64 nowNs);

} // namespace SenderNames

// Asks senders for their names as asksForName says, and as nextPoll paces it. Told of timecode
// and replies as the node's observer, on the node's thread; the polls go out from poll().
class SenderNamer : public ArtNetObserver
{
public:
    // The node stays the caller's and must outlive the namer's use as its observer.
    explicit SenderNamer(artnet* node);

    void timecodeReceived(const SenderEntry& sender) override;
    void pollReplyReceived(const QByteArray& datagram, const QHostAddress& sender) override;

    // Sends the poll that is due at nowNs, on the node's timecode clock, if one is.
    void poll(qint64 nowNs);

private:
    // An address that wants a name for these streams; it has one once a reply from the address
    // says it sends the stream. A reply that says no stream cannot tell which of several
    // programs at the address it comes from, so it does not end the ask.
    struct Asked
    {
        SenderNames::Wanting wanting;
        QList<quint8> streams;
        QList<quint8> said;
    };

    artnet* node = nullptr;
    QByteArray pollPacket;
    QList<SenderNames::Network> networks;
    QList<Asked> asked;
    qint64 lastPollNs = -1;
};
