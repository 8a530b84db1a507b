// A command that listens on the Art-Net port through the node.
#pragma once

#include "artnet.h"

#include <QString>

// Attaches the observer and feeds the node every Art-Net datagram this machine sees, by packet
// capture on the interface (all of them when none is named), which takes nothing from the
// window or any other program on port 6454. Without the capability to capture it says so in
// one line, with the command that grants it, and shares port 6454 as the window does instead,
// warning that unicast then reaches only one of the programs. False after a one-line complaint
// naming the command: a named interface that cannot be captured on, or a port that cannot be
// shared.
bool listenBesideOthers(artnet& node, ArtNetObserver* observer, const QString& command,
                        const QString& interface = QString());

// The node is fed by packet capture rather than by a socket of its own.
bool listeningByCapture(const artnet& node);

// Datagrams the kernel dropped before they were read: from the capture's buffer while capturing,
// otherwise from the node's own socket.
quint64 listeningDrops(const artnet& node);

// Hands the node what the capture holds now, so that a run that ends counts every datagram
// that came before its end; nothing without a capture.
void takeCapturedNow(artnet& node);
