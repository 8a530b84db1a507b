// The window under a show network's load: ArtDmx for 1,024 universes at 44 a second each
// (45,056 datagrams a second) from one controller, plus one desk sending ArtTimeCode at 30 fps.
//
//   bench_flood [SECONDS [ROUNDS]]      (5 and 5 by default)
//
// The real window (offscreen unless QT_QPA_PLATFORM says otherwise) runs in this process, its
// node on the main thread as in the program. Rounds alternate three phases of SECONDS each, with
// the desk sending throughout: the window with the flood, the window without it, and a bare
// reader (poll() and recvmmsg on a thread of its own, port 6455) with the same flood. The
// window's extra CPU for the flood is its main thread's share of a core with the flood less
// without it, each over the time the phase really took; the bare reader's is its thread's. With
// each goes how often the thread was woken (its voluntary context switches), which is what the
// readers' CPU follows most. Every round floods once by unicast to 127.0.0.1 and once
// by broadcast to 10.77.0.255, and reports for each: the kernel's drops at the window's socket
// (the namespace's "drops" column of /proc/net/udp), whether the timecode on show kept running,
// the time from a resize to the timecode's repaint, and window / bare reader. The summary lines
// are the medians over the rounds.
//
// Then `chronolume-cli monitor` runs beside the window, listening by capture, for SECONDS without
// the flood, with it by unicast and with it by broadcast, ROUNDS times: its final figures for
// the desk (missing frames, p99 jitter, the capture's kernel drops) in each, and their medians,
// which the flood should leave as they are without it.
//
//   bench_flood replay unicast|broadcast [DATAGRAMS [PER_READ]]      (9,000 and 4 by default)
//
// replays the flood's ArtDmx to the window from the main thread, PER_READ at a time, each group
// a millisecond after the last read (the window's read interval) and read by the window's node
// in one pass of the event loop, and reports the main thread's CPU inside those passes per read
// and per datagram: the window's own cost of a datagram, with the arrivals' timing taken out.
// Under callgrind only the passes are counted (`--collect-atstart=no
// --toggle-collect='*replayPass*'`); BENCH_FLOOD_UNDER names the command to run under inside
// the namespace:
//
//   BENCH_FLOOD_UNDER="valgrind --tool=callgrind --collect-atstart=no
//   --toggle-collect=*replayPass*" bench_flood replay broadcast     (as one line)
//
// It runs itself again in a network namespace of its own (unshare -n, as root), with loopback
// and a veth pair 10.77.0.1/24 - 10.77.0.2/24 as its only networks, and refuses to run anywhere
// else: the broadcasts never leave it.
#include "mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kUniverses = 1024;
constexpr int kPerUniverse = 44;
constexpr int kRate = kUniverses * kPerUniverse; // 45,056 a second
constexpr quint32 kBroadcast = 0x0A4D00FF;       // 10.77.0.255
constexpr quint32 kController = 0x7F000002;      // 127.0.0.2, for unicast
constexpr quint32 kBroadcaster = 0x0A4D0002;     // 10.77.0.2, on the veth pair
constexpr quint32 kDesk = 0x7F000003;            // 127.0.0.3
constexpr quint16 kWindowPort = 6454;
constexpr quint16 kBarePort = 6455;

bool isolated()
{
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        if (i.name() != QLatin1String("lo") && i.name() != QLatin1String("flood0") &&
            i.name() != QLatin1String("flood1"))
            return false;
    }
    return qEnvironmentVariableIsSet("CHRONOLUME_BENCH_ISOLATED");
}

void reexecIsolated(int argc, char* argv[])
{
    std::vector<char*> args{const_cast<char*>("unshare"), const_cast<char*>("-n"),
                            const_cast<char*>("--"), const_cast<char*>("sh"),
                            const_cast<char*>("-c")};
    args.push_back(const_cast<char*>(
        "ip link set lo up && ip link add flood0 type veth peer name flood1 && "
        "ip addr add 10.77.0.1/24 brd + dev flood0 && ip addr add 10.77.0.2/24 brd + dev flood1 "
        "&& ip link set flood0 up && ip link set flood1 up && set -f && "
        "exec ${BENCH_FLOOD_UNDER} \"$0\" \"$@\""));
    for (int i = 0; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    setenv("CHRONOLUME_BENCH_ISOLATED", "1", 1);
    execvp("unshare", args.data());
}

double threadCpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double wall()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// How often the calling thread has gone to sleep and been woken since it started: its
// voluntary context switches.
long long threadWakeups()
{
    std::ifstream status("/proc/thread-self/status");
    std::string line;
    const std::string key = "voluntary_ctxt_switches:";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::stoll(line.substr(key.size()));
    }
    return 0;
}

