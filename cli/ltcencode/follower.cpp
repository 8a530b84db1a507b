#include "ltcencode/follower.h"

#include "framepacer.h"

#include "artnet.h"

#include <chrono>
#include <csignal>
#include <pthread.h>

namespace Follow {

namespace {

std::chrono::steady_clock::time_point steadyTime(qint64 ns)
{
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
}

} // namespace

void keepStopSignalsAway()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
}

Follower::Follower(const Settings& settings, Deliver deliver, Tell tell)
    : settings(settings), deliver(std::move(deliver)), tell(std::move(tell))
{
}

Follower::~Follower()
{
    stop();
}

void Follower::start()
{
    scheduler = std::make_unique<Scheduler>(settings, artNetNowNs());
    thread = std::thread(&Follower::run, this);
}

void Follower::stop()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    woken.notify_one();
    if (thread.joinable())
        thread.join();
}

void Follower::arrived(const TimecodeRecord& record, qint64 arrivalNs)
{
    Notice notice;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!scheduler)
            return;
        notice = scheduler->arrived(record, arrivalNs);
    }
    woken.notify_one();
    if (notice.kind != Notice::None)
        tell(notice);
}

Progress Follower::progress()
{
    const std::lock_guard<std::mutex> lock(mutex);
    Progress now = done;
    if (scheduler) {
        now.locked = scheduler->locked();
        now.lost = scheduler->lost();
    }
    return now;
}

void Follower::run()
{
    keepStopSignalsAway();
    // The thread that keeps time: a priority asked for by the main thread is not inherited.
    preferPromptWakeups();
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        Notice notice;
        const Block block = scheduler->next(artNetNowNs(), &notice);
        if (notice.kind != Notice::None) {
            lock.unlock();
            tell(notice);
            lock.lock();
        }
        if (block.kind == Block::Wait) {
            // An arrival may make the frame due at once.
            woken.wait_until(lock, steadyTime(block.startNs));
            continue;
        }
        if (block.kind == Block::Frame) {
            ++done.frames;
            done.freewheeled += block.freewheel ? 1 : 0;
            done.last = block.record;
        }
        lock.unlock();
        deliver(block);
        lock.lock();
    }
}

} // namespace Follow
