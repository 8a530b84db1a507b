// Controllers for the window-cost measurement: every sender sends ArtTimeCode at a steady frame
// rate to 127.0.0.1:6454, as a desk playing a show does, with the time running on.
//
//   bench_senders SENDERS FPS SECONDS
//
// Sender n sends from 127.0.0.(n + 2); nothing is sent anywhere but loopback.
#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMaxSenders = 200;

void addNanoseconds(timespec& time, long nanoseconds)
{
    time.tv_nsec += nanoseconds;
    while (time.tv_nsec >= 1000000000L) {
        time.tv_nsec -= 1000000000L;
        ++time.tv_sec;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s SENDERS FPS SECONDS\n", argv[0]);
        return 2;
    }
    const int senders = std::atoi(argv[1]);
    const int fps = std::atoi(argv[2]);
    const int seconds = std::atoi(argv[3]);
    if (senders < 1 || senders > kMaxSenders || fps < 1 || fps > 1000 || seconds < 1) {
        std::fprintf(stderr, "bench_senders: 1-%d senders, 1-1000 fps, at least 1 s\n",
                     kMaxSenders);
        return 2;
    }

    std::vector<int> sockets;
    for (int n = 0; n < senders; ++n) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7F000002u + uint32_t(n));
        if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
            std::perror("bench_senders: bind");
            return 1;
        }
        sockets.push_back(fd);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(6454);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    // ArtTimeCode: ID, OpCode 0x9700 LE, ProtVer 14, Filler, StreamId, then the time.
    unsigned char packet[19] = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x97, 0, 14, 0, 0};
    const unsigned char type = fps == 24 ? 0 : fps == 25 ? 1 : 3; // 30 fps otherwise
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    const long period = 1000000000L / fps;
    for (long frame = 0; frame < long(fps) * seconds; ++frame) {
        for (int n = 0; n < senders; ++n) {
            const long shown = frame + n * 1000L; // every desk somewhere else in its show
            packet[14] = (unsigned char)(shown % fps);
            packet[15] = (unsigned char)(shown / fps % 60);
            packet[16] = (unsigned char)(shown / fps / 60 % 60);
            packet[17] = (unsigned char)(shown / fps / 3600 % 24);
            packet[18] = type;
            sendto(sockets[size_t(n)], packet, sizeof packet, 0,
                   reinterpret_cast<const sockaddr*>(&to), sizeof to);
        }
        addNanoseconds(due, period);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
    }
    for (int fd : sockets)
        close(fd);
    return 0;
}
