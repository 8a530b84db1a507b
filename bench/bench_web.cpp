// chronolume-cli web under a crowd: `--senders N` controllers at 30 fps (8 by default) and
// `--pages N` pages (200 by default) on loopback.
//
// The real program serves on 127.0.0.1; the pages, WebSocket clients of this program's own, each
// a plain socket that reads the server's messages and answers its pings, read it on two threads,
// and the controllers on 127.0.0.2 onwards send ArtTimeCode from a third on absolute deadlines.
// Beside the server, all along, runs a bare writer of this program's own: one thread that takes
// each datagram and writes the messages the server would write, gathered by the same rule (one
// message per page and display frame at most, a frame that finds the last message a display
// frame or more ago leaving at once), to as many pages of the same kind, with one write() per
// page and message and no library: the floor under the server's CPU and delay here. Steady
// rounds alternate between the server and the bare writer (each fed by the controllers in turn,
// the bare writer on a port of its own), so that both meet the same machine. For every frame a
// round reports whether every page received it, and the delay from the datagram's send (an
// upper bound of its arrival) to the moment the last page had it, p50 and p99, on the one
// monotonic clock both processes share; the writer's CPU time as a share of one core; and the
// messages each page received a second. Then a run with one more page that stops reading for
// 10 s, the others' delivery and p99 beside it and whether the server dropped it, and the
// server's resident memory with 500 pages. Last, a summary: medians and ranges over the rounds,
// the load average at the start and at the end.
//
// Like the other benchmarks it runs only in a network namespace of its own, on loopback.
#include "isolation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <string_view>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFps = 30;
constexpr int kCrowd = 500;
constexpr int kThreads = 2;
constexpr int kStallSeconds = 10;
constexpr int kWarmUpSeconds = 2;
constexpr quint16 kPort = 18080;
constexpr quint16 kBarePort = 18081;
constexpr quint16 kBareDatagramPort = 16454; // where the bare writer takes its datagrams
// 1/60 s, the server's display frame.
constexpr qint64 kDisplayFrameNs = 16'666'667;
// What gathers for the server's pages leaves before its display frame is over at this size.
constexpr size_t kGatheredBytes = 4096;

// Set once by the options, read by every thread after.
int gSenders = 8;
int gMaxFrames = 0; // frame numbers used in the whole run, per sender

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The bare writer, its pages and the controllers that feed it have a network namespace of their
// own: the server's packet capture, which sees every packet on its loopback (its own writes to
// its pages too), is the server's cost and not the floor's. A namespace is per thread; a socket
// stays in the one it was made in.
class NetworkNamespace
{
public:
    // A new namespace with its loopback up; false when none could be made.
    bool create()
    {
        const int home = ::open("/proc/thread-self/ns/net", O_RDONLY);
        if (home < 0 || ::unshare(CLONE_NEWNET) != 0)
            return false;
        const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
        ifreq request{};
        std::snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
        const bool up = ::ioctl(probe, SIOCGIFFLAGS, &request) == 0 &&
                        (request.ifr_flags |= IFF_UP, ::ioctl(probe, SIOCSIFFLAGS, &request)) == 0;
        ::close(probe);
        fd = ::open("/proc/thread-self/ns/net", O_RDONLY);
        ::setns(home, CLONE_NEWNET);
        ::close(home);
        return up && fd >= 0;
    }
    // Runs work with this thread in the namespace (none: where it is).
    template <typename Work> void within(Work work) const
    {
        if (fd < 0) {
            work();
            return;
        }
        const int home = ::open("/proc/thread-self/ns/net", O_RDONLY);
        ::setns(fd, CLONE_NEWNET);
        work();
        ::setns(home, CLONE_NEWNET);
        ::close(home);
    }
    // This thread in it for good.
    void enter() const
    {
        if (fd >= 0)
            ::setns(fd, CLONE_NEWNET);
    }

private:
    int fd = -1;
};

const NetworkNamespace kHere; // the server's
NetworkNamespace gBareNamespace;

