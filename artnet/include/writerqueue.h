// A queue that a thread of its own writes out, for output that must never hold up the threads
// that hand it over (those that receive, draw or keep time): only the queue's thread waits for
// the output. At most `limit` units wait (bytes, samples), the item being written among them; an
// item that does not fit is dropped and counted, never waited for. The thread starts with
// SIGINT, SIGTERM and SIGPIPE blocked: a stop signal goes to a thread that waits for it, and a
// write to a reader who left fails with EPIPE instead of ending the program.
#pragma once

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace WriterQueueThread {

// Runs the work on a new thread that has SIGINT, SIGTERM and SIGPIPE blocked from its first
// instruction on (blocked in the calling thread while it starts, then restored there).
std::thread start(std::function<void()> work);

// Takes the SIGPIPE that a write to a reader who left raised on this thread, where it is
// blocked, so that it never reaches the process.
void discardSigpipe();

} // namespace WriterQueueThread

template <typename Item> class WriterQueue
{
public:
    // Writes one item, on the queue's thread and without its lock: true when written, false
    // when the output refused it, which counts it as dropped.
    using Write = std::function<bool(Item& item)>;
    // Says how many items were dropped for want of room since it last said so; on the queue's
    // thread, once what was handed over before the drops is written.
    using Lost = std::function<void(quint64 items)>;

    WriterQueue(qint64 limit, Write write, Lost lost = {})
        : limit(limit), write(std::move(write)), lost(std::move(lost))
    {
        thread = WriterQueueThread::start([this] { run(); });
    }
    // Writes everything handed over, then ends the thread.
    ~WriterQueue()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ending = true;
        }
        changed.notify_all();
        thread.join();
    }
    WriterQueue(const WriterQueue&) = delete;
    WriterQueue& operator=(const WriterQueue&) = delete;

    // Any thread; never waits for the output. False when the item did not fit and was dropped.
    bool push(Item item, qint64 amount) { return hand(std::move(item), amount, nullptr); }
    // Takes the place of the last item waiting when `replaces` says it may (a status line that
    // was not written yet); otherwise as push.
    bool pushOrReplace(Item item, qint64 amount, const std::function<bool(const Item&)>& replaces)
    {
        return hand(std::move(item), amount, &replaces);
    }
    // Waits for room instead of dropping, for what must not be lost once the work is done (a
    // summary): never on a thread that keeps time. An item larger than the limit goes in once
    // nothing else waits.
    void pushWaiting(Item item, qint64 amount)
    {
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return queued == 0 || queued + amount <= limit; });
            queued += amount;
            items.push_back(Entry{std::move(item), amount});
        }
        changed.notify_all();
    }
    // Waits until everything handed over so far is written, or timeoutMs passed (never when
    // negative); true when it all was.
    bool flush(int timeoutMs = -1)
    {
        std::unique_lock<std::mutex> lock(mutex);
        const auto done = [this] { return items.empty() && !writing && lostSinceSaid == 0; };
        if (timeoutMs < 0) {
            changed.wait(lock, done);
            return true;
        }
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
    }

    // Items, and their units, dropped for want of room or refused by the output.
    quint64 droppedItems() const { return dropped.load(std::memory_order_relaxed); }
    qint64 droppedAmount() const { return droppedUnits.load(std::memory_order_relaxed); }

private:
    struct Entry
    {
        Item item;
        qint64 amount;
    };

    bool hand(Item item, qint64 amount, const std::function<bool(const Item&)>* replaces)
    {
        bool accepted = true;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            const bool replacing = replaces && !items.empty() && (*replaces)(items.back().item);
            const qint64 freed = replacing ? items.back().amount : 0;
            if (queued - freed + amount > limit) {
                dropped.fetch_add(1, std::memory_order_relaxed);
                droppedUnits.fetch_add(amount, std::memory_order_relaxed);
                ++lostSinceSaid;
                accepted = false;
            } else if (replacing) {
                queued += amount - freed;
                items.back() = Entry{std::move(item), amount};
            } else {
                queued += amount;
                items.push_back(Entry{std::move(item), amount});
            }
        }
        changed.notify_all();
        return accepted;
    }

    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return !items.empty() || lostSinceSaid > 0 || ending; });
            if (items.empty() && lostSinceSaid == 0)
                return;
            const bool have = !items.empty();
            Entry entry{Item(), 0};
            if (have) {
                entry = std::move(items.front());
                items.pop_front();
            }
            // Said where the drops happened in the stream: after what was handed over before.
            const quint64 lostNow = items.empty() ? std::exchange(lostSinceSaid, 0) : 0;
            writing = true;
            lock.unlock();
            const bool written = !have || write(entry.item);
            if (lostNow > 0 && lost)
                lost(lostNow);
            lock.lock();
            writing = false;
            queued -= entry.amount;
            if (!written) {
                dropped.fetch_add(1, std::memory_order_relaxed);
                droppedUnits.fetch_add(entry.amount, std::memory_order_relaxed);
            }
            changed.notify_all();
        }
    }

    const qint64 limit;
    const Write write;
    const Lost lost;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Entry> items;
    qint64 queued = 0;         // units handed over and not yet written
    quint64 lostSinceSaid = 0; // dropped for want of room since `lost` was last called
    bool writing = false;
    bool ending = false;
    std::atomic<quint64> dropped{0};
    std::atomic<qint64> droppedUnits{0};
    std::thread thread;
};
