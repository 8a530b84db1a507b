// A command that listens on the Art-Net port through the node.
#pragma once

#include "artnet.h"
#include "portholders.h"

#include <QByteArray>
#include <QList>
#include <QString>

// How a command ended up listening.
enum class Listening {
    ByCapture, // every datagram this machine sees, taken from nobody
    OnPort,    // UDP port 6454 on every address, shared with any program that comes later
    // Port 6454 on the broadcast addresses of this machine's networks only, beside a program
    // that holds the port: the unicast sent to this machine stays with that program, unseen here.
    OnBroadcastAddresses,
};

// What a command listens for: what it says it misses on the broadcast addresses.
enum class Heard {
    Timecode,
    PollReplies, // which nodes send to the poller's own address
};

namespace ListenChoice {

enum class Capture { Opened, NoPermission, Failed };

// What holds UDP port 6454 on this machine before the command binds it.
using Port = ArtNetPort::Held;

struct Situation
{
    Capture capture = Capture::Opened;
    QString why;       // the system's words when the capture failed
    QString interface; // the one interface a capture was asked for; empty: every interface
    Port port = Port::Free;
    QString command;
    QString program; // this program's path, for the command that grants the capability
    Heard heard = Heard::Timecode;
};

struct Choice
{
    bool refused = false; // the command cannot listen as asked; the message says why
    Listening how = Listening::ByCapture;
    QString message; // said once on standard error, without the program's name; empty for none
};

// How to listen, and the one line that says what that means. Capture wherever it opens; a
// capture on a named interface that fails for another reason than permission refuses. Otherwise
// port 6454 on every address while nobody takes unicast there, on the broadcast addresses only
// while somebody does.
Choice choose(const Situation& situation);

} // namespace ListenChoice

// Attaches the observer and feeds the node every Art-Net datagram this machine sees, by packet
// capture on the interface (all of them when none is named) as the node's transport, which takes
// nothing from the window or any other program on port 6454. Without the capability to capture
// it listens on port 6454 instead, as ListenChoice::choose says: on every address while no other
// program receives unicast there, else on the broadcast addresses of this machine's networks
// only, and says once what it then cannot see (heard) and the command that grants the
// capability. False after a one-line complaint naming the command: a named interface that
// cannot be captured on, or a port that cannot be shared. *how says which way it listens.
bool listenBesideOthers(artnet& node, ArtNetObserver* observer, const QString& command,
                        const QString& interface = QString(), Listening* how = nullptr,
                        Heard heard = Heard::Timecode);

// For a command's --help: how it listens with the capability and without.
QString listeningHelp(Heard heard = Heard::Timecode);
