// Choosing the local IPv4 networks the node works on, from an enumeration of adapters.
#pragma once

#include "artnet.h"

#include <QList>
#include <QNetworkAddressEntry>
#include <QString>

namespace InterfaceDiscovery {

// One adapter as the system reports it.
struct Adapter
{
    QString hardwareAddress;
    QList<QNetworkAddressEntry> addresses;
};

// One write to standard output: a line (ended and flushed), or text that carries its own line
// break and is left in the buffer.
struct Write
{
    QString text;
    bool isLine = true;
};

struct Result
{
    QList<InterfaceEntry> entries; // never empty: loopback stands in when nothing else is usable
    QList<Write> writes;
};

// Decides address by address which networks are usable, in the order given.
Result discover(const QList<Adapter>& adapters);

// The adapters of this machine, as Qt enumerates them.
QList<Adapter> systemAdapters();

} // namespace InterfaceDiscovery
