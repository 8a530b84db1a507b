#include "diagnostics.h"
#include "artnet.h"
#include "linewriter.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

namespace {

std::atomic<bool> linesEnabled{true};

// Enough for every line a start-up or a busy second writes; past this the output is not being
// read, and a line more would only cost memory.
constexpr qint64 kMaxQueuedBytes = 64 * 1024;

LineWriter& writer()
{
    // Never destroyed: at the program's end the thread may still wait in a write to a pipe
    // nobody reads, and joining it would hold the exit up for good.
    static LineWriter* const instance = [] {
        LineWriter::Settings settings;
        settings.descriptor = STDOUT_FILENO;
        settings.limitBytes = kMaxQueuedBytes;
        settings.noticeDescriptor = STDOUT_FILENO;
        settings.notice = [](quint64 lines) {
            return QByteArray::number(lines) +
                   " diagnostic lines dropped: the output was not being read\n";
        };
        auto* const created = new LineWriter(settings);
        // What is queued at the end of the program is written if the output takes it soon.
        std::atexit([] { writer().flush(500); });
        return created;
    }();
    return *instance;
}

} // namespace

void artnet::setDiagnosticLines(bool enabled)
{
    linesEnabled.store(enabled);
}

namespace ArtNetOutput {

bool writeAll(int descriptor, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(descriptor, data, left);
        if (written > 0) {
            data += written;
            left -= size_t(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Another program made the shared descriptor non-blocking: wait until it takes more.
            pollfd ready{descriptor, POLLOUT, 0};
            poll(&ready, 1, -1);
        } else {
            return false;
        }
    }
    return true;
}

bool linesWritten()
{
    return linesEnabled.load(std::memory_order_relaxed);
}

void line(const QString& text)
{
    if (!linesEnabled.load(std::memory_order_relaxed))
        return;
    writer().append(STDOUT_FILENO, text.toLocal8Bit() + '\n');
}

void text(const QString& text, bool)
{
    if (!linesEnabled.load(std::memory_order_relaxed))
        return;
    writer().append(STDOUT_FILENO, text.toLocal8Bit());
}

void errorText(const QString& text)
{
    writer().append(STDERR_FILENO, text.toLocal8Bit());
}

quint64 droppedLines()
{
    return writer().droppedLines();
}

bool flush(int timeoutMs)
{
    return writer().flush(timeoutMs);
}

} // namespace ArtNetOutput
