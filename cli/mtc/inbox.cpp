#include "mtc/inbox.h"

#include <algorithm>
#include <chrono>

namespace Mtc {

Inbox::Inbox(int limit) : ring(size_t(limit)) {}

void Inbox::push(const quint8* bytes, size_t size, qint64 arrivalNs)
{
    InboxMessage message;
    const size_t kept = std::min(size, size_t(InboxMessage::kKept));
    std::copy(bytes, bytes + kept, message.bytes);
    message.size = int(kept);
    message.arrivalNs = arrivalNs;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (count == ring.size()) {
            ++droppedCount;
            return;
        }
        ring[(first + count) % ring.size()] = message;
        ++count;
    }
    arrived.notify_one();
}

bool Inbox::take(InboxMessage* message, qint64 deadlineNs)
{
    std::unique_lock<std::mutex> lock(mutex);
    const std::chrono::steady_clock::time_point deadline{std::chrono::nanoseconds(deadlineNs)};
    if (!arrived.wait_until(lock, deadline, [this] { return count > 0; }))
        return false;
    *message = ring[first];
    first = (first + 1) % ring.size();
    --count;
    return true;
}

} // namespace Mtc