// What the clients of one thread received: per sender and frame number, how many clients had it
// and when the last of them did; and the messages and bytes they received.
struct Received
{
    std::vector<int> count = std::vector<int>(size_t(gSenders) * size_t(gMaxFrames));
    std::vector<qint64> lastNs = std::vector<qint64>(size_t(gSenders) * size_t(gMaxFrames));
    // Counted also while the server tells its pages of silence between its rounds.
    std::atomic<qint64> messages{0};
    std::atomic<qint64> bytes{0};
};

int digits(std::string_view text, size_t at)
{
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

// One state, "{\"address\":\"127.0.0.N\",...\"tc\":\"10:MM:SS:FF\"}", to sender N - 2 and its
// frame.
bool parse(std::string_view state, int* sender, int* frame)
{
    if (state.find("\"silent\":true") != std::string_view::npos)
        return false;
    const std::string_view prefix = "\"address\":\"127.0.0.";
    const size_t address = state.find(prefix);
    const size_t tc = state.find("\"tc\":\"");
    if (address == std::string_view::npos || tc == std::string_view::npos || tc + 17 > state.size())
        return false;
    int host = 0;
    for (size_t at = address + prefix.size(); at < state.size() && state[at] != '"'; ++at)
        host = host * 10 + (state[at] - '0');
    *sender = host - 2;
    if (*sender < 0 || *sender >= gSenders)
        return false;
    *frame = (digits(state, tc + 9) * 60 + digits(state, tc + 12)) * kFps + digits(state, tc + 15);
    return *frame < gMaxFrames;
}

// Many pages on one thread, as cheap as a page can be: each a plain socket that reads the
// server's frames with epoll and answers its pings, so that on a small machine the clients
// cost less than the server they measure. (A browser does this in its network stack; a QWebSocket
// each would cost this program more than the server.)
class ClientThread
{
public:
    ClientThread(int clients, quint16 port, const NetworkNamespace& place)
        : clients(clients), port(port), place(place)
    {
    }
    ~ClientThread() { stop(); }
    std::atomic<int> connected{0};
    Received received; // read between runs, while no frame is sent

    void start()
    {
        thread = std::thread([this] { run(); });
    }
    void stop()
    {
        ending = true;
        if (thread.joinable())
            thread.join();
    }

private:
    struct Page
    {
        int fd = -1;
        std::string buffer;
    };

    void run()
    {
        place.enter();
        const int poller = epoll_create1(0);
        std::vector<Page> pages(static_cast<size_t>(clients));
        for (int i = 0; i < clients; ++i) {
            Page& page = pages[size_t(i)];
            page.fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(port);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(page.fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
                continue;
            const char request[] = "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                                   "Connection: Upgrade\r\n"
                                   "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                   "Sec-WebSocket-Version: 13\r\n\r\n";
            if (::write(page.fd, request, sizeof request - 1) != qint64(sizeof request - 1))
                continue;
            // The answer's head, byte by byte so that no frame after it is taken with it.
            std::string head;
            char c = 0;
            while (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0) {
                if (::read(page.fd, &c, 1) != 1)
                    break;
                head += c;
            }
            if (head.rfind("HTTP/1.1 101", 0) != 0)
                continue;
            ::fcntl(page.fd, F_SETFL, O_NONBLOCK);
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u32 = quint32(i);
            epoll_ctl(poller, EPOLL_CTL_ADD, page.fd, &event);
            ++connected;
        }
        epoll_event events[64];
        char chunk[65536];
        while (!ending) {
            const int ready = epoll_wait(poller, events, 64, 50);
            for (int e = 0; e < ready; ++e) {
                Page& page = pages[events[e].data.u32];
                const ssize_t got = ::read(page.fd, chunk, sizeof chunk);
                if (got <= 0) {
                    epoll_ctl(poller, EPOLL_CTL_DEL, page.fd, nullptr);
                    continue;
                }
                const qint64 at = nowNs();
                page.buffer.append(chunk, size_t(got));
                frames(page, at);
            }
        }
        for (Page& page : pages)
            ::close(page.fd);
        ::close(poller);
    }

    // The server's frames are unmasked; text ones are counted, pings answered.
    void frames(Page& page, qint64 at)
    {
        size_t offset = 0;
        const std::string& b = page.buffer;
        while (b.size() - offset >= 2) {
            const int opcode = b[offset] & 0x0f;
            size_t length = quint8(b[offset + 1]) & 0x7f;
            size_t header = 2;
            if (length == 126) {
                if (b.size() - offset < 4)
                    break;
                length = size_t(quint8(b[offset + 2])) << 8 | quint8(b[offset + 3]);
                header = 4;
            }
            if (b.size() - offset < header + length)
                break;
            const std::string_view payload(b.data() + offset + header, length);
            if (opcode == 1) {
                ++received.messages;
                received.bytes += qint64(header + length);
                // An array of states: objects without objects inside.
                for (size_t open = payload.find('{'); open != std::string_view::npos;) {
                    const size_t close = payload.find('}', open);
                    if (close == std::string_view::npos)
                        break;
                    int sender = 0;
                    int frame = 0;
                    if (parse(payload.substr(open, close - open + 1), &sender, &frame)) {
                        const size_t index = size_t(sender) * size_t(gMaxFrames) + size_t(frame);
                        ++received.count[index];
                        received.lastNs[index] = std::max(received.lastNs[index], at);
                    }
                    open = payload.find('{', close);
                }
            } else if (opcode == 9 && length < 126) {
                // A client's frames are masked; a zero mask leaves the payload as it is.
                std::string pong{char(0x8a), char(0x80 | length), 0, 0, 0, 0};
                pong.append(payload);
                (void)::write(page.fd, pong.data(), pong.size());
            }
            offset += header + length;
        }
        page.buffer.erase(0, offset);
    }

    const int clients;
    const quint16 port;
    const NetworkNamespace& place;
    std::atomic<bool> ending{false};
    std::thread thread;
};

// The controllers, each sending frames [first, first + count) at 30 fps on absolute deadlines to
// the port; returns each datagram's send time.
std::vector<qint64> sendFrames(int first, int count, quint16 port, const NetworkNamespace& place)
{
    std::vector<qint64> sentNs(size_t(gSenders) * size_t(gMaxFrames));
    std::vector<int> sockets(static_cast<size_t>(gSenders));
    place.within([&sockets] {
        for (int s = 0; s < gSenders; ++s) {
            sockets[size_t(s)] = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in from{};
            from.sin_family = AF_INET;
            from.sin_addr.s_addr = htonl(0x7f000002 + quint32(s));
            ::bind(sockets[size_t(s)], reinterpret_cast<sockaddr*>(&from), sizeof from);
        }
    });
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (int frame = first; frame < first + count; ++frame) {
        for (int s = 0; s < gSenders; ++s) {
            // The senders spread over the frame period, as independent controllers would be.
            timespec at = next;
            at.tv_nsec += long(s) * (1'000'000'000 / kFps / gSenders);
            if (at.tv_nsec >= 1'000'000'000) {
                at.tv_nsec -= 1'000'000'000;
                ++at.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
            // ID, OpCode 0x9700, ProtVer 14, Filler1, StreamId, Frames, Seconds, Minutes, Hours
            // 10, Type 3 (30 fps)
            const unsigned char packet[19] = {'A',
                                              'r',
                                              't',
                                              '-',
                                              'N',
                                              'e',
                                              't',
                                              0,
                                              0x00,
                                              0x97,
                                              0,
                                              14,
                                              0,
                                              0,
                                              quint8(frame % kFps),
                                              quint8(frame / kFps % 60),
                                              quint8(frame / kFps / 60 % 60),
                                              10,
                                              3};
            sentNs[size_t(s) * size_t(gMaxFrames) + size_t(frame)] = nowNs();
            ::sendto(sockets[size_t(s)], packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to);
        }
        next.tv_nsec += 1'000'000'000 / kFps;
        if (next.tv_nsec >= 1'000'000'000) {
            next.tv_nsec -= 1'000'000'000;
            ++next.tv_sec;
        }
    }
    for (int fd : sockets)
        ::close(fd);
    return sentNs;
}

// A process's or thread's user time (or with system true its system time) so far, in ns, from
// its /proc stat file.
qint64 cpuNs(const QString& stat, bool system)
{
    QFile file(stat);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = file.readAll().split(')').last().split(' ');
    // After the command: state is field 1 here, utime 12 and stime 13.
    const qint64 ticks = fields.value(system ? 13 : 12).toLongLong();
    return ticks * 1'000'000'000 / sysconf(_SC_CLK_TCK);
}

// The floor under the server's CPU: the same messages without Qt, HTTP or WebSocket library. One
// thread takes each datagram from its port and gathers the state the server would send for it,
// by the server's rule: a datagram that finds the last message a display frame or more ago (or
// what gathered at the server's limit) leaves at once, others wait for the display frame to be
// over. Each message, framed as the server frames it, is written to each page with one write();
// its pages are the same plain clients. On loopback a write's cost includes the receiving page's
// TCP work and wake-up, which is most of it.
class BareWriter
{
public:
    explicit BareWriter(int pages) : pages(pages) {}
    ~BareWriter() { stop(); }
    std::atomic<int> ready{0};
    std::atomic<pid_t> tid{0};

    bool start()
    {
        bool listening = false;
        gBareNamespace.within([this, &listening] { listening = listen(); });
        if (listening)
            thread = std::thread([this] { run(); });
        return listening;
    }
    void stop()
    {
        ending = true;
        if (thread.joinable())
            thread.join();
        for (int fd : {listener, datagrams})
            if (fd >= 0)
                ::close(fd);
        listener = datagrams = -1;
    }

private:
    bool listen()
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(kBarePort);
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
            ::listen(listener, 1024) != 0)
            return false;
        datagrams = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        at.sin_port = htons(kBareDatagramPort);
        return ::bind(datagrams, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    }

    void run()
    {
        tid = pid_t(::syscall(SYS_gettid));
        while (int(fds.size()) < pages && !ending) {
            pollfd incoming{listener, POLLIN, 0};
            if (::poll(&incoming, 1, 50) <= 0)
                continue;
            const int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0)
                break;
            // As the server sets its pages' sockets.
            const int size = 16 * 1024;
            const int on = 1;
            setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            std::string request;
            char c = 0;
            while (request.size() < 4 || request.compare(request.size() - 4, 4, "\r\n\r\n") != 0)
                if (::read(fd, &c, 1) != 1)
                    break;
                else
                    request += c;
            const char answer[] = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                                  "Connection: Upgrade\r\n\r\n";
            (void)::write(fd, answer, sizeof answer - 1);
            fds.push_back(fd);
            ++ready;
        }
        unsigned char d[64];
        while (!ending) {
            qint64 waitNs = 50'000'000;
            if (!gathered.empty())
                waitNs = std::max<qint64>(0, lastSentNs + kDisplayFrameNs - nowNs());
            const timespec wait{time_t(waitNs / 1'000'000'000), long(waitNs % 1'000'000'000)};
            pollfd waiting{datagrams, POLLIN, 0};
            ::ppoll(&waiting, 1, &wait, nullptr);
            sockaddr_in from{};
            socklen_t fromSize = sizeof from;
            ssize_t got = 0;
            while ((got = ::recvfrom(datagrams, d, sizeof d, 0, reinterpret_cast<sockaddr*>(&from),
                                     &fromSize)) >= 0) {
                if (got < 19)
                    continue;
                const int host = int(ntohl(from.sin_addr.s_addr) & 0xff);
                char state[192];
                const int length = std::snprintf(
                    state, sizeof state,
                    "{\"address\":\"127.0.0.%d\",\"conflict\":false,\"n\":%d,\"name\":\"\","
                    "\"rate\":\"30 FPS\",\"silent\":false,\"stream\":0,\"tc\":\"%02d:%02d:%02d:"
                    "%02d\"}",
                    host, host - 2, d[17], d[16], d[15], d[14]);
                if (!gathered.empty())
                    gathered += ',';
                gathered.append(state, size_t(length));
                const qint64 now = nowNs();
                if (lastSentNs < 0 || now - lastSentNs >= kDisplayFrameNs ||
                    gathered.size() >= kGatheredBytes)
                    send(now);
            }
            if (!gathered.empty()) {
                const qint64 now = nowNs();
                if (now - lastSentNs >= kDisplayFrameNs)
                    send(now);
            }
        }
        for (int fd : fds)
            ::close(fd);
    }

    // What gathered, as one text frame to every page.
    void send(qint64 now)
    {
        const size_t length = gathered.size() + 2;
        message.clear();
        message += char(0x81);
        if (length < 126) {
            message += char(length);
        } else {
            message += char(126);
            message += char(length >> 8);
            message += char(length & 0xff);
        }
        message += '[';
        message += gathered;
        message += ']';
        for (int fd : fds)
            (void)::write(fd, message.data(), message.size());
        gathered.clear();
        lastSentNs = now;
    }

    const int pages;
    int listener = -1;
    int datagrams = -1;
    std::vector<int> fds;
    std::string gathered; // the states waiting, joined by commas
    std::string message;
    qint64 lastSentNs = -1;
    std::atomic<bool> ending{false};
    std::thread thread;
};

qint64 statusKb(qint64 pid, const char* field)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    return 0;
}

// The machine's load average over the last minute, 5 and 15 minutes, as the kernel writes it.
QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return "?";
    const QList<QByteArray> fields = file.readAll().split(' ');
    return fields.mid(0, 3).join(' ');
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5))];
}

