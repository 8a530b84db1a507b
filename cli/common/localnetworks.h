// Where a command sends when it is given no address: the local IPv4 networks.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

// The broadcast addresses of the local IPv4 networks the node would send to, without the
// loopback network it falls back on when there is no other.
QList<QHostAddress> localBroadcastAddresses();

// Where a sending command sends: the addresses it was given, or else the local networks'
// broadcast addresses. Empty, after saying so on stderr under the command's name, when it was
// given none and there is no local network.
QList<QHostAddress> sendingDestinations(const QString& command, const QList<QHostAddress>& given);
