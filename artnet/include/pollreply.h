// The decisions behind answering ArtPoll, kept apart from the socket so they can be checked alone.
#pragma once

#include "artnet.h"

#include <QHostAddress>
#include <QList>
#include <QString>

namespace ArtNetPoll {

// Index of the first entry whose network holds the poller, or -1 when none does.
int answeringEntry(const QList<InterfaceEntry>& entries, const QHostAddress& poller);

// Ports the node reports: enough for the larger of the DMX and the pixel buffer, and one port
// for the own universe when DMX input is on without a buffer; never more than the
// kPortAddressCount universes Art-Net has.
quint32 portCount(quint32 dmxBufferSize, quint16 dmxChannelsPerUniverse, quint32 pixelCount,
                  quint16 pixelChannelsPerPort, bool dmxInputReady);

// Hexadecimal pairs of a hardware-address text, colons ignored; missing pairs stay zero.
void parseMac(QString text, quint8 mac[6]);

// Names come from the network, a byte each, and are shown on terminals and in the window: no
// control character among them (C0, DEL, or C1, which a terminal may read as the start of a
// command) may reach either as it is.
bool isControlCharacter(QChar c);
// The text with every control character shown as \xHH, as the node list and the window show a
// node's names.
QString printableName(const QString& text);

} // namespace ArtNetPoll