struct RunResult
{
    qint64 expected = 0;
    qint64 delivered = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    double cpuShare = 0;
    double systemShare = 0;     // of cpuShare, the kernel's part
    double messagesPerPage = 0; // a second
    double bytesPerPage = 0;    // a second
    QByteArray load;            // the load average at the start
};

// One run of count frames per sender from first on, sent to the port and read by the threads'
// clients, with the CPU time of the writer's stat file.
RunResult run(std::vector<std::unique_ptr<ClientThread>>& threads, const QString& writer,
              quint16 port, const NetworkNamespace& place, int first, int count, int clients)
{
    for (auto& thread : threads) {
        std::fill(thread->received.count.begin(), thread->received.count.end(), 0);
        std::fill(thread->received.lastNs.begin(), thread->received.lastNs.end(), 0);
        thread->received.messages = 0;
        thread->received.bytes = 0;
    }
    RunResult result;
    result.load = loadAverage();
    const qint64 userBefore = cpuNs(writer, false);
    const qint64 systemBefore = cpuNs(writer, true);
    const qint64 wallBefore = nowNs();
    const std::vector<qint64> sentNs = sendFrames(first, count, port, place);
    const qint64 user = cpuNs(writer, false) - userBefore;
    const qint64 system = cpuNs(writer, true) - systemBefore;
    const qint64 wallAfter = nowNs();
    QThread::msleep(500); // the last frames reach the clients
    const double seconds = double(wallAfter - wallBefore) / 1e9;
    result.cpuShare = double(user + system) / double(wallAfter - wallBefore);
    result.systemShare = double(system) / double(wallAfter - wallBefore);
    qint64 messages = 0;
    qint64 bytes = 0;
    for (auto& thread : threads) {
        messages += thread->received.messages;
        bytes += thread->received.bytes;
    }
    result.messagesPerPage = double(messages) / clients / seconds;
    result.bytesPerPage = double(bytes) / clients / seconds;
    std::vector<double> delays;
    for (int s = 0; s < gSenders; ++s) {
        for (int frame = first; frame < first + count; ++frame) {
            const size_t index = size_t(s) * size_t(gMaxFrames) + size_t(frame);
            int got = 0;
            qint64 last = 0;
            for (auto& thread : threads) {
                got += thread->received.count[index];
                last = std::max(last, thread->received.lastNs[index]);
            }
            result.expected += clients;
            result.delivered += got;
            if (got == clients)
                delays.push_back(double(last - sentNs[index]) / 1e6);
        }
    }
    result.p50Ms = percentile(delays, 0.50);
    result.p99Ms = percentile(delays, 0.99);
    return result;
}

