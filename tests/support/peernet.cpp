#include "peernet.h"
#include "artnet.h"
#include "capture.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace TestSupport {

const VethNetwork kVeth0{"clt0", QHostAddress(QStringLiteral("192.168.50.5")),
                         QHostAddress(QStringLiteral("192.168.50.255")),
                         QHostAddress(QStringLiteral("192.168.50.1"))};
const VethNetwork kVeth1{"clt1", QHostAddress(QStringLiteral("10.60.0.2")),
                         QHostAddress(QStringLiteral("10.60.255.255")),
                         QHostAddress(QStringLiteral("10.60.0.1"))};

QString hardwareAddress(const char* interfaceName)
{
    ifreq request{};
    std::strncpy(request.ifr_name, interfaceName, IFNAMSIZ - 1);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool known = fd >= 0 && ioctl(fd, SIOCGIFHWADDR, &request) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!known)
        return QString();
    return QString::fromLatin1(QByteArray(request.ifr_hwaddr.sa_data, 6).toHex(':').toUpper());
}

QStringList describe(const QList<QNetworkDatagram>& datagrams)
{
    QStringList result;
    for (const QNetworkDatagram& datagram : datagrams)
        result.append(QStringLiteral("%1:%2 -> %3 %4")
                          .arg(datagram.senderAddress().toString())
                          .arg(datagram.senderPort())
                          .arg(datagram.destinationAddress().toString(),
                               QString::fromLatin1(datagram.data().toHex())));
    return result;
}

QString fromNode(const QHostAddress& to, const QByteArray& data)
{
    const QHostAddress& from = to.isInSubnet(kVeth0.local, 24) ? kVeth0.local : kVeth1.local;
    return QStringLiteral("%1:6454 -> %2 %3")
        .arg(from.toString(), to.toString(), QString::fromLatin1(data.toHex()));
}

PeerSocket::PeerSocket()
{
    const QByteArray path = qgetenv("CHRONOLUME_PEER_NETNS");
    if (path.isEmpty()) {
        error = QStringLiteral("CHRONOLUME_PEER_NETNS is not set; run through netns-run --veth");
        return;
    }
    int fd = -1;
    // setns moves only the calling thread, so a thread of its own enters the peer namespace
    // and the test thread stays where it is. A socket keeps the namespace it was made in.
    std::thread([&] {
        const int ns = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (ns >= 0 && setns(ns, CLONE_NEWNET) == 0)
            fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int on = 1;
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(kArtNetPort);
        // IP_PKTINFO reports each datagram's destination, telling broadcasts from the rest.
        if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
            bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
            error = QStringLiteral("peer socket: ") + QString::fromLocal8Bit(std::strerror(errno));
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
        if (ns >= 0)
            ::close(ns);
    }).join();
    if (fd >= 0 && !socket.setSocketDescriptor(fd, QAbstractSocket::BoundState)) {
        error = socket.errorString();
        ::close(fd);
    }
}

QList<QNetworkDatagram> PeerSocket::receive(int count, int settleMs)
{
    QList<QNetworkDatagram> received;
    const auto take = [&] {
        while (socket.hasPendingDatagrams())
            received.append(socket.receiveDatagram());
    };
    QElapsedTimer clock;
    clock.start();
    while (received.size() < count && clock.elapsed() < 3000) {
        QTest::qWait(5);
        take();
    }
    QTest::qWait(settleMs);
    take();
    return received;
}

QString openPeerAndNode(std::unique_ptr<PeerSocket>& peer, std::unique_ptr<artnet>& node)
{
    peer = std::make_unique<PeerSocket>();
    if (!peer->error.isEmpty())
        return peer->error;
    OutputCapture quiet;
    node = std::make_unique<artnet>();
    return QString();
}

} // namespace TestSupport
