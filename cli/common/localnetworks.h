// Where a command sends when it is given no address: the local IPv4 networks.
#pragma once

#include <QHostAddress>
#include <QList>

// The broadcast addresses of the local IPv4 networks the node would send to, without the
// loopback network it falls back on when there is no other.
QList<QHostAddress> localBroadcastAddresses();
