// The node's cost per ArtTimeCode with one known sender and with as many as it keeps.
#pragma once

#include "node.h"

namespace BenchReceive {

// CPU time of the node per ArtTimeCode, when every one comes from one of senders addresses that
// the node already knows, queued kQueuedBurst at a time.
inline double knownSenderCost(int senders)
{
    Node node;
    std::vector<int> sockets;
    for (int i = 0; i < senders; ++i) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in address = ipv4(kFirstKnownSender + quint32(i), 0);
        if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            std::perror("binding a timecode sender");
            std::exit(1);
        }
        sockets.push_back(fd);
    }
    const sockaddr_in to = ipv4(0x7F000001, kNodePort);
    quint32 number = 0;
    const auto send = [&](int i) {
        const QByteArray packet = artTimeCode(++number, 1);
        sendto(sockets[size_t(i % senders)], packet.constData(), size_t(packet.size()), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    };
    // Every sender heard once: from here on each is known.
    for (int i = 0; i < senders; ++i) {
        send(i);
        if (i % kQueuedBurst == kQueuedBurst - 1)
            node.drainWhatIsQueued();
    }
    node.drainWhatIsQueued();

    double cpu = 0;
    for (int b = 0; b < kKnownSenderBursts; ++b) {
        for (int k = 0; k < kQueuedBurst; ++k)
            send(k);
        const double start = threadCpuSeconds();
        node.drainWhatIsQueued();
        cpu += threadCpuSeconds() - start;
    }
    for (int fd : sockets)
        close(fd);
    return cpu / (double(kKnownSenderBursts) * kQueuedBurst);
}

} // namespace BenchReceive