sockaddr_in ipv4(quint32 address, quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    return a;
}

int boundSender(quint32 address)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in from = ipv4(address, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
        std::perror("binding a sender");
        std::exit(1);
    }
    return fd;
}

// The namespace's drops at the sockets bound to port, from /proc/net/udp's last column.
long long socketDrops(quint16 port)
{
    std::ifstream udp("/proc/net/udp");
    std::string line;
    char local[8];
    std::snprintf(local, sizeof local, ":%04X", unsigned(port));
    long long drops = 0;
    while (std::getline(udp, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        std::string field;
        while (fields >> field)
            f.push_back(field);
        if (f.size() >= 13 && f[1].size() > 5 && f[1].compare(f[1].size() - 5, 5, local) == 0)
            drops += std::stoll(f.back());
    }
    return drops;
}

// The bytes waiting unread at the sockets bound to port, from /proc/net/udp's rx_queue.
long long queuedBytes(quint16 port)
{
    std::ifstream udp("/proc/net/udp");
    std::string line;
    char local[8];
    std::snprintf(local, sizeof local, ":%04X", unsigned(port));
    long long queued = 0;
    while (std::getline(udp, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        std::string field;
        while (fields >> field)
            f.push_back(field);
        if (f.size() >= 5 && f[1].size() > 5 && f[1].compare(f[1].size() - 5, 5, local) == 0)
            queued += std::stoll(f[4].substr(f[4].find(':') + 1), nullptr, 16);
    }
    return queued;
}

// UDP datagrams the namespace delivered to a socket, from /proc/net/snmp.
long long udpInDatagrams()
{
    std::ifstream snmp("/proc/net/snmp");
    std::string line, names;
    while (std::getline(snmp, line)) {
        if (line.rfind("Udp:", 0) != 0)
            continue;
        if (names.empty()) {
            names = line;
            continue;
        }
        std::istringstream n(names), v(line);
        std::string name, value;
        while (n >> name && v >> value)
            if (name == "InDatagrams")
                return std::stoll(value);
    }
    return 0;
}

// 512 channels, as a controller sends them: 530 bytes.
std::vector<char> artDmx(int universe, int sequence)
{
    std::vector<char> p(530, 0);
    std::memcpy(p.data(), "Art-Net\0", 8);
    p[8] = 0x00;
    p[9] = 0x50; // OpDmx
    p[11] = 14;  // ProtVer
    p[12] = char(sequence);
    p[14] = char(universe & 0xFF);
    p[15] = char((universe >> 8) & 0x7F);
    p[16] = 0x02; // 512, high byte first
    p[17] = 0x00;
    for (int i = 18; i < 530; ++i)
        p[size_t(i)] = char((i + sequence) & 0xFF);
    return p;
}

std::vector<char> artTimeCode(int frame)
{
    std::vector<char> p(19, 0);
    std::memcpy(p.data(), "Art-Net\0", 8);
    p[9] = char(0x97); // OpTimeCode
    p[11] = 14;
    p[14] = char(frame % 30);
    p[15] = char(frame / 30 % 60);
    p[16] = char(frame / 1800 % 60);
    p[17] = char(frame / 108000 % 24);
    p[18] = 3; // 30 fps
    return p;
}

// Sends at rate a second, paced in steps of 1 ms, until stop.
// Returns how many it sent.
long long paced(int fd, const sockaddr_in& to, int rate, const std::atomic<bool>& stop,
                const std::function<std::vector<char>(long long)>& packet)
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const double start = wall();
    long long sent = 0;
    while (!stop.load()) {
        const long long due = (long long)((wall() - start) * rate);
        for (; sent < due; ++sent) {
            const std::vector<char> p = packet(sent);
            sendto(fd, p.data(), p.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        }
        const timespec pause{0, 1'000'000};
        nanosleep(&pause, nullptr);
    }
    return sent;
}

// The flood, from a thread of its own, to port by unicast or broadcast. Once it has ended,
// *sendUs holds the sending thread's CPU per datagram in microseconds, where one is given: the
// longer a send takes, the longer each millisecond's burst lasts.
class Flood
{
public:
    Flood(quint16 port, bool broadcast, double* sendUs = nullptr)
    {
        const sockaddr_in to = ipv4(broadcast ? kBroadcast : 0x7F000001, port);
        thread = std::thread([this, to, broadcast, sendUs] {
            const int fd = boundSender(broadcast ? kBroadcaster : kController);
            std::vector<std::vector<char>> frames;
            for (int u = 0; u < kUniverses; ++u)
                frames.push_back(artDmx(u, 1));
            const double start = threadCpu();
            const long long sent = paced(fd, to, kRate, stop, [&frames](long long i) {
                return frames[size_t(i % kUniverses)];
            });
            if (sendUs && sent > 0)
                *sendUs = (threadCpu() - start) / double(sent) * 1e6;
            close(fd);
        });
    }
    ~Flood()
    {
        stop = true;
        thread.join();
    }

private:
    std::atomic<bool> stop{false};
    std::thread thread;
};

// poll() and recvmmsg, 64 at a time, on a thread of its own; its CPU counted by that thread.
class BareReader
{
public:
    BareReader()
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        const sockaddr_in a = ipv4(INADDR_ANY, kBarePort);
        const int buffer = 4 * 1024 * 1024;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        if (bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
            std::perror("binding the bare reader");
            std::exit(1);
        }
    }
    ~BareReader() { close(fd); }

    // Reads for seconds; returns its thread's CPU seconds and counts its wakeups.
    double run(double seconds)
    {
        double cpu = 0;
        std::thread t([&] {
            const long long wakeupsBefore = threadWakeups();
            static char buffers[64][2048];
            mmsghdr messages[64]{};
            iovec vectors[64]{};
            sockaddr_in from[64]{};
            for (int i = 0; i < 64; ++i) {
                vectors[i] = {buffers[i], sizeof buffers[i]};
                messages[i].msg_hdr.msg_iov = &vectors[i];
                messages[i].msg_hdr.msg_iovlen = 1;
                messages[i].msg_hdr.msg_name = &from[i];
            }
            const double start = threadCpu();
            const double end = wall() + seconds;
            while (wall() < end) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 10) <= 0)
                    continue;
                for (;;) {
                    for (int i = 0; i < 64; ++i)
                        messages[i].msg_hdr.msg_namelen = sizeof from[i];
                    const int n = recvmmsg(fd, messages, 64, MSG_DONTWAIT, nullptr);
                    if (n <= 0)
                        break;
                    received += n;
                    if (n < 64)
                        break;
                }
            }
            cpu = threadCpu() - start;
            wakeups += threadWakeups() - wakeupsBefore;
        });
        t.join();
        return cpu;
    }
    long long received = 0;
    long long wakeups = 0;

