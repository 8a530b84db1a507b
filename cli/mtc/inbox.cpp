#include "mtc/inbox.h"

#include <algorithm>
#include <chrono>

namespace Mtc {

Inbox::Inbox(int limit) : limit(size_t(limit)) {}

void Inbox::push(const quint8* bytes, size_t size, qint64 arrivalNs)
{
    InboxMessage message;
    const size_t kept = std::min(size, size_t(InboxMessage::kKept));
    std::copy(bytes, bytes + kept, message.bytes);
    message.size = int(kept);
    message.arrivalNs = arrivalNs;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (queue.size() >= limit) {
            ++droppedCount;
            return;
        }
        queue.push_back(message);
    }
    arrived.notify_one();
}

bool Inbox::take(InboxMessage* message, qint64 deadlineNs)
{
    std::unique_lock<std::mutex> lock(mutex);
    const std::chrono::steady_clock::time_point deadline{std::chrono::nanoseconds(deadlineNs)};
    if (!arrived.wait_until(lock, deadline, [this] { return !queue.empty(); }))
        return false;
    *message = queue.front();
    queue.pop_front();
    return true;
}

} // namespace Mtc
