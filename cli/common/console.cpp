#include "common/console.h"

#include "diagnostics.h"

#include <QByteArray>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Console {

namespace {

std::atomic<bool> stopRequested{false};
// The terminal's cursor stands at the end of a status line, which a last line must end first.
std::atomic<bool> lineOpen{false};
std::atomic<bool> outputFailureReported{false};
std::atomic<bool> resizeRequested{false};

void noteResize(int)
{
    resizeRequested = true;
}

// Async-signal-safe throughout: runs in the handler of the second signal.
[[noreturn]] void endAtOnce(int signal)
{
    static const char kLine[] = "\nchronolume-cli: stopped at once by a second signal\n";
    // The leading line break only where a status line is open.
    const bool midLine = lineOpen.load();
    const char* line = midLine ? kLine : kLine + 1;
    const size_t length = sizeof kLine - 1 - (midLine ? 0 : 1);
    // Without waiting: a paused terminal would hold the program up for good. The flag belongs
    // to the open file, which a terminal shares with the shell, so it is put back.
    const int flags = fcntl(STDERR_FILENO, F_GETFL);
    if (flags >= 0)
        fcntl(STDERR_FILENO, F_SETFL, flags | O_NONBLOCK);
    const ssize_t written = write(STDERR_FILENO, line, length);
    (void)written; // nothing more can be done about a line that did not fit
    if (flags >= 0)
        fcntl(STDERR_FILENO, F_SETFL, flags);
    _exit(128 + signal);
}

void requestStop(int signal)
{
    if (stopRequested.exchange(true))
        endAtOnce(signal);
}

void write(FILE* stream, const QString& text)
{
    std::fflush(stream); // nothing of the standard library's buffer may come after this text
    if (ArtNetOutput::writeAll(fileno(stream), text.toLocal8Bit()) || stream == stderr)
        return;
    const int reason = errno;
    if (!outputFailureReported.exchange(true))
        error(QStringLiteral("cannot write to standard output: %1")
                  .arg(QString::fromLocal8Bit(std::strerror(reason))));
}

} // namespace

void writeOut(const QString& text)
{
    write(stdout, text);
}

void error(const QString& message)
{
    write(stderr, QStringLiteral("chronolume-cli: ") + message + QLatin1Char('\n'));
}

bool stdoutIsTerminal()
{
    return isatty(fileno(stdout)) == 1;
}

const std::atomic<bool>& installStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a sleep the signal interrupts must return, so the stop is seen at once.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return stopRequested;
}

int terminalWidth()
{
    winsize size{};
    if (ioctl(fileno(stdout), TIOCGWINSZ, &size) != 0)
        return 0;
    return int(size.ws_col);
}

const std::atomic<bool>& installResizeSignal()
{
    struct sigaction action = {};
    action.sa_handler = noteResize;
    sigemptyset(&action.sa_mask);
    // A resize must not cut a sleep or a read short.
    action.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &action, nullptr);
    return resizeRequested;
}

void resizeSeen()
{
    resizeRequested = false;
}

std::thread threadWithoutStopSignals(std::function<void()> work)
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &stops, &before);
    std::thread thread(std::move(work));
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return thread;
}

OutputThread::OutputThread(FILE* stream)
    : LineWriter([stream] {
          // Nothing of the standard library's buffer may come after what the thread writes.
          std::fflush(stream);
          Settings settings;
          settings.descriptor = fileno(stream);
          settings.limitBytes = kOutputLimitBytes;
          settings.noticeDescriptor = STDERR_FILENO;
          settings.notice = [](quint64 lines) {
              return QByteArray("chronolume-cli: ") + QByteArray::number(lines) +
                     " lines of output dropped: it was not being read\n";
          };
          settings.refused = [](int descriptor, int error) {
              return QByteArray("chronolume-cli: cannot write to ") +
                     (descriptor == STDERR_FILENO ? "standard error: " : "standard output: ") +
                     std::strerror(error) + '\n';
          };
          settings.lineOpen = &lineOpen;
          return settings;
      }())
{
}

} // namespace Console