void print(const char* name, const RunResult& r)
{
    std::printf("%-26s delivered %lld of %lld (%.4f)  delay p50 %.2f ms  p99 %.2f ms  CPU %.1f %% "
                "of a core (kernel %.1f %%)  %.1f messages (%.0f bytes) a page a second  load "
                "%s\n",
                name, r.delivered, r.expected, double(r.delivered) / double(r.expected), r.p50Ms,
                r.p99Ms, 100 * r.cpuShare, 100 * r.systemShare, r.messagesPerPage, r.bytesPerPage,
                r.load.constData());
    std::fflush(stdout);
}

// "median (lowest–highest)" of the values, each times scale, with the given decimals.
std::string spread(std::vector<double> values, double scale, int decimals)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    char text[96];
    std::snprintf(text, sizeof text, "%.*f (%.*f–%.*f)", decimals, median * scale, decimals,
                  values.front() * scale, decimals, values.back() * scale);
    return text;
}

template <typename F> std::vector<double> each(const std::vector<RunResult>& results, F field)
{
    std::vector<double> values;
    for (const RunResult& r : results)
        values.push_back(field(r));
    return values;
}

// Pages for the port on kThreads threads; returns how many connected within 20 s.
int connectClients(std::vector<std::unique_ptr<ClientThread>>& threads, int total, quint16 port,
                   const NetworkNamespace& place)
{
    for (int t = 0; t < kThreads; ++t) {
        threads.push_back(
            std::make_unique<ClientThread>(total / kThreads + (t < total % kThreads), port, place));
        threads.back()->start();
    }
    QElapsedTimer waited;
    waited.start();
    int connected = 0;
    while (waited.elapsed() < 20000) {
        connected = 0;
        for (auto& thread : threads)
            connected += thread->connected;
        if (connected == total)
            break;
        QThread::msleep(50);
    }
    return connected;
}

} // namespace

