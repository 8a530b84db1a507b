#include "ltcencode/followaudio.h"
#include "ltc/ltcencoder.h"
#include "ltc/pcmoutput.h"

#include "artnet.h"
#include "framepacer.h"

#include <chrono>
#include <csignal>
#include <pthread.h>

namespace Follow {

namespace {

// SIGINT and SIGTERM go to the main thread, which ends the run; a write or wait of these
// threads is never cut short by them.
void keepStopSignalsAway()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
}

std::chrono::steady_clock::time_point steadyTime(qint64 ns)
{
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
}

} // namespace

std::vector<qint16> fitLength(const std::vector<qint16>& samples, qint64 length)
{
    const qint64 count = qint64(samples.size());
    if (count == length || count == 0)
        return count == 0 ? std::vector<qint16>(size_t(length), 0) : samples;
    std::vector<qint16> fitted(static_cast<size_t>(length));
    // Sample i of the result is the one of the frame nearest the same share of its length.
    for (qint64 i = 0; i < length; ++i)
        fitted[size_t(i)] = samples[size_t((2 * i * count + count) / (2 * length))];
    return fitted;
}

SampleWriter::SampleWriter(Pcm::SampleSink& sink, qint64 limit)
    : sink(sink), queue(limit, [this](std::vector<qint16>& samples) {
          if (failed.load())
              return false;
          if (this->sink.write(samples.data(), int(samples.size())) != Pcm::SampleSink::Written)
              failed = true;
          return !failed.load();
      })
{
}

SampleWriter::~SampleWriter() = default;

bool SampleWriter::push(std::vector<qint16> samples)
{
    const qint64 count = qint64(samples.size());
    return queue.push(std::move(samples), count);
}

FollowAudio::FollowAudio(const Settings& settings, double levelDb, Deliver deliver, Tell tell)
    : settings(settings), levelDb(levelDb), deliver(std::move(deliver)), tell(std::move(tell))
{
}

FollowAudio::~FollowAudio()
{
    stop();
}

void FollowAudio::start()
{
    scheduler = std::make_unique<Scheduler>(settings, artNetNowNs());
    thread = std::thread(&FollowAudio::run, this);
}

void FollowAudio::stop()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    woken.notify_one();
    if (thread.joinable())
        thread.join();
}

void FollowAudio::arrived(const TimecodeRecord& record, qint64 arrivalNs)
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

Progress FollowAudio::progress()
{
    const std::lock_guard<std::mutex> lock(mutex);
    Progress now = done;
    if (scheduler) {
        now.locked = scheduler->locked();
        now.lost = scheduler->lost();
    }
    return now;
}

std::vector<qint16> FollowAudio::encode(const Block& block)
{
    if (block.kind != Block::Frame)
        return std::vector<qint16>(size_t(block.samples), 0);
    // The rate and the drop-frame flag are the Type's: a sender that changes it gets a new
    // encoder.
    if (!encoder || encoderType != block.record.type) {
        encoder = std::make_unique<LtcEncoder>(block.record.type, settings.sampleRate, levelDb);
        encoderType = block.record.type;
    }
    std::vector<qint16> samples;
    encoder->encode(block.record, &samples);
    return fitLength(samples, block.samples);
}

void FollowAudio::run()
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
        // Encoding and handing over run without the lock, so an arrival never waits for them.
        lock.unlock();
        deliver(block, encode(block));
        lock.lock();
    }
}

} // namespace Follow
