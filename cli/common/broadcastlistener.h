// Listening on UDP port 6454 beside a program that holds it, without the capability to capture:
// on the broadcast addresses of this machine's networks only.
#pragma once

#include "artnet.h"

#include <QHostAddress>
#include <QList>

#include <memory>
#include <vector>

// A socket bound to a network's broadcast address receives only what is sent to that address,
// so the program bound to every address keeps all the unicast sent to this machine, whichever
// bound last. Timecode sent to this machine's own address is then not seen here. What the node
// sends leaves from a UDP port of this transport's own, which also hears whatever is sent back
// to that port.
class BroadcastListener : public ArtNetTransport
{
public:
    explicit BroadcastListener(const QList<QHostAddress>& broadcastAddresses);
    ~BroadcastListener() override;
    BroadcastListener(const BroadcastListener&) = delete;
    BroadcastListener& operator=(const BroadcastListener&) = delete;

    // Binds every broadcast address that can be bound, sharing port 6454, and the port of its
    // own. False when that port could not be had, or when there were broadcast addresses and
    // none of them could be bound (the port is held without sharing).
    bool open(bool share, std::function<void()> ready) override;
    void close() override;
    void drain(const Receive& receive) override;
    qint64 send(const char* data, int size, const QHostAddress& to, quint16 port) override;
    quint64 kernelDrops() const override;

    // How many broadcast addresses are bound.
    int listening() const { return bound; }

private:
    std::vector<std::unique_ptr<ArtNetTransport>> broadcasts;
    std::unique_ptr<ArtNetTransport> own; // sends, and hears what comes back to its port
    std::vector<ArtNetTransport*> opened; // what open() bound, the port of its own first
    int bound = 0;
    // Counts the closes: a drain sees whether a receive closed this transport.
    quint64 closes = 0;
};
