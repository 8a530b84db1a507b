// A command that listens on the Art-Net port through the node.
#pragma once

#include "artnet.h"

#include <QString>

// How a command ended up listening.
enum class Listening {
    ByCapture, // every datagram this machine sees, taken from nobody
    OnPort,    // UDP port 6454, shared with any other program on it
};

// Attaches the observer and feeds the node every Art-Net datagram this machine sees, by packet
// capture on the interface (all of them when none is named) as the node's transport, which takes
// nothing from the window or any other program on port 6454. Without the capability to capture
// it says so in one line, with the command that grants it, and shares port 6454 as the window
// does instead, warning that unicast then reaches only one of the programs. False after a
// one-line complaint naming the command: a named interface that cannot be captured on, or a port
// that cannot be shared. *how says which way it listens.
bool listenBesideOthers(artnet& node, ArtNetObserver* observer, const QString& command,
                        const QString& interface = QString(), Listening* how = nullptr);
