// The thread that runs the follow schedule for every output that follows ArtTimeCode (LTC
// audio for ltc-encode --follow, MIDI timecode for mtc-encode --follow). Datagrams are received
// on the node's thread, which only hands each arrival over under a short lock; this thread asks
// the scheduler for the next block, sleeps until it is due or a datagram arrives, and hands each
// Frame or Silence block to the output outside the lock, so an arrival never waits for the
// output's work.
#pragma once

#include "ltcencode/followschedule.h"

#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace Follow {

struct Progress
{
    qint64 frames = 0;
    qint64 freewheeled = 0;
    TimecodeRecord last; // the time of the last frame handed out
    bool locked = false;
    bool lost = false;
};

class Follower
{
public:
    // Every Frame or Silence block, on the follower's thread.
    using Deliver = std::function<void(const Block&)>;
    // A loss or a return, said from whichever thread found it.
    using Tell = std::function<void(const Notice&)>;

    Follower(const Settings& settings, Deliver deliver, Tell tell);
    ~Follower();
    Follower(const Follower&) = delete;
    Follower& operator=(const Follower&) = delete;

    // Starts the output's clock now, and the thread.
    void start();
    // Ends the thread after the block in hand.
    void stop();

    // Any thread: a datagram from the sender followed.
    void arrived(const TimecodeRecord& record, qint64 arrivalNs);

    Progress progress();

private:
    void run();

    const Settings settings;
    Deliver deliver;
    Tell tell;
    std::mutex mutex;
    std::condition_variable woken;
    std::unique_ptr<Scheduler> scheduler;
    bool stopping = false;
    Progress done;
    std::thread thread;
};

// The threads of a follower start with SIGINT and SIGTERM blocked: they go to the main thread,
// which ends the run; a write or wait of these threads is never cut short by them.
void keepStopSignalsAway();

} // namespace Follow
