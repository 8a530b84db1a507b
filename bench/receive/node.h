// The node as the loads run it: its own socket, driven by the application's event loop.
#pragma once

#include "traffic.h"

#include <QCoreApplication>
#include <QHostAddress>

namespace BenchReceive {

// A node of its own for every load, so the list of senders starts empty.
struct Node
{
    artnet node;
    int fd = -1;
    Node()
    {
        if (!node.openSocket()) {
            std::fprintf(stderr, "cannot bind port %u\n", unsigned(kNodePort));
            std::exit(1);
        }
        fd = boundSocket(kNodePort);
        if (fd < 0) {
            std::fprintf(stderr, "the node's socket is not among this process's descriptors\n");
            std::exit(1);
        }
    }
    void drainWhatIsQueued()
    {
        // A node that stops reading would leave this waiting forever; say so instead.
        for (int wakeups = 0; wakeups < 100000; ++wakeups) {
            QCoreApplication::processEvents();
            if (pendingBytes(fd) == 0)
                return;
        }
        std::fprintf(stderr, "the node left datagrams unread\n");
        std::exit(1);
    }
    // ArtTimeCode from the desks: the last number of every desk must be the one stored.
    long long desksBehind(const Senders& senders)
    {
        long long behind = 0;
        for (int desk = 0; desk < kDesks; ++desk) {
            bool found = false;
            TimecodeRecord record;
            QHostAddress sender;
            for (int index = 0; node.getTimecode(&record, &sender, index); ++index) {
                if (sender == QHostAddress(kFirstDesk + quint32(desk))) {
                    found = true;
                    behind += senders.lastNumber[desk] - timecodeNumber(record);
                }
            }
            if (!found)
                behind += senders.lastNumber[desk];
        }
        return behind;
    }
    // ArtTimeCode from the counted senders: each must be stored once, with its own number.
    long long countedStored()
    {
        long long stored = 0;
        TimecodeRecord record;
        QHostAddress sender;
        for (int index = 0; node.getTimecode(&record, &sender, index); ++index) {
            const quint32 address = sender.toIPv4Address();
            if (address < kFirstCountedSender)
                continue;
            const quint32 k = ((address - kFirstCountedSender) / 256) * 253 +
                              (address - kFirstCountedSender) % 256;
            if (Senders::countedSender(k) == address && timecodeNumber(record) == k)
                ++stored;
        }
        return stored;
    }
};

} // namespace BenchReceive
