// How steadily chronolume-cli send paces its stream.
//
// The real program runs for 20 s at 30 and at 29.97 frames a second, sending to 127.0.0.1,
// where a receiver of this program's own takes every datagram with the kernel's receive time
// stamp, so the receiver's own scheduling does not enter the figures. Per rate it reports the
// frames received against round(T × rate), the drift of the arrivals against the schedule,
// the frames missing or repeated in the timecode's own numbering, and the p50 and p99 of
// |interval − period|, the p99 also as a share of the period (goal: at most 3 %).
//
// A third run at 30 fps writes the status line to a pseudo-terminal that is paused, as Ctrl+S
// pauses a terminal, for its first five seconds: the frames must leave on time all the same.
//
// Like the other benchmarks it runs only in a network namespace of its own, on loopback.
#include "isolation.h"
#include "packets.h"
#include "timecode.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <pty.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace ArtNetPacket;

namespace {

constexpr int kSeconds = 20;
constexpr int kWarmUpSeconds = 2;
constexpr int kPausedSeconds = 5;

struct Arrival
{
    qint64 ns;
    TimecodeRecord timecode;
};

// Takes every datagram on 127.0.0.1:6454 with its kernel time stamp until told to stop.
class Receiver
{
public:
    bool open()
    {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        const int buffer = 1 << 20;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(kPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval wait{0, 100000}; // so the loop sees the stop flag
        return fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0 &&
               setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer) == 0 &&
               setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) == 0 &&
               bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }

    ~Receiver()
    {
        if (fd >= 0)
            ::close(fd);
    }

    void start()
    {
        arrivals.clear();
        stop = false;
        thread = std::thread([this] { run(); });
    }

    std::vector<Arrival> finish()
    {
        stop = true;
        thread.join();
        return arrivals;
    }

private:
    void run()
    {
        unsigned char data[64];
        char control[256];
        while (!stop) {
            iovec part{data, sizeof data};
            msghdr message{};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t size = recvmsg(fd, &message, 0);
            if (size != kTimeCodeSize)
                continue;
            Arrival arrival{0, {}};
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec stamp;
                    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                    arrival.ns = qint64(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
                }
            }
            const std::optional<TimecodeRecord> timecode =
                readTimeCode(reinterpret_cast<const char*>(data), int(size));
            if (!timecode)
                continue;
            arrival.timecode = *timecode;
            arrivals.push_back(arrival);
        }
    }

    int fd = -1;
    std::atomic<bool> stop{false};
    std::thread thread;
    std::vector<Arrival> arrivals;
};

