#include "nodesocket.h"

#include <QSocketNotifier>
#include <QUdpSocket>
#include <QVariant>

#ifdef CHRONOLUME_OWN_DESCRIPTOR
#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>
#endif
#ifdef Q_OS_UNIX
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace ArtNetReceive {

namespace {

// The kernel doubles this and caps it at net.core.rmem_max. The default buffer holds only a
// few hundred ArtDmx datagrams, which a busy controller overruns in a burst.
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

} // namespace

#ifdef CHRONOLUME_OWN_DESCRIPTOR

DescriptorSocket::DescriptorSocket(quint16 port, bool stamps, quint32 address)
    : port(port), wantStamps(stamps), address(address)
{
    pace.setSingleShot(true);
    pace.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pace, &QTimer::timeout, &notifiers, [this] { paced(); });
}

DescriptorSocket::~DescriptorSocket()
{
    close();
}

// A bound, non-blocking IPv4 socket on port, or -1. IPv4 only: a dual-stack socket reports
// senders as ::ffff:a.b.c.d, which never equals the IPv4 address of the same sender.
int DescriptorSocket::bound(bool share)
{
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    const int on = 1;
    if (share)
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = htonl(address);
    if (bind(s, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

bool DescriptorSocket::open(bool share, std::function<void()> readyCall)
{
    if (fd >= 0)
        return true;
    // Alone if nobody holds the port, else shared like everyone else's.
    fd = share ? bound(true) : bound(false);
    if (fd < 0 && !share)
        fd = bound(true);
    if (fd < 0)
        return false;
    ++opens;
    const int on = 1;
    // Broadcast addresses are where ArtPoll and the repeats go.
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
    stamping = wantStamps && enableKernelStamps(fd);
    enableDropCount(fd);
    batch.forgetDrops();
    ready = std::move(readyCall);
    lastReadNs = -1;
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &notifiers);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [this] { woken(); });
    return true;
}

void DescriptorSocket::setReadInterval(int milliseconds)
{
    readIntervalNs = qint64(qMax(0, milliseconds)) * 1'000'000;
    // Without an interval nothing may wait for the timer: the notifier wakes the node at once
    // for whatever waits.
    if (readIntervalNs == 0 && pace.isActive()) {
        pace.stop();
        if (notifier)
            notifier->setEnabled(true);
    }
}

void DescriptorSocket::callReady()
{
    // A copy: the call may close and reopen this socket, which replaces ready.
    const std::function<void()> call = ready;
    if (call)
        call();
}

void DescriptorSocket::woken()
{
    if (fd < 0 || !notifier)
        return;
    if (readIntervalNs > 0) {
        const qint64 now = steadyNowNs();
        const int delayMs = readDelayMs(lastReadNs, now, readIntervalNs);
        if (delayMs > 0) {
            // Level-triggered, the notifier would wake the loop again at once.
            notifier->setEnabled(false);
            pace.start(delayMs);
            return;
        }
        lastReadNs = now;
    }
    callReady();
}

void DescriptorSocket::paced()
{
    if (fd < 0)
        return;
    const quint64 generation = opens;
    const quint64 before = handedOn;
    lastReadNs = steadyNowNs();
    callReady();
    // Closed, or closed and opened again, from inside the call: the new socket starts afresh.
    if (fd < 0 || generation != opens)
        return;
    // Datagrams still coming: the next read after another interval. A read that found none
    // hands the socket back to the notifier, which wakes at the next datagram.
    if (handedOn != before && readIntervalNs > 0)
        pace.start(int(readIntervalNs / 1'000'000));
    else
        notifier->setEnabled(true);
}

void DescriptorSocket::close()
{
    if (fd < 0)
        return;
    pace.stop();
    // Nothing may watch a descriptor that is closed: its number comes back with the next socket.
    notifier->setEnabled(false);
    // Closed from inside its own wakeup, the notifier goes once that has returned.
    notifier->deleteLater();
    notifier = nullptr;
    earlierDrops += quint64(batch.drops());
    batch.forgetDrops();
    ::close(fd);
    fd = -1;
}

void DescriptorSocket::drain(const Receive& receive)
{
    if (fd < 0)
        return;
    const quint64 generation = opens;
    const StampConverter stamps;
    const auto handle = [&](QByteArray& datagram, const QHostAddress& sender, qint64 arrivalNs) {
        ++handedOn;
        return receive(datagram.constData(), int(datagram.size()), sender, arrivalNs) &&
               generation == opens && fd >= 0;
    };
    // An error other than an empty queue (an ICMP error queued on the socket) ends this wakeup;
    // the notifier wakes the next.
    batch.drain(fd, stamping ? &stamps : nullptr, handle);
}

qint64 DescriptorSocket::send(const char* data, int size, const QHostAddress& to, quint16 toPort)
{
    return artNetSendTo(fd, data, size, to, toPort);
}

quint64 DescriptorSocket::kernelDrops() const
{
    return earlierDrops + quint64(batch.drops());
}

#endif

PortableSocket::PortableSocket(quint16 port, const QHostAddress& address)
    : port(port), address(address)
{
}

PortableSocket::~PortableSocket()
{
    close();
}

bool PortableSocket::open(bool share, std::function<void()> ready)
{
    if (socket)
        return true;
    socket = new QUdpSocket;
    // IPv4 only: a dual-stack socket reports senders as ::ffff:a.b.c.d, which never equals
    // the IPv4 address of the same sender.
    const QAbstractSocket::BindMode shared =
        QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
    bool bound;
    if (share) {
        bound = socket->bind(address, port, shared);
    } else {
        bound = socket->bind(address, port) || socket->bind(address, port, shared);
    }
    if (!bound) {
        delete socket;
        socket = nullptr;
        return false;
    }
    ++opens;
    // Only takes effect once bound.
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBufferBytes);
    QObject::connect(socket, &QUdpSocket::readyRead, socket, std::move(ready));
    return true;
}

