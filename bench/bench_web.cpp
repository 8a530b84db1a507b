// chronolume-cli web under a crowd: 8 senders at 30 fps and 200 pages on loopback.
//
// The real program serves on 127.0.0.1; 200 WebSocket clients of this program's own, each a plain
// socket that reads the server's frames and answers its pings, read it on two threads, and 8
// controllers on 127.0.0.2 to 127.0.0.9 send ArtTimeCode from a third on absolute deadlines. For
// every frame it reports whether every client received it, and the delay from the datagram's send
// (an upper bound of its arrival) to the moment the last client had it, p50 and p99, on the one
// monotonic clock both processes share; the server's CPU time as a share of one core; a second run
// with one more client that stops reading for 10 s, the others' p99 beside it and whether the
// server dropped it; and the server's resident memory with 500 clients. Last, with the server
// gone, the steady run once more against a bare writer of this program's own that writes the same
// messages to 200 pages without any library: the floor under the server's CPU and delay here, and
// the server's figures over it.
//
// Like the other benchmarks it runs only in a network namespace of its own, on loopback.
#include "isolation.h"

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
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSenders = 8;
constexpr int kFps = 30;
constexpr int kClients = 200;
constexpr int kCrowd = 500;
constexpr int kThreads = 2;
constexpr int kRunSeconds = 20;
constexpr int kStallSeconds = 10;
constexpr int kMaxFrames = 100'000; // frame numbers used in one run, per sender
constexpr quint16 kPort = 18080;
constexpr quint16 kBarePort = 18081;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What the clients of one thread received: per sender and frame number, how many clients had it
// and when the last of them did.
struct Received
{
    std::vector<int> count = std::vector<int>(kSenders * kMaxFrames);
    std::vector<qint64> lastNs = std::vector<qint64>(kSenders * kMaxFrames);
};

