// Where a sending command sends: the addresses it is given, the local IPv4 networks' broadcast
// addresses only when asked for them.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

// Where a sending command sends: the addresses it was given, a null one (--to broadcast) standing
// for every local network's broadcast address. Empty, after one line on stderr under the
// command's name, with the exit status in *status: kUsage when it was given none (timecode
// broadcast unasked can start a show on any desk that chases it; the line lists the broadcast
// addresses there are), kFailure when it asked for broadcast and there is no local network.
QList<QHostAddress> sendingDestinations(const QString& command, const QList<QHostAddress>& given,
                                        int* status);
