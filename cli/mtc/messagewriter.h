// MIDI messages sent at their moments from a thread of their own: the one thread of an MTC
// writer that sleeps on the clock. Whoever works out the messages hands them over under a short
// lock and never waits for a send; a queue that is full drops what comes, and counts it.
#pragma once

#include "mtc/mtcsequencer.h"

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Mtc {

class MessageWriter
{
public:
    // Sends one message; called on the writer's thread.
    using Send = std::function<void(const quint8* bytes, int size)>;

    // Holds at most `limit` messages waiting.
    MessageWriter(Send send, int limit);
    // Sends what waits, each at its moment, then ends the thread.
    ~MessageWriter();
    MessageWriter(const MessageWriter&) = delete;
    MessageWriter& operator=(const MessageWriter&) = delete;

    // Any thread; messages in the order they are due. False when some were dropped.
    bool push(const std::vector<TimedMessage>& messages);

    qint64 sent() const { return sentCount.load(); }
    qint64 dropped() const { return droppedCount.load(); }
    // How late the last message went out after its moment, in nanoseconds.
    qint64 lastLateNs() const { return lateNs.load(); }

private:
    void run();

    Send send;
    const size_t limit;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<TimedMessage> queue;
    bool ending = false;
    std::atomic<qint64> sentCount{0};
    std::atomic<qint64> droppedCount{0};
    std::atomic<qint64> lateNs{0};
    std::thread thread;
};

} // namespace Mtc