private:
    int fd = -1;
};

// What the main thread spent while the event loop ran, as the program's own does.
struct WindowPhase
{
    double seconds = 0; // as long as it really ran
    double cpu = 0;     // the main thread's CPU seconds
    long long wakeups = 0;
};

// Runs the event loop for seconds. A precise timer: a coarse one (Qt's choice for 2 s and more)
// may end the phase 5 % late, which a share taken over the seconds asked for would count as
// the window's.
WindowPhase windowFor(double seconds)
{
    WindowPhase phase;
    const double start = threadCpu();
    const double began = wall();
    const long long wakeups = threadWakeups();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    phase.cpu = threadCpu() - start;
    phase.seconds = wall() - began;
    phase.wakeups = threadWakeups() - wakeups;
    return phase;
}

// The label that shows the timecode: the one whose text reads HH:MM:SS:FF.
QString shownTimecode(const MainWindow& window)
{
    static const QRegularExpression timecode(QStringLiteral("\\d\\d:\\d\\d:\\d\\d:\\d\\d"));
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        const QRegularExpressionMatch m = timecode.match(label->text());
        if (m.hasMatch())
            return m.captured();
    }
    return QString();
}

// Milliseconds from a resize until the label showing the timecode has been painted again.
class RepaintWatch : public QObject
{
public:
    double resizeAndWait(MainWindow& window, QSize size)
    {
        label = nullptr;
        for (QLabel* l : window.findChildren<QLabel*>())
            if (l->text().contains(QLatin1Char(':')))
                label = l;
        if (!label)
            return -1;
        label->installEventFilter(this);
        painted = false;
        clock.start();
        window.resize(size);
        while (!painted && clock.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        label->removeEventFilter(this);
        return painted ? paintedMs : -1;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == label && event->type() == QEvent::Paint && !painted) {
            // The paint itself, then the time.
            static_cast<QWidget*>(watched)->removeEventFilter(this);
            QCoreApplication::sendEvent(watched, event);
            paintedMs = double(clock.nsecsElapsed()) / 1e6;
            painted = true;
            return true;
        }
        return false;
    }

private:
    QLabel* label = nullptr;
    QElapsedTimer clock;
    bool painted = false;
    double paintedMs = 0;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// What chronolume-cli monitor reported at its end for the desk.
struct MonitorFigures
{
    double missing = -1;
    double jitterP99Ms = -1;
    double kernelDrops = -1;
};

// Runs monitor for seconds while the window's event loop goes on (the node in this process keeps
// reading), and takes its final JSON line for the desk.
MonitorFigures monitorFor(double seconds)
{
    QProcess monitor;
    monitor.start(QStringLiteral(CHRONOLUME_CLI),
                  {QStringLiteral("monitor"), QStringLiteral("--json"), QStringLiteral("--for"),
                   QString::number(seconds)});
    monitor.waitForStarted();
    QEventLoop loop;
    QObject::connect(&monitor, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(int(seconds * 1000) + 5000, &loop, &QEventLoop::quit);
    if (monitor.state() != QProcess::NotRunning)
        loop.exec();
    MonitorFigures figures;
    for (const QByteArray& line : monitor.readAllStandardOutput().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value(QStringLiteral("final")).toBool() &&
            o.value(QStringLiteral("sender")).toString() == QLatin1String("127.0.0.3")) {
            figures.missing = o.value(QStringLiteral("missing")).toDouble();
            figures.jitterP99Ms = o.value(QStringLiteral("jitter_p99_ms")).toDouble();
            figures.kernelDrops = o.value(QStringLiteral("kernel_drops")).toDouble();
        }
    }
    return figures;
}

// One pass of the event loop, in which the window's node reads what was sent: a function of its
// own, so that callgrind can count it alone.
Q_NEVER_INLINE void replayPass()
{
    QCoreApplication::processEvents();
}

int replay(bool broadcast, int datagrams, int perRead, FILE* out)
{
    MainWindow window;
    window.resize(800, 400);
    window.show();
    windowFor(1.0);
    const int fd = boundSender(broadcast ? kBroadcaster : kController);
    const sockaddr_in to = ipv4(broadcast ? kBroadcast : 0x7F000001, kWindowPort);
    std::vector<std::vector<char>> frames;
    for (int u = 0; u < kUniverses; ++u)
        frames.push_back(artDmx(u, 1));
    const long long dropsBefore = socketDrops(kWindowPort);
    double inside = 0;
    int reads = 0;
    double lastPass = wall();
    for (int sent = 0; sent < datagrams; sent += perRead, ++reads) {
        // Past the window's read interval since its last read, which the last pass made: this
        // group is read at once.
        while (wall() < lastPass + 0.0011) {
            const timespec pause{0, 100'000};
            nanosleep(&pause, nullptr);
        }
        for (int i = 0; i < perRead && sent + i < datagrams; ++i) {
            const std::vector<char>& p = frames[size_t((sent + i) % kUniverses)];
            sendto(fd, p.data(), p.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        }
        const double start = threadCpu();
        replayPass();
        inside += threadCpu() - start;
        lastPass = wall();
    }
    close(fd);
    std::fprintf(out,
                 "replay, %s: %d ArtDmx, %d per read: %.2f us of the main thread per read, %.3f "
                 "us per datagram; left unread %lld bytes, dropped %lld\n",
                 broadcast ? "broadcast" : "unicast", datagrams, perRead, inside / reads * 1e6,
                 inside / datagrams * 1e6, queuedBytes(kWindowPort),
                 socketDrops(kWindowPort) - dropsBefore);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (!isolated()) {
        if (!qEnvironmentVariableIsSet("CHRONOLUME_BENCH_ISOLATED"))
            reexecIsolated(argc, argv);
        std::fprintf(stderr, "refusing to run outside a private network namespace (run as "
                             "root)\n");
        return 1;
    }
    const bool replaying = argc > 2 && std::strcmp(argv[1], "replay") == 0;
    const double seconds = argc > 1 && !replaying ? std::atof(argv[1]) : 5;
    const int rounds = argc > 2 && !replaying ? std::atoi(argv[2]) : 5;
    if (seconds <= 0 || rounds < 1) {
        std::fprintf(stderr, "bench_flood [SECONDS [ROUNDS]]: both above 0\n");
        return 2;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window's settings stay in a directory of this run's own.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    // The report on stdout; the node's own lines go to stderr.
    FILE* out = fdopen(dup(STDOUT_FILENO), "w");
    dup2(STDERR_FILENO, STDOUT_FILENO);
    setvbuf(out, nullptr, _IOLBF, 0);

    QApplication application(argc, argv);
    if (replaying) {
        const int datagrams = argc > 3 ? std::atoi(argv[3]) : 9000;
        const int perRead = argc > 4 ? std::atoi(argv[4]) : 4;
        if (datagrams < 1 || perRead < 1 || perRead > 64) {
            std::fprintf(stderr, "replay: DATAGRAMS at least 1, PER_READ 1 to 64\n");
            return 2;
        }
        return replay(std::strcmp(argv[2], "broadcast") == 0, datagrams, perRead, out);
    }
    MainWindow window;
    window.resize(800, 400);
    window.show();

    std::atomic<bool> deskStop{false};
    std::thread desk([&deskStop] {
        const int fd = boundSender(kDesk);
        const sockaddr_in to = ipv4(0x7F000001, kWindowPort);
        paced(fd, to, 30, deskStop, [](long long i) { return artTimeCode(int(i)); });
        close(fd);
    });
    windowFor(1.5); // the first timecode shown, the code paged in

    BareReader bare;
    RepaintWatch watch;
    std::fprintf(out,
                 "flood: %d universes x %d/s = %d ArtDmx/s of 530 bytes, ArtTimeCode at 30 "
                 "fps from one desk; %d rounds of %.0f s per phase\n",
                 kUniverses, kPerUniverse, kRate, rounds, seconds);
    for (const bool broadcast : {false, true}) {
        const char* how = broadcast ? "broadcast" : "unicast";
        std::vector<double> ratios, windowShares, bareShares, repaints, windowWakeups, bareWakeups,
            sends;
        long long drops = 0;
        long long bareDrops = 0;
        bool running = true;
        for (int round = 0; round < rounds; ++round) {
            const long long dropsBefore = socketDrops(kWindowPort);
            WindowPhase flooded;
            QString before, after;
            double repaint;
            double windowRate = 0;
            double sendUs = 0;
            {
                Flood flood(kWindowPort, broadcast, &sendUs);
                windowFor(0.5);
                before = shownTimecode(window);
                const long long inBefore = udpInDatagrams();
                flooded = windowFor(seconds);
                windowRate = double(udpInDatagrams() - inBefore) / flooded.seconds;
                after = shownTimecode(window);
                const QSize size = window.size();
                repaint = watch.resizeAndWait(window, round % 2 ? QSize(800, 400)
                                                                : QSize(size.width() + 97, 460));
                windowFor(0.5); // the fit after the resize, not counted
            }
            drops += socketDrops(kWindowPort) - dropsBefore;
            // At 30 fps the timecode moves on by about 30 frames a second: a stall shows.
            running = running && !before.isEmpty() && before != after;
            windowFor(0.5);
            const WindowPhase quiet = windowFor(seconds);
            double bareCpu;
            const long long bareBefore = bare.received;
            const long long bareWakeupsBefore = bare.wakeups;
            const long long bareDropsBefore = socketDrops(kBarePort);
            {
                Flood flood(kBarePort, broadcast);
                bareCpu = bare.run(seconds);
            }
            const double bareRate = double(bare.received - bareBefore) / seconds;
            bareDrops += socketDrops(kBarePort) - bareDropsBefore;
            const double extra = flooded.cpu / flooded.seconds - quiet.cpu / quiet.seconds;
            const double wakeups = double(flooded.wakeups) / flooded.seconds;
            const double bareWakeupRate = double(bare.wakeups - bareWakeupsBefore) / seconds;
            windowShares.push_back(extra * 100);
            bareShares.push_back(bareCpu / seconds * 100);
            ratios.push_back(extra / (bareCpu / seconds));
            repaints.push_back(repaint);
            windowWakeups.push_back(wakeups);
            bareWakeups.push_back(bareWakeupRate);
            sends.push_back(sendUs);
            std::fprintf(out,
                         "  %s round %d: window extra %.1f %% of a core (%.0f datagrams/s, %.0f "
                         "wakeups/s), bare reader %.1f %% (%.0f/s, %.0f wakeups/s), window / bare "
                         "%.2f; sender %.1f us a datagram; drops %lld; timecode %s -> %s; "
                         "repainted %.1f ms after a resize\n",
                         how, round + 1, extra * 100, windowRate, wakeups, bareCpu / seconds * 100,
                         bareRate, bareWakeupRate, extra / (bareCpu / seconds), sendUs,
                         socketDrops(kWindowPort) - dropsBefore, qPrintable(before),
                         qPrintable(after), repaint);
        }
        std::fprintf(out,
                     "%s: kernel drops %lld (bare reader %lld), timecode %s, resize repainted "
                     "within %.1f ms "
                     "(median; worst %.1f ms)\n",
                     how, drops, bareDrops, running ? "running" : "STALLED", median(repaints),
                     *std::max_element(repaints.begin(), repaints.end()));
        std::fprintf(out,
                     "%s: window extra CPU %.1f %% (%.0f wakeups/s), bare reader %.1f %% of a "
                     "core (%.0f wakeups/s), sender %.1f us a datagram; window / bare reader: "
                     "%.2f (%.2f to %.2f)\n",
                     how, median(windowShares), median(windowWakeups), median(bareShares),
                     median(bareWakeups), median(sends), median(ratios),
                     *std::min_element(ratios.begin(), ratios.end()),
                     *std::max_element(ratios.begin(), ratios.end()));
    }

    // monitor beside the window: the same desk, the flood in turn absent, unicast and broadcast.
    const char* const monitorLoads[] = {"no flood", "unicast flood", "broadcast flood"};
    std::vector<double> missing[3], jitter[3], captureDrops[3];
    for (int round = 0; round < rounds; ++round) {
        for (int load = 0; load < 3; ++load) {
            std::unique_ptr<Flood> flood;
            if (load > 0)
                flood = std::make_unique<Flood>(kWindowPort, load == 2);
            const MonitorFigures f = monitorFor(seconds);
            missing[load].push_back(f.missing);
            jitter[load].push_back(f.jitterP99Ms);
            captureDrops[load].push_back(f.kernelDrops);
            std::fprintf(out,
                         "  monitor round %d, %s: missing %.0f, p99 jitter %.3f ms, kernel drops "
                         "%.0f\n",
                         round + 1, monitorLoads[load], f.missing, f.jitterP99Ms, f.kernelDrops);
        }
    }
    for (int load = 0; load < 3; ++load)
        std::fprintf(out,
                     "monitor, %s: missing %.0f, p99 jitter %.3f ms, kernel drops %.0f "
                     "(medians; most missing %.0f)\n",
                     monitorLoads[load], median(missing[load]), median(jitter[load]),
                     median(captureDrops[load]),
                     *std::max_element(missing[load].begin(), missing[load].end()));
    deskStop = true;
    desk.join();
    return 0;
}
