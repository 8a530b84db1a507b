#include "peernet.h"

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
                         QHostAddress(QStringLiteral("255.255.255.0")),
                         QHostAddress(QStringLiteral("192.168.50.255")),
                         QHostAddress(QStringLiteral("192.168.50.1"))};
const VethNetwork kVeth1{
    "clt1", QHostAddress(QStringLiteral("10.60.0.2")), QHostAddress(QStringLiteral("255.255.0.0")),
    QHostAddress(QStringLiteral("10.60.255.255")), QHostAddress(QStringLiteral("10.60.0.1"))};

namespace {

QString systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

QString hardwareAddress(const char* interfaceName)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return QString();
    ifreq request{};
    std::strncpy(request.ifr_name, interfaceName, IFNAMSIZ - 1);
    const int result = ioctl(fd, SIOCGIFHWADDR, &request);
    close(fd);
    if (result != 0)
        return QString();
    QStringList bytes;
    for (int i = 0; i < 6; ++i)
        bytes.append(QStringLiteral("%1")
                         .arg(uint(quint8(request.ifr_hwaddr.sa_data[i])), 2, 16, QLatin1Char('0'))
                         .toUpper());
    return bytes.join(QLatin1Char(':'));
}

int openPeerSocket(const QHostAddress& address, quint16 port, QString* error)
{
    const QByteArray path = qgetenv("CHRONOLUME_PEER_NETNS");
    if (path.isEmpty()) {
        if (error)
            *error =
                QStringLiteral("CHRONOLUME_PEER_NETNS is not set; run through netns-run --veth");
        return -1;
    }
    const quint32 ip = address.toIPv4Address();
    int descriptor = -1;
    QString reason;
    // setns moves only the calling thread, so a thread of its own enters the peer namespace
    // and the test thread stays where it is. A socket keeps the namespace it was made in.
    std::thread worker([&] {
        const int ns = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (ns < 0) {
            reason = systemError("open peer namespace");
            return;
        }
        const int entered = setns(ns, CLONE_NEWNET);
        ::close(ns);
        if (entered != 0) {
            reason = systemError("setns");
            return;
        }
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            reason = systemError("socket");
            return;
        }
        const int on = 1;
        sockaddr_in bound{};
        bound.sin_family = AF_INET;
        bound.sin_port = htons(port);
        bound.sin_addr.s_addr = htonl(ip);
        if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
            setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
            reason = systemError("setsockopt");
            ::close(fd);
            return;
        }
        if (bind(fd, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0) {
            reason = systemError("bind");
            ::close(fd);
            return;
        }
        descriptor = fd;
    });
    worker.join();
    if (descriptor < 0 && error)
        *error = reason;
    return descriptor;
}

PeerSocket::PeerSocket(const QHostAddress& address, quint16 port)
{
    const int descriptor = openPeerSocket(address, port, &problem);
    if (descriptor < 0)
        return;
    open = socket.setSocketDescriptor(descriptor, QAbstractSocket::BoundState);
    if (!open) {
        problem = socket.errorString();
        ::close(descriptor);
    }
}

void PeerSocket::take(QList<QNetworkDatagram>* into)
{
    while (socket.hasPendingDatagrams())
        into->append(socket.receiveDatagram());
}

QList<QNetworkDatagram> PeerSocket::receive(int count, int timeoutMs)
{
    QList<QNetworkDatagram> received;
    QElapsedTimer clock;
    clock.start();
    take(&received);
    while (received.size() < count && clock.elapsed() < timeoutMs) {
        QTest::qWait(5);
        take(&received);
    }
    return received;
}

QList<QNetworkDatagram> PeerSocket::receiveFor(int ms)
{
    QList<QNetworkDatagram> received;
    QElapsedTimer clock;
    clock.start();
    do {
        QTest::qWait(5);
        take(&received);
    } while (clock.elapsed() < ms);
    return received;
}

} // namespace TestSupport
