// Emptying a datagram socket's queue in one go, each datagram with the time it arrived.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QUdpSocket>
#include <QtGlobal>

#include <chrono>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace ArtNetReceive {

// Largest UDP payload over IPv4: any datagram the kernel hands over fits.
inline constexpr int kMaxDatagramSize = 65507;

// Arrival times are nanoseconds on std::chrono::steady_clock, which no change of the wall clock
// moves.
inline qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// How many milliseconds a wakeup at nowNs waits before it reads, for a reader that keeps its
// reads intervalNs apart and last read at lastReadNs (negative: not yet): none once the
// interval has passed, else the rest of it rounded up, since the event loop's timers count
// whole milliseconds. None for an interval of 0, and none for a last read that lies ahead.
inline int readDelayMs(qint64 lastReadNs, qint64 nowNs, qint64 intervalNs)
{
    if (intervalNs <= 0 || lastReadNs < 0 || nowNs < lastReadNs)
        return 0;
    const qint64 since = nowNs - lastReadNs;
    if (since >= intervalNs)
        return 0;
    return int((intervalNs - since + 999'999) / 1'000'000);
}

// A handler is called as handle(QByteArray& datagram, const QHostAddress& sender, qint64
// arrivalNs) and returns whether the drain may go on: false once the socket it reads is no
// longer the one to read (its owner closed it from inside the call).

// Reads one datagram into buffer (resized to kMaxDatagramSize) and hands it on with the time of
// the read; only the bytes actually read are handed on. False when the read failed (the empty
// queue's or a socket error's) or the handler ended the drain.
template <typename Socket, typename Handle>
bool readOneDatagram(Socket& socket, QByteArray& buffer, Handle&& handle)
{
    if (buffer.size() != kMaxDatagramSize)
        buffer.resize(kMaxDatagramSize);
    QHostAddress sender;
    const qint64 size = socket.readDatagram(buffer.data(), kMaxDatagramSize, &sender);
    if (size < 0)
        return false;
    QByteArray datagram = QByteArray::fromRawData(buffer.constData(), int(size));
    return handle(datagram, sender, steadyNowNs());
}

// Reads every pending datagram, one at a time, and hands each on in arrival order with the time
// it was read. A failed read, the empty queue's or a socket error's, ends the drain, so an error
// can never spin it forever.
template <typename Socket, typename Handle>
void drainDatagrams(Socket& socket, QByteArray& buffer, Handle&& handle)
{
    // Reading until a read fails costs one system call per datagram; asking for a pending
    // datagram first costs two. The failing read at the end builds an error text, yet measured
    // on loopback it stays the cheaper way even at one datagram per wakeup (bench_receive).
    while (readOneDatagram(socket, buffer, handle)) {
    }
}

#ifdef Q_OS_LINUX
// Room for the two control messages the reader asks for: the receive time stamp and the
// socket's count of dropped datagrams.
inline constexpr size_t kControlSize = CMSG_SPACE(sizeof(timespec)) + CMSG_SPACE(sizeof(quint32));

// What a datagram's control data carries, each -1 where it is missing.
struct ArrivalControl
{
    qint64 stampNs = -1; // the kernel's receive time stamp, nanoseconds on CLOCK_REALTIME
    qint64 drops = -1;   // datagrams the socket had dropped when this one was queued
};

// Reads the receive time stamp (SO_TIMESTAMPNS) and the drop count (SO_RXQ_OVFL) from a
// received message's control data; a message cut short or of another kind is passed over. The
// kernel adds the drop count only once the socket has dropped something, and writes both before
// any control message of the IP level, which may then not fit.
inline ArrivalControl readArrivalControl(const msghdr& message)
{
    ArrivalControl control;
    for (const cmsghdr* c = CMSG_FIRSTHDR(&message); c;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&message), const_cast<cmsghdr*>(c))) {
        if (c->cmsg_level != SOL_SOCKET)
            continue;
        if (c->cmsg_type == SCM_TIMESTAMPNS && c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
            timespec stamp;
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            control.stampNs = qint64(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec;
        } else if (c->cmsg_type == SO_RXQ_OVFL && c->cmsg_len >= CMSG_LEN(sizeof(quint32))) {
            quint32 drops;
            std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
            control.drops = drops;
        }
    }
    return control;
}

// The kernel stamps arrivals on CLOCK_REALTIME. Taken to the steady clock by the two clocks'
// difference, read once per wakeup: a step of the wall clock moves only the arrivals of the
// wakeup it falls into.
class StampConverter
{
public:
    StampConverter()
    {
        timespec realtime{};
        clock_gettime(CLOCK_REALTIME, &realtime);
        offsetNs = steadyNowNs() - (qint64(realtime.tv_sec) * 1'000'000'000 + realtime.tv_nsec);
    }
    // The steady-clock time of a stamp on CLOCK_REALTIME; negative without one.
    qint64 arrival(qint64 stampNs) const { return stampNs < 0 ? -1 : stampNs + offsetNs; }

private:
    qint64 offsetNs = 0;
};

// Asks the kernel to stamp every datagram the socket receives; false where it refuses. Asked by
// the system's first stamping socket, the kernel switches stamping on a moment later and stamps
// a datagram that arrived before then as it is read.
inline bool enableKernelStamps(int descriptor)
{
    const int on = 1;
    return setsockopt(descriptor, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0;
}

// Asks the kernel to tell, with every datagram, how many the socket dropped for want of room.
inline bool enableDropCount(int descriptor)
{
    const int on = 1;
    return setsockopt(descriptor, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) == 0;
}

// Reads a socket's queue with recvmmsg, many datagrams per system call. Every slot holds the
// largest UDP payload, so no datagram is ever cut short, and the slots, their headers and the
// sender address are made once and reused: a busy network costs no allocation per datagram.
// Only the pages a datagram is written to become resident, so the slots cost little memory
// while the datagrams are small.
class BatchReader
{
public:
    static constexpr int kBatch = 64;

    enum class Drain {
        Emptied, // the queue was found empty
        Stopped, // the handler ended the drain
        Failed,  // a read failed for another reason than an empty queue
    };

    BatchReader() : storage(new char[size_t(kBatch) * kSlotStride])
    {
        for (int i = 0; i < kBatch; ++i) {
            vectors[i].iov_base = storage.get() + size_t(i) * kSlotStride;
            vectors[i].iov_len = kMaxDatagramSize;
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_name = &senders[i];
        }
    }

    // Reads every pending datagram from descriptor and hands each on in arrival order, with its
    // kernel stamp taken through stamps where one is given and carried, with the time of the
    // read otherwise. What was read before a failing read is handled all the same. A batch that
    // comes back short ends the drain without another call. The socket's drop count, where a
    // datagram carries one, is kept in drops().
    template <typename Handle>
    Drain drain(int descriptor, const StampConverter* stamps, Handle&& handle)
    {
        const bool stamped = stamps != nullptr;
        for (;;) {
            for (int i = 0; i < kBatch; ++i) {
                messages[i].msg_hdr.msg_namelen = sizeof senders[i];
                messages[i].msg_hdr.msg_control = controls[i];
                messages[i].msg_hdr.msg_controllen = kControlSize;
            }
            const int count = recvmmsg(descriptor, messages, kBatch, MSG_DONTWAIT, nullptr);
            if (count < 0) {
                if (errno == EINTR)
                    continue;
                return errno == EAGAIN || errno == EWOULDBLOCK ? Drain::Emptied : Drain::Failed;
            }
            const qint64 readNs = stamped ? -1 : steadyNowNs();
            for (int i = 0; i < count; ++i) {
                // Set in place: the address keeps its one allocation unless a handler kept a
                // copy of it.
                sender.setAddress(reinterpret_cast<const sockaddr*>(&senders[i]));
                QByteArray datagram = QByteArray::fromRawData(
                    static_cast<const char*>(vectors[i].iov_base), int(messages[i].msg_len));
                const ArrivalControl control = readArrivalControl(messages[i].msg_hdr);
                if (control.drops > droppedCount)
                    droppedCount = control.drops;
                qint64 arrivalNs = readNs;
                if (stamped) {
                    arrivalNs = stamps->arrival(control.stampNs);
                    if (arrivalNs < 0)
                        arrivalNs = steadyNowNs();
                }
                if (!handle(datagram, sender, arrivalNs))
                    return Drain::Stopped;
            }
            if (count < kBatch)
                return Drain::Emptied;
        }
    }

    // The highest drop count a datagram carried: what the socket dropped up to its arrival.
    qint64 drops() const { return droppedCount; }
    // A new socket counts from 0.
    void forgetDrops() { droppedCount = 0; }

private:
    static constexpr size_t kSlotStride = 65536; // a page-aligned home for kMaxDatagramSize

    std::unique_ptr<char[]> storage;
    mmsghdr messages[kBatch]{};
    iovec vectors[kBatch]{};
    sockaddr_storage senders[kBatch]{};
    alignas(cmsghdr) char controls[kBatch][kControlSize]{};
    QHostAddress sender;
    qint64 droppedCount = 0;
};
#endif

} // namespace ArtNetReceive