int digits(std::string_view text, size_t at)
{
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

// "...\"address\":\"127.0.0.N\"...\"tc\":\"10:MM:SS:FF\"..." to sender N - 2 and its frame.
bool parse(std::string_view text, int* sender, int* frame)
{
    if (text.find("\"silent\":true") != std::string_view::npos)
        return false;
    const size_t address = text.find("\"address\":\"127.0.0.");
    const size_t tc = text.find("\"tc\":\"");
    if (address == std::string_view::npos || tc == std::string_view::npos || tc + 17 > text.size())
        return false;
    *sender = text[address + 19] - '0' - 2;
    if (*sender < 0 || *sender >= kSenders)
        return false;
    *frame = (digits(text, tc + 9) * 60 + digits(text, tc + 12)) * kFps + digits(text, tc + 15);
    return *frame < kMaxFrames;
}

// Many pages on one thread, as cheap as a page can be: each a plain socket that reads the
// server's frames with epoll and answers its pings, so that on a small machine the clients
// cost less than the server they measure. (A browser does this in its network stack; a QWebSocket
// each would cost this program more than the server.)
class ClientThread
{
public:
    ClientThread(int clients, quint16 port) : clients(clients), port(port) {}
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
                int sender = 0;
                int frame = 0;
                if (parse(payload, &sender, &frame)) {
                    const int index = sender * kMaxFrames + frame;
                    ++received.count[size_t(index)];
                    received.lastNs[size_t(index)] = std::max(received.lastNs[size_t(index)], at);
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
    std::atomic<bool> ending{false};
    std::thread thread;
};

// Eight controllers, each sending frames [first, first + count) at 30 fps on absolute deadlines;
// returns each datagram's send time.
std::vector<qint64> sendFrames(int first, int count)
{
    std::vector<qint64> sentNs(kSenders * kMaxFrames);
    int sockets[kSenders];
    for (int s = 0; s < kSenders; ++s) {
        sockets[s] = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7f000002 + s);
        ::bind(sockets[s], reinterpret_cast<sockaddr*>(&from), sizeof from);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(6454);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (int frame = first; frame < first + count; ++frame) {
        for (int s = 0; s < kSenders; ++s) {
            // The senders spread over the frame period, as independent controllers would be.
            timespec at = next;
            at.tv_nsec += s * (1'000'000'000 / kFps / kSenders);
            if (at.tv_nsec >= 1'000'000'000) {
                at.tv_nsec -= 1'000'000'000;
                ++at.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
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
            sentNs[s * kMaxFrames + frame] = nowNs();
            ::sendto(sockets[s], packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to);
        }
        next.tv_nsec += 1'000'000'000 / kFps;
        if (next.tv_nsec >= 1'000'000'000) {
            next.tv_nsec -= 1'000'000'000;
            ++next.tv_sec;
        }
    }
    for (int s = 0; s < kSenders; ++s)
        ::close(sockets[s]);
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

// The floor under the server's CPU: the same writes without Qt, HTTP or WebSocket library. One
// thread takes each datagram from port 6454 and writes the message the server would send for it,
// framed as the server frames it, to each of its pages with one write() per page, as the server
// does; its pages are the same plain clients. On loopback a write's cost includes the receiving
// page's TCP work and wake-up, which is most of it.
class BareWriter
{
public:
    explicit BareWriter(int pages) : pages(pages) {}
    ~BareWriter() { stop(); }
    std::atomic<int> ready{0};
    std::atomic<pid_t> tid{0};

    bool start()
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
        datagrams = ::socket(AF_INET, SOCK_DGRAM, 0);
        at.sin_port = htons(6454);
        at.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(datagrams, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
            return false;
        thread = std::thread([this] { run(); });
        return true;
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
    void run()
    {
        tid = pid_t(::syscall(SYS_gettid));
        std::vector<int> fds;
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
            pollfd waiting{datagrams, POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0)
                continue;
            sockaddr_in from{};
            socklen_t fromSize = sizeof from;
            const ssize_t got = ::recvfrom(datagrams, d, sizeof d, 0,
                                           reinterpret_cast<sockaddr*>(&from), &fromSize);
            if (got < 19)
                continue;
            const int host = int(ntohl(from.sin_addr.s_addr) & 0xff);
            char text[160];
            const int length = std::snprintf(
                text + 2, sizeof text - 2,
                "{\"n\":%d,\"address\":\"127.0.0.%d\",\"stream\":0,\"name\":\"\",\"tc\":"
                "\"%02d:%02d:%02d:%02d\",\"rate\":\"30 FPS\",\"silent\":false}",
                host - 2, host, d[17], d[16], d[15], d[14]);
            text[0] = char(0x81);
            text[1] = char(length);
            for (int fd : fds)
                (void)::write(fd, text, size_t(length) + 2);
        }
        for (int fd : fds)
            ::close(fd);
    }

    const int pages;
    int listener = -1;
    int datagrams = -1;
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
    double systemShare = 0; // of cpuShare, the kernel's part
};

// One run of count frames per sender from first on, read by the threads' clients.
RunResult run(std::vector<std::unique_ptr<ClientThread>>& threads, const QString& writer, int first,
              int count, int clients)
{
    for (auto& thread : threads)
        for (int i = 0; i < kSenders * kMaxFrames; ++i)
            thread->received.count[i] = 0, thread->received.lastNs[i] = 0;
    const qint64 userBefore = cpuNs(writer, false);
    const qint64 systemBefore = cpuNs(writer, true);
    const qint64 wallBefore = nowNs();
    const std::vector<qint64> sentNs = sendFrames(first, count);
    const qint64 user = cpuNs(writer, false) - userBefore;
    const qint64 system = cpuNs(writer, true) - systemBefore;
    const qint64 wallAfter = nowNs();
    QThread::msleep(500); // the last frames reach the clients
    RunResult result;
    result.cpuShare = double(user + system) / double(wallAfter - wallBefore);
    result.systemShare = double(system) / double(wallAfter - wallBefore);
    std::vector<double> delays;
    for (int s = 0; s < kSenders; ++s) {
        for (int frame = first; frame < first + count; ++frame) {
            const int index = s * kMaxFrames + frame;
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
    std::printf("%-34s delivered %lld of %lld (%.4f)  delay p50 %.2f ms  p99 %.2f ms  server CPU "
                "%.1f %% of a core (kernel %.1f %%)\n",
                name, r.delivered, r.expected, double(r.delivered) / double(r.expected), r.p50Ms,
                r.p99Ms, 100 * r.cpuShare, 100 * r.systemShare);
}

} // namespace

int main(int argc, char* argv[])
{
    if (!ensureIsolated(argc, argv))
        return 1;
    QCoreApplication application(argc, argv);
    QProcess server;
    server.setProgram(QStringLiteral(CHRONOLUME_CLI));
    server.setArguments({QStringLiteral("web"), QStringLiteral("--port"), QString::number(kPort),
                         QStringLiteral("--bind"), QStringLiteral("127.0.0.1")});
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start();
    if (!server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "chronolume-cli web did not start\n");
        return 1;
    }
    const qint64 pid = server.processId();

    const QString serverStat = QStringLiteral("/proc/%1/stat").arg(pid);
    auto connectClients = [](std::vector<std::unique_ptr<ClientThread>>& threads, int total,
                             quint16 port) {
        for (int t = 0; t < kThreads; ++t) {
            threads.push_back(std::make_unique<ClientThread>(total / kThreads, port));
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
    };
    std::vector<std::unique_ptr<ClientThread>> threads;
    const int connected = connectClients(threads, kClients, kPort);
    std::printf("%d senders at %d fps, %d of %d clients connected\n", kSenders, kFps, connected,
                kClients);

    const bool quick = argc > 1 && qstrcmp(argv[1], "--quick") == 0; // shorter, for trying
    const RunResult steady =
        run(threads, serverStat, 0, (quick ? 6 : kRunSeconds) * kFps, kClients);
    print("steady, 200 clients:", steady);

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
    const RunResult withStalled = run(threads, serverStat, 1000, kStallSeconds * kFps, kClients);
    print("with one client not reading 10 s:", withStalled);
    // Read again: a dropped client finds its connection gone.
    stalled.setReadBufferSize(0);
    QElapsedTimer reading;
    reading.start();
    while (stalled.state() == QAbstractSocket::ConnectedState && reading.elapsed() < 3000) {
        stalled.waitForReadyRead(100);
        stalled.readAll();
    }
    std::printf("the client that stopped reading: %s\n",
                !upgraded                                            ? "was not upgraded"
                : stalled.state() == QAbstractSocket::ConnectedState ? "still connected"
                                                                     : "dropped by the server");

    // A crowd of 500: the server's memory.
    std::vector<std::unique_ptr<ClientThread>> more;
    const int crowd = connectClients(more, kCrowd - kClients, kPort);
    for (auto& thread : more)
        threads.push_back(std::move(thread));
    const RunResult crowded = run(threads, serverStat, 2000, 5 * kFps, kClients + crowd);
    print("500 clients:", crowded);
    std::printf("server resident memory with %d clients: %.1f MB (peak %.1f MB)\n",
                kClients + crowd, double(statusKb(pid, "VmRSS:")) / 1024,
                double(statusKb(pid, "VmHWM:")) / 1024);

    for (auto& thread : threads)
        thread->stop();
    server.terminate();
    server.waitForFinished(5000);
    std::printf("the server: %s", server.readAllStandardOutput().constData());

    // The same steady load once more, written by the bare writer: the floor, and the ratios.
    BareWriter bare(kClients);
    std::vector<std::unique_ptr<ClientThread>> barePages;
    if (!bare.start()) {
        std::printf("the bare writer could not listen\n");
        return 1;
    }
    const int bareConnected = connectClients(barePages, kClients, kBarePort);
    QElapsedTimer accepted;
    accepted.start();
    while (bare.ready < bareConnected && accepted.elapsed() < 10000)
        QThread::msleep(10);
    const QString bareStat = QStringLiteral("/proc/self/task/%1/stat").arg(bare.tid.load());
    const RunResult floor =
        run(barePages, bareStat, 3000, (quick ? 6 : kRunSeconds) * kFps, bareConnected);
    print("bare writer, 200 clients:", floor);
    std::printf("server / bare writer, 200 clients: CPU %.2f, delay p50 %.2f, p99 %.2f\n",
                steady.cpuShare / floor.cpuShare, steady.p50Ms / floor.p50Ms,
                steady.p99Ms / floor.p99Ms);
    for (auto& thread : barePages)
        thread->stop();
    return 0;
}
