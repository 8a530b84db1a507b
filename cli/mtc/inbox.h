// MIDI messages handed from the thread the MIDI input calls back on (the JACK process thread, or
// RtMidi's ALSA thread) to the thread that acts on them, each with its arrival on the steady
// clock. The input's thread never waits for the other, nor for the memory allocator (a JACK
// client late for its period loses the period's messages): the messages go into a ring laid out
// beforehand, and a full ring drops and counts.
#pragma once

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace Mtc {

struct InboxMessage
{
    // MTC's messages are at most ten bytes: a longer one, kept as its first kKept bytes, is
    // still too long for one.
    static constexpr int kKept = 16;
    quint8 bytes[kKept] = {};
    int size = 0;
    qint64 arrivalNs = 0;
};

class Inbox
{
public:
    explicit Inbox(int limit);

    // Any thread; never waits for the reader.
    void push(const quint8* bytes, size_t size, qint64 arrivalNs);

    // The next message, waiting for one until deadlineNs on the steady clock; false when none
    // came by then.
    bool take(InboxMessage* message, qint64 deadlineNs);

    qint64 dropped() const { return droppedCount.load(); }

private:
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<InboxMessage> ring;
    size_t first = 0; // the oldest message's place in the ring
    size_t count = 0;
    std::atomic<qint64> droppedCount{0};
};

} // namespace Mtc
