#include "mtc/messagewriter.h"

#include <chrono>
#include <csignal>
#include <pthread.h>
#include <sched.h>

namespace Mtc {

namespace {

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::chrono::steady_clock::time_point steadyTime(qint64 ns)
{
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
}

} // namespace

MessageWriter::MessageWriter(Send send, int limit) : send(std::move(send)), limit(size_t(limit))
{
    // SIGINT and SIGTERM go to the main thread, which ends the run: blocked before the thread
    // starts, which inherits the mask, then restored.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &stops, &before);
    thread = std::thread(&MessageWriter::run, this);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

MessageWriter::~MessageWriter()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        ending = true;
    }
    changed.notify_one();
    thread.join();
}

bool MessageWriter::push(const std::vector<TimedMessage>& messages)
{
    bool all = true;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        for (const TimedMessage& message : messages) {
            if (queue.size() >= limit) {
                ++droppedCount;
                all = false;
                continue;
            }
            queue.push_back(message);
        }
    }
    changed.notify_one();
    return all;
}

void MessageWriter::run()
{
    // The thread that keeps time: the lowest real-time priority where the system grants it, as
    // the frame pacer asks for (a priority is not inherited from the thread that asked).
    sched_param priority{};
    priority.sched_priority = sched_get_priority_min(SCHED_FIFO);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return ending || !queue.empty(); });
        if (queue.empty())
            return;
        const qint64 due = queue.front().dueNs;
        if (nowNs() < due) {
            // Messages come in the order they are due: the first decides how long to sleep.
            changed.wait_until(lock, steadyTime(due));
            continue;
        }
        const TimedMessage message = queue.front();
        queue.pop_front();
        lock.unlock();
        send(message.bytes, message.size);
        lateNs = nowNs() - message.dueNs;
        ++sentCount;
        lock.lock();
    }
}

} // namespace Mtc
