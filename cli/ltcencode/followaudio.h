// The threads of ltc-encode --follow. Datagrams are received on the node's thread, which only
// hands each arrival over under a short lock; the LTC is worked out and encoded on the
// follower's thread (the audio thread), woken by an arrival or by the sample clock; and the
// samples reach standard output through a writer thread, the only one that waits for the reader
// (aplay, pw-play). A reader that stops taking them costs dropped samples, counted, never a late
// datagram or frame.
#pragma once

#include "ltcencode/follower.h"
#include "ltcencode/followschedule.h"

#include "writerqueue.h"

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class LtcEncoder;
namespace Pcm {
class SampleSink;
}

namespace Follow {

// The samples of one frame stretched or shortened to `length`: single samples repeated or left
// out, spread evenly, so that each bit keeps its shape and no edge moves by more than one sample.
std::vector<qint16> fitLength(const std::vector<qint16>& samples, qint64 length);

// Samples written to a sink on a thread of their own, through the queue every writer thread
// shares.
class SampleWriter
{
public:
    // Holds at most `limit` samples waiting; what comes beyond that is dropped.
    SampleWriter(Pcm::SampleSink& sink, qint64 limit);
    // Writes what waits, then ends the thread.
    ~SampleWriter();
    SampleWriter(const SampleWriter&) = delete;
    SampleWriter& operator=(const SampleWriter&) = delete;

    // Any thread; never waits for the sink. False when the samples were dropped.
    bool push(std::vector<qint16> samples);

    qint64 droppedSamples() const { return queue.droppedAmount(); }
    // The sink refused a write or its reader went away; nothing more is written.
    bool broken() const { return failed.load(); }

private:
    Pcm::SampleSink& sink;
    std::atomic<bool> failed{false};
    WriterQueue<std::vector<qint16>> queue; // last: its thread ends before the sink is let go
};

// The scheduler run on the follower's thread, its blocks encoded as LTC at levelDb dBFS.
class FollowAudio
{
public:
    // Every Frame or Silence block with its samples.
    using Deliver = std::function<void(const Block&, std::vector<qint16>&&)>;
    using Tell = Follower::Tell;

    FollowAudio(const Settings& settings, double levelDb, Deliver deliver, Tell tell);
    ~FollowAudio();
    FollowAudio(const FollowAudio&) = delete;
    FollowAudio& operator=(const FollowAudio&) = delete;

    // Starts the sample clock now and the thread.
    void start() { follower.start(); }
    // Ends the thread after the block in hand.
    void stop() { follower.stop(); }

    // Any thread: a datagram from the sender followed.
    void arrived(const TimecodeRecord& record, qint64 arrivalNs)
    {
        follower.arrived(record, arrivalNs);
    }

    Progress progress() { return follower.progress(); }

private:
    std::vector<qint16> encode(const Block& block);

    const Settings settings;
    const double levelDb;
    Deliver deliver;
    std::unique_ptr<LtcEncoder> encoder; // the audio thread's own
    quint8 encoderType = 0;
    Follower follower; // last: its thread uses the members above until it ends
};

} // namespace Follow
