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

// A socket that holds this many bytes not yet written has a page behind: further frames wait.
inline constexpr qint64 kBehindBytes = 4096;
// A page that stays behind for longer than this is dropped.
inline constexpr qint64 kDropAfterNs = 3'000'000'000;
// Every page is pinged this often; its pong comes back only once it has read what was sent
// before, however large the buffers between.
inline constexpr qint64 kPingEveryNs = 1'000'000'000;
// A page that answered nothing for longer than this is dropped too.
inline constexpr qint64 kUnansweredAfterNs = 5'000'000'000;

// The frames held back for one page. While the page keeps up, every frame goes at once; once
// it falls behind, only each sender's newest waits, so what waits is bounded by the number of
// senders, and a page that stays behind is dropped.
class ClientQueue
{
public:
    // Whether a new message goes out at once: nothing is held back and the socket is not behind.
    bool keepsUp(qint64 bytesToWrite) const
    {
        return held.isEmpty() && bytesToWrite < kBehindBytes;
    }
    // A sender's new message. Returns what to write now, in order; none while behind.
    QList<QByteArray> offer(int sender, const QByteArray& message, qint64 bytesToWrite,
                            qint64 nowNs);
    // The socket wrote some bytes: what waited, once the page is no longer behind.
    QList<QByteArray> drained(qint64 bytesToWrite);
    // The page answered (its connection, each pong).
    void answered(qint64 nowNs) { lastAnswerNs = nowNs; }
    // Behind for longer than kDropAfterNs, or nothing answered for longer than
    // kUnansweredAfterNs since the first answer.
    bool stayedBehind(qint64 nowNs) const;
    int waiting() const { return int(held.size()); }

private:
    QMap<int, QByteArray> held; // each sender's newest, by first-heard order
    qint64 behindSinceNs = -1;
    qint64 lastAnswerNs = -1;
};

} // namespace WebRules