void PortableSocket::close()
{
    if (!socket)
        return;
    socket->disconnect();
    socket->close();
    // Closed from inside its own readyRead, the socket goes once that has returned.
    if (draining)
        socket->deleteLater();
    else
        delete socket;
    socket = nullptr;
}

void PortableSocket::drain(const Receive& receive)
{
    if (!socket)
        return;
    QUdpSocket* const from = socket;
    const quint64 generation = opens;
    draining = true;
    drainDatagrams(
        *from, buffer, [&](QByteArray& datagram, const QHostAddress& sender, qint64 arrivalNs) {
            return receive(datagram.constData(), int(datagram.size()), sender, arrivalNs) &&
                   generation == opens && socket == from;
        });
    draining = false;
}

qint64 PortableSocket::send(const char* data, int size, const QHostAddress& to, quint16 port)
{
    if (!socket)
        return -1;
    return socket->writeDatagram(data, size, to, port);
}

int PortableSocket::descriptor() const
{
    return socket ? int(socket->socketDescriptor()) : -1;
}

std::unique_ptr<ArtNetTransport> makeNodeSocket()
{
#ifdef CHRONOLUME_OWN_DESCRIPTOR
    return std::make_unique<DescriptorSocket>();
#else
    return std::make_unique<PortableSocket>();
#endif
}

} // namespace ArtNetReceive

#ifdef Q_OS_UNIX
qint64 artNetSendTo(int descriptor, const char* data, int size, const QHostAddress& to,
                    quint16 port)
{
    if (descriptor < 0)
        return -1;
    bool isIpv4 = false;
    const quint32 ipv4 = to.toIPv4Address(&isIpv4);
    if (!isIpv4)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(ipv4);
    for (;;) {
        const ssize_t sent = ::sendto(descriptor, data, size_t(size), 0,
                                      reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (sent >= 0 || errno != EINTR)
            return sent;
    }
}
#endif

std::unique_ptr<ArtNetTransport> makeArtNetSocket(const QHostAddress& address, quint16 port)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    if (!isIpv4)
        return nullptr;
#ifdef CHRONOLUME_OWN_DESCRIPTOR
    return std::make_unique<ArtNetReceive::DescriptorSocket>(port, true, ipv4);
#else
    return std::make_unique<ArtNetReceive::PortableSocket>(port, QHostAddress(ipv4));
#endif
}
