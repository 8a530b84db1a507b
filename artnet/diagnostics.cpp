#include "diagnostics.h"
#include "artnet.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<bool> linesEnabled{true};

// Enough for every line a start-up or a busy second writes; past this the output is not being
// read, and a line more would only cost memory.
constexpr size_t kMaxQueuedBytes = 64 * 1024;

class Writer
{
public:
    static Writer& instance()
    {
        // Never destroyed: at the program's end the thread may still wait in a write to a pipe
        // nobody reads, and joining it would hold the exit up for good.
        static Writer* const writer = new Writer;
        return *writer;
    }

    void queue(int descriptor, QByteArray bytes)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (queuedBytes + size_t(bytes.size()) > kMaxQueuedBytes) {
                dropped.fetch_add(1, std::memory_order_relaxed);
                ++droppedSinceWrite;
                return;
            }
            queuedBytes += size_t(bytes.size());
            items.push_back(Item{descriptor, std::move(bytes)});
        }
        changed.notify_all();
    }

    bool flush(int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [this] { return items.empty() && !writing; });
    }

    std::atomic<quint64> dropped{0};

private:
    struct Item
    {
        int descriptor;
        QByteArray bytes;
    };

    Writer()
    {
        std::thread(&Writer::run, this).detach();
        // What is queued at the end of the program is written if the output takes it soon.
        std::atexit([] { Writer::instance().flush(500); });
    }

    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return !items.empty() || droppedSinceWrite > 0; });
            QByteArray bytes;
            int descriptor = STDOUT_FILENO;
            if (!items.empty()) {
                descriptor = items.front().descriptor;
                bytes = std::move(items.front().bytes);
                items.pop_front();
                queuedBytes -= size_t(bytes.size());
            }
            // Written where the drop happened in the stream: after what was queued before it.
            const quint64 lost = items.empty() ? droppedSinceWrite : 0;
            if (lost > 0)
                droppedSinceWrite = 0;
            writing = true;
            lock.unlock();
            // A closed pipe, a full disk: nobody to tell, and the line is as lost as one the
            // queue had no room for.
            if (!ArtNetOutput::writeAll(descriptor, bytes))
                dropped.fetch_add(1, std::memory_order_relaxed);
            if (lost > 0) {
                ArtNetOutput::writeAll(
                    STDOUT_FILENO,
                    QByteArray::number(lost) +
                        " diagnostic lines dropped: the output was not being read\n");
            }
            lock.lock();
            writing = false;
            changed.notify_all();
        }
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Item> items;
    size_t queuedBytes = 0;
    quint64 droppedSinceWrite = 0;
    bool writing = false;
};

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
    Writer::instance().queue(STDOUT_FILENO, text.toLocal8Bit() + '\n');
}

void text(const QString& text, bool)
{
    if (!linesEnabled.load(std::memory_order_relaxed))
        return;
    Writer::instance().queue(STDOUT_FILENO, text.toLocal8Bit());
}

void errorText(const QString& text)
{
    Writer::instance().queue(STDERR_FILENO, text.toLocal8Bit());
}

quint64 droppedLines()
{
    return Writer::instance().dropped.load(std::memory_order_relaxed);
}

bool flush(int timeoutMs)
{
    return Writer::instance().flush(timeoutMs);
}

} // namespace ArtNetOutput