// Runs the generator to its end; its summary line goes to stderr with the rest of its output.
// With pausedSeconds, its output goes to a pseudo-terminal instead, status line and all, which
// is paused (XOFF, as Ctrl+S sends) for that long from the start and read until it closes.
bool runGenerator(const char* rate, int seconds, int pausedSeconds = 0)
{
    const std::string duration = std::to_string(seconds);
    int master = -1, terminal = -1;
    if (pausedSeconds > 0 && (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0 ||
                              write(master, "\x13", 1) != 1))
        return false;
    const pid_t child = fork();
    if (child == 0) {
        dup2(terminal >= 0 ? terminal : STDERR_FILENO, STDOUT_FILENO);
        // On the terminal without --quiet: the status line is what the pause holds up.
        execl(CHRONOLUME_CLI, "chronolume-cli", "send", "--rate", rate, "--to", "127.0.0.1",
              "--duration", duration.c_str(), terminal >= 0 ? nullptr : "--quiet",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    if (terminal >= 0) {
        close(terminal);
        std::this_thread::sleep_for(std::chrono::seconds(pausedSeconds));
        bool resumed = write(master, "\x11", 1) == 1;
        char buffer[4096];
        while (read(master, buffer, sizeof buffer) > 0) {
        }
        close(master);
        if (!resumed)
            return false;
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = size_t(std::ceil(share * double(values.size()))) - 1;
    return values[std::min(index, values.size() - 1)];
}

// The p99 share of the period, or -1 when the run failed.
double measure(Receiver& receiver, const char* rate, quint8 type, int pausedSeconds = 0)
{
    receiver.start();
    const bool ran = runGenerator(rate, kSeconds, pausedSeconds);
    std::vector<Arrival> arrivals = receiver.finish();
    if (!ran || arrivals.size() < 2) {
        std::printf("%s fps: the generator failed (%zu frames received)\n", rate, arrivals.size());
        return -1;
    }

    const double periodMs = Timecode::nominalPeriodMs(type);
    const qint64 expected = std::llround(kSeconds * Timecode::nominalRate(type));
    qint64 missing = 0, repeated = 0, jumps = 0;
    std::vector<double> deviations;
    for (size_t i = 1; i < arrivals.size(); ++i) {
        const Timecode::Step step = Timecode::step(arrivals[i - 1].timecode, arrivals[i].timecode);
        if (step.kind == Timecode::StepKind::Repeat)
            ++repeated;
        else if (step.kind == Timecode::StepKind::Gap)
            missing += step.frames;
        else if (step.kind != Timecode::StepKind::Next)
            ++jumps;
        const double intervalMs = double(arrivals[i].ns - arrivals[i - 1].ns) / 1e6;
        deviations.push_back(std::fabs(intervalMs - periodMs));
    }
    // Each frame's arrival against its place in the schedule, taken from its own number; the
    // drift is how far the last second's median moved from the first second's, so a single late
    // frame at either end does not pass for drift.
    const double spanMs = double(arrivals.back().ns - arrivals.front().ns) / 1e6;
    const qint64 frames = qint64(arrivals.size());
    const qint64 firstNumber = Timecode::toFrameNumber(arrivals.front().timecode);
    std::vector<double> offsetsMs;
    for (const Arrival& arrival : arrivals) {
        const qint64 index = Timecode::toFrameNumber(arrival.timecode) - firstNumber;
        offsetsMs.push_back(double(arrival.ns - arrivals.front().ns) / 1e6 -
                            double(index) * periodMs);
    }
    const size_t second = std::min(offsetsMs.size(), size_t(std::lround(1000 / periodMs)));
    const double driftMs =
        percentile(std::vector<double>(offsetsMs.end() - long(second), offsetsMs.end()), 0.5) -
        percentile(std::vector<double>(offsetsMs.begin(), offsetsMs.begin() + long(second)), 0.5);
    const double p50 = percentile(deviations, 0.50);
    const double p99 = percentile(deviations, 0.99);
    if (pausedSeconds > 0)
        std::printf("its terminal paused for the first %d s: ", pausedSeconds);
    std::printf("%s fps for %d s: %lld frames received, round(T x rate) %lld; missing %lld, "
                "repeated %lld, jumps %lld\n",
                rate, kSeconds, static_cast<long long>(frames), static_cast<long long>(expected),
                static_cast<long long>(missing), static_cast<long long>(repeated),
                static_cast<long long>(jumps));
    std::printf("  drift %+.3f ms over %.3f s (last second against the first); |interval - period| "
                "p50 %.3f ms, p99 %.3f ms "
                "= %.2f %% of the %.3f ms period\n",
                driftMs, spanMs / 1000, p50, p99, 100 * p99 / periodMs, periodMs);
    return 100 * p99 / periodMs;
}

} // namespace

int main(int argc, char* argv[])
{
    if (!ensureIsolated(argc, argv))
        return 1;
    QCoreApplication application(argc, argv);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Receiver receiver;
    if (!receiver.open()) {
        std::fprintf(stderr, "cannot open the receiver on 127.0.0.1:%d\n", kPort);
        return 1;
    }
    // Pages in the generator's code, which an idle machine pages out.
    receiver.start();
    runGenerator("30", kWarmUpSeconds);
    receiver.finish();

    const double at30 = measure(receiver, "30", Timecode::kSmpte);
    const double at2997 = measure(receiver, "29.97", Timecode::kDropFrame);
    const double paused = measure(receiver, "30", Timecode::kSmpte, kPausedSeconds);
    if (at30 < 0 || at2997 < 0 || paused < 0)
        return 1;
    std::printf("p99 jitter: %.2f %% of the period at worst (goal: at most 3 %%)\n",
                std::max({at30, at2997, paused}));
    return 0;
}
