// chronolume-cli web under a crowd: 8 senders at 30 fps and 200 pages on loopback.
//
// The real program serves on 127.0.0.1; 200 WebSocket clients of this program's own, each a plain
// socket that reads the server's frames and answers its pings, read it on two threads, and 8
// controllers on 127.0.0.2 to 127.0.0.9 send ArtTimeCode from a third on absolute deadlines. For
// every frame it reports whether every client received it, and the delay from the datagram's send
// (an upper bound of its arrival) to the moment the last client had it, p50 and p99, on the one
// monotonic clock both processes share; the server's CPU time as a share of one core; a second run
// with one more client that stops reading for 10 s, the others' p99 beside it and whether the
// server dropped it; and the server's resident memory with 500 clients.
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
#include <string>
#include <string_view>
#include <sys/epoll.h>
#include <sys/socket.h>
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
    explicit ClientThread(int clients) : clients(clients) {}
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
            to.sin_port = htons(kPort);
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

// The server's user time (or with system true its system time) so far, in ns.
qint64 cpuNs(qint64 pid, bool system)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = file.readAll().split(')').last().split(' ');
    // After the command: state is field 1 here, utime 12 and stime 13.
    const qint64 ticks = fields.value(system ? 13 : 12).toLongLong();
    return ticks * 1'000'000'000 / sysconf(_SC_CLK_TCK);
}

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
RunResult run(std::vector<std::unique_ptr<ClientThread>>& threads, qint64 serverPid, int first,
              int count, int clients)
{
    for (auto& thread : threads)
        for (int i = 0; i < kSenders * kMaxFrames; ++i)
            thread->received.count[i] = 0, thread->received.lastNs[i] = 0;
    const qint64 userBefore = cpuNs(serverPid, false);
    const qint64 systemBefore = cpuNs(serverPid, true);
    const qint64 wallBefore = nowNs();
    const std::vector<qint64> sentNs = sendFrames(first, count);
    const qint64 user = cpuNs(serverPid, false) - userBefore;
    const qint64 system = cpuNs(serverPid, true) - systemBefore;
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

    auto connectClients = [](std::vector<std::unique_ptr<ClientThread>>& threads, int total) {
        for (int t = 0; t < kThreads; ++t) {
            threads.push_back(std::make_unique<ClientThread>(total / kThreads));
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
    const int connected = connectClients(threads, kClients);
    std::printf("%d senders at %d fps, %d of %d clients connected\n", kSenders, kFps, connected,
                kClients);

    const bool quick = argc > 1 && qstrcmp(argv[1], "--quick") == 0; // shorter, for trying
    const RunResult steady = run(threads, pid, 0, (quick ? 2 : kRunSeconds) * kFps, kClients);
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
    const RunResult withStalled = run(threads, pid, 1000, kStallSeconds * kFps, kClients);
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
    const int crowd = connectClients(more, kCrowd - kClients);
    for (auto& thread : more)
        threads.push_back(std::move(thread));
    const RunResult crowded = run(threads, pid, 2000, 5 * kFps, kClients + crowd);
    print("500 clients:", crowded);
    std::printf("server resident memory with %d clients: %.1f MB (peak %.1f MB)\n",
                kClients + crowd, double(statusKb(pid, "VmRSS:")) / 1024,
                double(statusKb(pid, "VmHWM:")) / 1024);

    for (auto& thread : threads)
        thread->stop();
    server.terminate();
    server.waitForFinished(5000);
    std::printf("the server: %s", server.readAllStandardOutput().constData());
    return 0;
}
