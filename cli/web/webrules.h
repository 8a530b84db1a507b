// What chronolume-cli web tells its pages, and how much it lets wait for a page that reads
// slowly: plain functions and values, no socket.
#pragma once

#include "packets.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QString>

namespace WebRules {

// One sender as a page shows it.
struct SenderView
{
    int order = 0; // first heard is 0
    QHostAddress address;
    quint8 stream = 0;
    QString name; // empty while unknown
    TimecodeRecord timecode;
    bool silent = false;   // judged by the server, never by the page
    bool conflict = false; // two programs send under this address and stream now
};

// One compact JSON object per sender and change:
// {"n":0,"address":"10.0.0.5","stream":2,"name":"","tc":"01:02:03:04","rate":"25 FPS",
//  "silent":false,"conflict":false}
QByteArray senderMessage(const SenderView& sender);

// One WebSocket message: the states given, in that order, as a JSON array:
// [{"n":0,...},{"n":1,...}]
QByteArray joined(const QList<QByteArray>& states);

// The WebSocket frame that carries one text message from the server: final, opcode 1 (text),
// unmasked, the payload's length in 7 bits, or 126 and 16 bits, or 127 and 64 bits (RFC 6455,
// 5.2), then the payload.
QByteArray textFrame(const QByteArray& payload);

// A page draws once per display frame (the browser's animation frame, 60 a second), so it is
// sent one message per display frame at most: 1/60 s, rounded up to the nanosecond.
inline constexpr qint64 kDisplayFrameNs = 16'666'667;
// A socket that holds this many bytes not yet written has a page behind: further frames wait.
// What gathers for a page that keeps up never waits beyond this size either.
inline constexpr qint64 kBehindBytes = 4096;
// A page that stays behind for longer than this is dropped.
inline constexpr qint64 kDropAfterNs = 3'000'000'000;
// Every page is pinged this often; its pong comes back only once it has read what was sent
// before, however large the buffers between.
inline constexpr qint64 kPingEveryNs = 1'000'000'000;
// A page that answered nothing for longer than this is dropped too.
inline constexpr qint64 kUnansweredAfterNs = 5'000'000'000;

// The states waiting for one page, and when they leave. A state that finds the page's last
// message a display frame or more ago leaves at once; one that comes sooner waits, with every
// other that comes before the display frame is over, and they leave together as one message.
// While the page keeps up, every state it is offered reaches it, in order: a sender that sends
// at most 30 frames a second has one frame per message, and one whose frames come closer
// together (late, bunched by the network) has each of them in the message, in order, rather
// than its newest alone. Only what gathers beyond kBehindBytes within one display frame (a
// flood, not timecode) leaves before the display frame is over. The socket is asked only when
// something may leave: a page found behind keeps only each sender's newest and is asked again a
// display frame later, so what waits is bounded by the number of senders, and a page that stays
// behind is dropped.
class ClientQueue
{
public:
    // A sender's new state at nowNs. True when what waits may leave now: ask due().
    bool offer(int sender, const QByteArray& state, qint64 nowNs);
    // What waits, if it may leave now, given the bytes the page's socket has not written yet;
    // none while it waits. Asked when offer() says so and at dueAtNs().
    QList<QByteArray> due(qint64 bytesToWrite, qint64 nowNs);
    // When what waits may leave, or the page is to be asked again whether it is still behind;
    // -1 when nothing waits.
    qint64 dueAtNs() const { return held.isEmpty() ? -1 : dueNs; }
    // A message sent besides these rules (every sender's state, to a page that just came).
    void sent(qint64 nowNs) { dueNs = nowNs + kDisplayFrameNs; }
    // The page answered (its connection, each pong).
    void answered(qint64 nowNs) { lastAnswerNs = nowNs; }
    // Behind for longer than kDropAfterNs, or nothing answered for longer than
    // kUnansweredAfterNs since the first answer.
    bool stayedBehind(qint64 nowNs) const;
    int waiting() const { return int(held.size()); }

private:
    struct Held
    {
        int sender = 0;
        QByteArray state;
    };
    bool behind() const { return behindSinceNs >= 0; }
    bool mayLeave(qint64 nowNs) const;
    void keepNewest();

    QList<Held> held; // in the order offered
    qint64 heldBytes = 0;
    qint64 dueNs = 0;       // the last message's time and a display frame
    qint64 firstHeldNs = 0; // when the first of what waits was offered
    qint64 behindSinceNs = -1;
    qint64 lastAnswerNs = -1;
};

} // namespace WebRules
