// How a generator lets `nodes` and the desks find it: it answers ArtPoll, without taking from
// the window or any other program on this machine the datagrams sent to its address.
//
// A socket bound to a network's broadcast address receives only what is sent to that address:
// the broadcast polls, never the unicast timecode sent to this machine, which stays with the
// program on the wildcard address. So the responder binds only the broadcast addresses of the
// networks the generator sends on, and answers from a port of its own.
#pragma once

#include "artnet.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <thread>

namespace PollAnswer {

// The broadcast addresses to listen on for the destinations: each destination's network (the
// destination being that network's broadcast address or an address in it), once each, in the
// order of the destinations. Networks that carry none of them, and destinations on no local
// network (this machine's loopback among them), give none.
QList<QHostAddress> listenAddresses(const QList<InterfaceEntry>& networks,
                                    const QList<QHostAddress>& destinations);

// The ArtPollReply for one network: its address, the names, the BindIndex, no ports.
QByteArray reply(const InterfaceEntry& network, const QString& shortName, const QString& longName,
                 quint8 bindIndex);

// BindIndex values of the generators' answers. A desk (and `nodes`) tells nodes at one address
// apart by their BindIndex; the window at the same address answers with 0 and up, one for
// each four of its ports, so the generators take theirs from the other end.
inline constexpr quint8 kSendBindIndex = 200;
inline constexpr quint8 kLtcBindIndex = 201;
inline constexpr quint8 kMtcBindIndex = 202;

} // namespace PollAnswer

// Answers ArtPoll on a thread of its own from construction to destruction.
class PollResponder
{
public:
    // The long name says what is sent; " to " and the destinations are added to it.
    PollResponder(const QString& shortName, const QString& what,
                  const QList<QHostAddress>& destinations, quint8 bindIndex);
    ~PollResponder();
    PollResponder(const PollResponder&) = delete;
    PollResponder& operator=(const PollResponder&) = delete;

    // How many broadcast addresses it listens on.
    int listening() const { return int(sockets.size()); }

private:
    void run();

    struct Socket
    {
        int descriptor = -1;
        QByteArray reply; // the answer for its network
    };
    QList<Socket> sockets;
    int answerSocket = -1;
    int wake[2] = {-1, -1}; // written once to end the thread
    std::thread thread;
};
