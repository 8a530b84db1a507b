// A command that listens on the Art-Net port through the node.
#pragma once

#include "artnet.h"

#include <QString>

// Attaches the observer and opens the node's socket, sharing port 6454 as the window does so
// that both run side by side. False after a one-line complaint naming the command.
bool listenBesideOthers(artnet& node, ArtNetObserver* observer, const QString& command);
