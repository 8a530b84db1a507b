// Emptying a datagram socket's queue in one go.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QUdpSocket>
#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace ArtNetReceive {

// Largest UDP payload over IPv4: any datagram the kernel hands over fits.
inline constexpr int kMaxDatagramSize = 65507;

// Reads one datagram into buffer (resized to kMaxDatagramSize) and hands it to
// handle(QByteArray& datagram, const QHostAddress& sender); only the bytes actually read are
// handed on. False when the read failed, the empty queue's or a socket error's.
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
    handle(datagram, sender);
    return true;
}

// Reads every pending datagram, one at a time, and hands each on in arrival order. A failed read,
// the empty queue's or a socket error's, ends the drain, so an error can never spin it forever.
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
// Reads a socket's queue with recvmmsg, many datagrams per system call. Every slot holds the
// largest UDP payload, so no datagram is ever cut short, and the slots, their headers and the
// sender address are made once and reused: a busy network costs no allocation per datagram.
// Only the pages a datagram is written to become resident, so the slots cost little memory
// while the datagrams are small.
class BatchReader
{
public:
    static constexpr int kBatch = 32;

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

    // Reads every pending datagram from descriptor and hands each to handle(QByteArray&
    // datagram, const QHostAddress& sender), in arrival order. Returns false if a read failed
    // for another reason than an empty queue; what was read before is handled all the same.
    // A batch that comes back short ends the drain without another call: whatever arrives
    // later wakes the reader again.
    template <typename Handle> bool drain(int descriptor, Handle&& handle)
    {
        for (;;) {
            for (int i = 0; i < kBatch; ++i)
                messages[i].msg_hdr.msg_namelen = sizeof senders[i];
            const int count = recvmmsg(descriptor, messages, kBatch, MSG_DONTWAIT, nullptr);
            if (count < 0) {
                if (errno == EINTR)
                    continue;
                return errno == EAGAIN || errno == EWOULDBLOCK;
            }
            for (int i = 0; i < count; ++i) {
                // Set in place: the address keeps its one allocation unless a handler kept a
                // copy of it.
                sender.setAddress(reinterpret_cast<const sockaddr*>(&senders[i]));
                QByteArray datagram = QByteArray::fromRawData(
                    static_cast<const char*>(vectors[i].iov_base), int(messages[i].msg_len));
                handle(datagram, sender);
            }
            if (count < kBatch)
                return true;
        }
    }

private:
    static constexpr size_t kSlotStride = 65536; // a page-aligned home for kMaxDatagramSize

    std::unique_ptr<char[]> storage;
    mmsghdr messages[kBatch]{};
    iovec vectors[kBatch]{};
    sockaddr_storage senders[kBatch]{};
    QHostAddress sender;
};
#endif

// Reads a socket's whole queue at every wakeup, by the fastest means the system offers: where
// recvmmsg exists, a whole burst per system call, where the socket's own reads take one call per
// datagram and a failing one, with its error text, to find the queue empty. Elsewhere, the
// socket's reads until one fails. Made with the socket and deleted with it: on Linux it holds
// the batch's slots.
class SocketReader
{
public:
    // Hands every pending datagram to handle(QByteArray& datagram, const QHostAddress& sender),
    // in arrival order. The datagram is a view of a reused buffer, valid during the call only.
    template <typename Handle> void read(QUdpSocket& socket, Handle&& handle)
    {
#ifdef Q_OS_LINUX
        // The socket's notifier watches the descriptor again only after a read through the
        // socket, so the first datagram of every wakeup is read that way. An empty queue
        // (someone else read it) or an error ends the wakeup there, recorded by the socket as
        // always; only the socket's notifier ever watches the descriptor.
        if (!readOneDatagram(socket, buffer, handle))
            return;
        // A real socket error: the socket's own reads record it and end the drain as they
        // always did.
        if (!batch.drain(int(socket.socketDescriptor()), handle))
            drainDatagrams(socket, buffer, handle);
#else
        drainDatagrams(socket, buffer, handle);
#endif
    }

private:
    // Reused by every read through the socket, so a busy network costs no allocation per
    // datagram.
    QByteArray buffer;
#ifdef Q_OS_LINUX
    BatchReader batch;
#endif
};

} // namespace ArtNetReceive
