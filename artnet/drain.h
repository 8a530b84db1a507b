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

// Where a datagram's arrival time comes from.
enum class ArrivalTimes {
    Kernel,   // the kernel's receive time stamp, where the system gives one (Linux)
    ReadTime, // the moment the datagram was read: every other system, and the comparison
};

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
// Room for the receive time stamp, the one control message the reader asks for.
inline constexpr size_t kControlSize = CMSG_SPACE(sizeof(timespec));

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
        offsetNs = steadyNowNs() - nanoseconds(realtime);
    }
    // The steady-clock time of the stamp in the message's control data, its only control
    // message; negative without one.
    qint64 arrival(const msghdr& message) const
    {
        const cmsghdr* c = CMSG_FIRSTHDR(&message);
        if (!c || c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS ||
            c->cmsg_len < CMSG_LEN(sizeof(timespec)))
            return -1;
        timespec stamp;
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        return nanoseconds(stamp) + offsetNs;
    }

private:
    static qint64 nanoseconds(const timespec& t)
    {
        return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    }
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

// Reads a socket's queue with recvmmsg, many datagrams per system call. Every slot holds the
// largest UDP payload, so no datagram is ever cut short, and the slots, their headers and the
// sender address are made once and reused: a busy network costs no allocation per datagram.
// Only the pages a datagram is written to become resident, so the slots cost little memory
// while the datagrams are small.
class BatchReader
{
public:
    static constexpr int kBatch = 32;

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
    // comes back short ends the drain without another call.
    template <typename Handle>
    Drain drain(int descriptor, const StampConverter* stamps, Handle&& handle)
    {
        const bool stamped = stamps != nullptr;
        for (;;) {
            for (int i = 0; i < kBatch; ++i) {
                messages[i].msg_hdr.msg_namelen = sizeof senders[i];
                messages[i].msg_hdr.msg_control = stamped ? controls[i] : nullptr;
                messages[i].msg_hdr.msg_controllen = stamped ? kControlSize : 0;
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
                qint64 arrivalNs = readNs;
                if (stamped) {
                    arrivalNs = stamps->arrival(messages[i].msg_hdr);
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

private:
    static constexpr size_t kSlotStride = 65536; // a page-aligned home for kMaxDatagramSize

    std::unique_ptr<char[]> storage;
    mmsghdr messages[kBatch]{};
    iovec vectors[kBatch]{};
    sockaddr_storage senders[kBatch]{};
    alignas(cmsghdr) char controls[kBatch][kControlSize]{};
    QHostAddress sender;
};
#endif

// Reads a socket's whole queue at every wakeup, by the fastest means the system offers: where
// recvmmsg exists, a whole burst per system call, with the kernel's receive time stamp of every
// datagram; where the socket's own reads take one call per datagram and a failing one, with its
// error text, to find the queue empty, and give the time of the read. Elsewhere, the socket's
// reads until one fails. Made with the socket and deleted with it: on Linux it holds the
// batch's slots.
class SocketReader
{
public:
    explicit SocketReader(ArrivalTimes times = ArrivalTimes::Kernel) : times(times) {}

    // Sets the socket up for the arrival times asked for, once it is bound. Where the kernel
    // gives no stamps, the time of the read stands in.
    void prepare(QUdpSocket& socket)
    {
#ifdef Q_OS_LINUX
        const int descriptor = int(socket.socketDescriptor());
        // Qt asks for every datagram's destination address and hop limit, which the kernel then
        // prepares for every read; nothing here reads them.
        const int off = 0;
        setsockopt(descriptor, IPPROTO_IP, IP_PKTINFO, &off, sizeof off);
        setsockopt(descriptor, IPPROTO_IP, IP_RECVTTL, &off, sizeof off);
        if (times == ArrivalTimes::Kernel && !enableKernelStamps(descriptor))
            times = ArrivalTimes::ReadTime;
#else
        Q_UNUSED(socket);
        times = ArrivalTimes::ReadTime;
#endif
    }

    ArrivalTimes arrivalTimes() const
    {
        return times;
    }

    // Hands every pending datagram on in arrival order, until the queue is empty or the handler
    // ends the drain. The datagram is a view of a reused buffer and the sender a reused address,
    // both valid during the call only.
    template <typename Handle> void read(QUdpSocket& socket, Handle&& handle)
    {
#ifdef Q_OS_LINUX
        using Drain = BatchReader::Drain;
        const int descriptor = int(socket.socketDescriptor());
        // The socket's notifier watches the descriptor again only after a read through the
        // socket, so every wakeup reads through it once; only the socket's notifier ever
        // watches the descriptor. An empty queue (someone else read it) or an error ends the
        // wakeup there, recorded by the socket as always.
        if (times == ArrivalTimes::Kernel) {
            // The socket's reads carry no control data, so theirs is the last read of a wakeup,
            // which finds the queue empty. A datagram it does find arrived after the batch read
            // before it began: given the time of its read, it is off by the microseconds
            // between the two reads, and the next batch follows.
            const StampConverter stamps;
            for (;;) {
                const Drain drained = batch.drain(descriptor, &stamps, handle);
                if (drained == Drain::Stopped)
                    return;
                // A real socket error: the socket's own reads record it and end the drain as
                // they always did.
                if (drained == Drain::Failed) {
                    drainDatagrams(socket, buffer, handle);
                    return;
                }
                if (!readOneDatagram(socket, buffer, handle))
                    return;
            }
        }
        if (!readOneDatagram(socket, buffer, handle))
            return;
        if (batch.drain(descriptor, nullptr, handle) == Drain::Failed)
            drainDatagrams(socket, buffer, handle);
#else
        drainDatagrams(socket, buffer, handle);
#endif
    }

private:
    ArrivalTimes times;
    // Reused by every read through the socket, so a busy network costs no allocation per
    // datagram.
    QByteArray buffer;
#ifdef Q_OS_LINUX
    BatchReader batch;
#endif
};

} // namespace ArtNetReceive