int main(int argc, char* argv[])
{
    if (!ensureIsolated(argc, argv))
        return 1;
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("chronolume-cli web under a crowd, beside a bare writer of the same "
                       "messages."));
    parser.addHelpOption();
    const QCommandLineOption pagesOption(QStringLiteral("pages"),
                                         QStringLiteral("Pages reading (200)."),
                                         QStringLiteral("N"), QStringLiteral("200"));
    const QCommandLineOption sendersOption(QStringLiteral("senders"),
                                           QStringLiteral("Controllers at 30 fps (8)."),
                                           QStringLiteral("N"), QStringLiteral("8"));
    const QCommandLineOption roundsOption(
        QStringLiteral("rounds"),
        QStringLiteral("Steady rounds of the server and of the bare "
                       "writer each (3)."),
        QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Seconds per steady round (20)."),
                                           QStringLiteral("S"), QStringLiteral("20"));
    const QCommandLineOption quickOption(QStringLiteral("quick"),
                                         QStringLiteral("One round of 6 s, for trying."));
    parser.addOptions({pagesOption, sendersOption, roundsOption, secondsOption, quickOption});
    parser.process(application);
    auto number = [&parser](const QCommandLineOption& option, int lowest, int highest, int* value) {
        bool ok = false;
        *value = parser.value(option).toInt(&ok);
        if (ok && *value >= lowest && *value <= highest)
            return true;
        std::fprintf(stderr, "bench_web: --%s needs a number from %d to %d, not \"%s\"\n",
                     qPrintable(option.names().first()), lowest, highest,
                     qPrintable(parser.value(option)));
        return false;
    };
    int pages = 0;
    int rounds = 0;
    int roundSeconds = 0;
    if (!number(pagesOption, 1, 5000, &pages) || !number(sendersOption, 1, 200, &gSenders) ||
        !number(roundsOption, 1, 20, &rounds) || !number(secondsOption, 1, 120, &roundSeconds))
        return 2;
    if (parser.isSet(quickOption)) {
        rounds = 1;
        roundSeconds = 6;
    }
    const int crowdMore = std::max(0, kCrowd - pages);
    // Every run's frames have numbers of their own, a second apart: a late one is never taken
    // for the next run's.
    const int roundFrames = roundSeconds * kFps;
    const int runs = 2 + 2 * rounds + 2;
    gMaxFrames = (2 * kWarmUpSeconds + 2 * rounds * roundSeconds + kStallSeconds + 5 + runs) * kFps;
    if (gMaxFrames > 60 * 60 * kFps) {
        std::fprintf(stderr, "bench_web: --rounds times --seconds takes more than the hour of "
                             "frame numbers a run has\n");
        return 2;
    }
    int nextFrame = 0;
    auto frames = [&nextFrame](int count) {
        const int first = nextFrame;
        nextFrame += count + kFps;
        return first;
    };
    // Every page is a descriptor here and in the server, which inherits the limit.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    const QByteArray loadAtStart = loadAverage();
    std::printf("bench_web --pages %d --senders %d --rounds %d --seconds %d: load average %s\n",
                pages, gSenders, rounds, roundSeconds, loadAtStart.constData());

    QProcess server;
    server.setProgram(QStringLiteral(CHRONOLUME_CLI));
    server.setArguments({QStringLiteral("web"), QStringLiteral("--port"), QString::number(kPort),
                         QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                         QStringLiteral("--max-clients"), QString::number(pages + kCrowd + 1)});
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start();
    if (!server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "chronolume-cli web did not start\n");
        return 1;
    }
    const qint64 pid = server.processId();
    const QString serverStat = QStringLiteral("/proc/%1/stat").arg(pid);
    std::vector<std::unique_ptr<ClientThread>> threads;
    const int connected = connectClients(threads, pages, kPort, kHere);

    BareWriter bare(pages);
    if (!gBareNamespace.create()) {
        std::printf("no network namespace for the bare writer could be made\n");
        return 1;
    }
    if (!bare.start()) {
        std::printf("the bare writer could not listen\n");
        return 1;
    }
    std::vector<std::unique_ptr<ClientThread>> barePages;
    const int bareConnected = connectClients(barePages, pages, kBarePort, gBareNamespace);
    QElapsedTimer accepted;
    accepted.start();
    while (bare.ready < bareConnected && accepted.elapsed() < 10000)
        QThread::msleep(10);
    const QString bareStat = QStringLiteral("/proc/self/task/%1/stat").arg(bare.tid.load());
    std::printf("%d senders at %d fps; %d of %d pages connected to the server, %d to the bare "
                "writer\n",
                gSenders, kFps, connected, pages, bareConnected);

    // Code paged out since the start, and both writers' first messages, before anything counts.
    run(threads, serverStat, 6454, kHere, frames(kWarmUpSeconds * kFps), kWarmUpSeconds * kFps,
        connected);
    run(barePages, bareStat, kBareDatagramPort, gBareNamespace, frames(kWarmUpSeconds * kFps),
        kWarmUpSeconds * kFps, bareConnected);
    std::vector<RunResult> served;
    std::vector<RunResult> floors;
    for (int round = 1; round <= rounds; ++round) {
        served.push_back(
            run(threads, serverStat, 6454, kHere, frames(roundFrames), roundFrames, connected));
        print(qPrintable(QStringLiteral("round %1, server:").arg(round)), served.back());
        floors.push_back(run(barePages, bareStat, kBareDatagramPort, gBareNamespace,
                             frames(roundFrames), roundFrames, bareConnected));
        print(qPrintable(QStringLiteral("round %1, bare writer:").arg(round)), floors.back());
    }
    for (auto& thread : barePages)
        thread->stop();
    bare.stop();

    // One more client that reads nothing. Its receive buffer is held to 32 KB, so that the server
    // sees it behind after a second or so rather than once a default window of 128 KB is full.
    QTcpSocket stalled;
    stalled.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 32 * 1024);
    stalled.setReadBufferSize(1024);
    stalled.connectToHost(QHostAddress::LocalHost, kPort);
    if (!stalled.waitForConnected(5000))
        std::printf("the client that stops reading could not connect: %s\n",
                    qPrintable(stalled.errorString()));
    stalled.write("GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                  "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                  "Sec-WebSocket-Version: 13\r\n\r\n");
    QElapsedTimer answered;
    answered.start();
    while (stalled.bytesAvailable() == 0 && stalled.state() == QAbstractSocket::ConnectedState &&
           answered.elapsed() < 10000)
        stalled.waitForReadyRead(100);
    const bool upgraded = stalled.peek(12).startsWith("HTTP/1.1 101");
    if (!upgraded)
        std::printf("the client that stops reading was not upgraded: %s (%s)\n",
                    stalled.peek(40).constData(), qPrintable(stalled.errorString()));
    const RunResult withStalled =
        run(threads, serverStat, 6454, kHere, frames(kStallSeconds * kFps), kStallSeconds * kFps,
            connected);
    print("one page not reading 10 s:", withStalled);
    // Read again: a dropped client finds its connection gone.
    stalled.setReadBufferSize(0);
    QElapsedTimer reading;
    reading.start();
    while (stalled.state() == QAbstractSocket::ConnectedState && reading.elapsed() < 3000) {
        stalled.waitForReadyRead(100);
        stalled.readAll();
    }
    std::printf("the page that stopped reading: %s\n",
                !upgraded                                            ? "was not upgraded"
                : stalled.state() == QAbstractSocket::ConnectedState ? "still connected"
                                                                     : "dropped by the server");

    // A crowd of 500: the server's memory.
    if (crowdMore > 0) {
        std::vector<std::unique_ptr<ClientThread>> more;
        const int crowd = connectClients(more, crowdMore, kPort, kHere);
        for (auto& thread : more)
            threads.push_back(std::move(thread));
        const RunResult crowded =
            run(threads, serverStat, 6454, kHere, frames(5 * kFps), 5 * kFps, connected + crowd);
        print(qPrintable(QStringLiteral("%1 pages:").arg(connected + crowd)), crowded);
        std::printf("server resident memory with %d pages: %.1f MB (peak %.1f MB)\n",
                    connected + crowd, double(statusKb(pid, "VmRSS:")) / 1024,
                    double(statusKb(pid, "VmHWM:")) / 1024);
    }
    for (auto& thread : threads)
        thread->stop();
    server.terminate();
    server.waitForFinished(5000);
    std::printf("the server: %s", server.readAllStandardOutput().constData());

    // What the README's table takes, from the rounds above.
    qint64 delivered = 0;
    qint64 expected = 0;
    for (const RunResult& r : served)
        delivered += r.delivered, expected += r.expected;
    std::vector<double> ratios;
    std::vector<double> p99Ratios;
    for (size_t i = 0; i < served.size(); ++i) {
        ratios.push_back(served[i].cpuShare / floors[i].cpuShare);
        p99Ratios.push_back(served[i].p99Ms / floors[i].p99Ms);
    }
    std::printf("\nsummary, %d pages x %d senders at %d fps, %d rounds of %d s, median "
                "(lowest–highest):\n",
                pages, gSenders, kFps, rounds, roundSeconds);
    std::printf(
        "  server: frames delivered %lld of %lld; delay p50 %s ms, p99 %s ms; CPU %s %% "
        "of a core (kernel %s %%); %s messages a page a second\n",
        delivered, expected,
        spread(each(served, [](const RunResult& r) { return r.p50Ms; }), 1, 2).c_str(),
        spread(each(served, [](const RunResult& r) { return r.p99Ms; }), 1, 2).c_str(),
        spread(each(served, [](const RunResult& r) { return r.cpuShare; }), 100, 1).c_str(),
        spread(each(served, [](const RunResult& r) { return r.systemShare; }), 100, 1).c_str(),
        spread(each(served, [](const RunResult& r) { return r.messagesPerPage; }), 1, 1).c_str());
    std::printf(
        "  bare writer: delay p50 %s ms, p99 %s ms; CPU %s %% of a core; %s messages a "
        "page a second\n",
        spread(each(floors, [](const RunResult& r) { return r.p50Ms; }), 1, 2).c_str(),
        spread(each(floors, [](const RunResult& r) { return r.p99Ms; }), 1, 2).c_str(),
        spread(each(floors, [](const RunResult& r) { return r.cpuShare; }), 100, 1).c_str(),
        spread(each(floors, [](const RunResult& r) { return r.messagesPerPage; }), 1, 1).c_str());
    std::printf("  server / bare writer, round by round: CPU %s, p99 delay %s\n",
                spread(ratios, 1, 2).c_str(), spread(p99Ratios, 1, 2).c_str());
    std::printf("  load average at the start %s, at the end %s\n", loadAtStart.constData(),
                loadAverage().constData());
    return 0;
}
