// A stand-in Art-Net controller for end-to-end tests of the real program: sends datagrams from
// a chosen local address and prints what comes back.
//
//   artnet-peer [--bind ADDR[:PORT]] [--to ADDR[:PORT]] [--timecode F,S,M,H,T] [--poll]
//               [--hex BYTES] [--repeat N] [--listen MS]
//
// Datagrams are sent in the order given, --repeat times. With --listen every datagram received
// within MS milliseconds is printed as "ADDR:PORT SIZE HEX", one line each.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QStringList>
#include <QUdpSocket>

#include <cstdio>

namespace {

bool splitAddress(const QString& text, quint16 defaultPort, QHostAddress* address, quint16* port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    *port = defaultPort;
    QString host = text;
    if (colon >= 0) {
        bool ok = false;
        *port = quint16(text.mid(colon + 1).toUInt(&ok));
        if (!ok)
            return false;
        host = text.left(colon);
    }
    return address->setAddress(host);
}

QByteArray artHeader(quint16 opCode)
{
    QByteArray packet("Art-Net\0", 8);
    packet.append(char(opCode & 0xFF));
    packet.append(char(opCode >> 8));
    packet.append(char(0));
    packet.append(char(14));
    return packet;
}

int fail(const char* message)
{
    std::fprintf(stderr, "artnet-peer: %s\n", message);
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QStringList args = application.arguments().mid(1);

    QHostAddress bindAddress(QHostAddress::LocalHost), to(QHostAddress::LocalHost);
    quint16 bindPort = 0, toPort = 6454;
    QList<QByteArray> datagrams;
    int repeat = 1;
    int listenMs = -1;

    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--poll")) {
            datagrams.append(artHeader(0x2000) + QByteArray(2, '\0'));
            continue;
        }
        if (args.isEmpty())
            return fail("option without value");
        const QString value = args.takeFirst();
        if (option == QLatin1String("--bind")) {
            if (!splitAddress(value, 0, &bindAddress, &bindPort))
                return fail("bad --bind");
        } else if (option == QLatin1String("--to")) {
            if (!splitAddress(value, 6454, &to, &toPort))
                return fail("bad --to");
        } else if (option == QLatin1String("--timecode")) {
            const QStringList fields = value.split(QLatin1Char(','));
            if (fields.size() != 5)
                return fail("--timecode takes F,S,M,H,T");
            QByteArray packet = artHeader(0x9700) + QByteArray(2, '\0');
            for (const QString& field : fields)
                packet.append(char(field.toUInt()));
            packet.append(char(0));
            datagrams.append(packet);
        } else if (option == QLatin1String("--hex")) {
            datagrams.append(QByteArray::fromHex(value.toLatin1()));
        } else if (option == QLatin1String("--repeat")) {
            repeat = value.toInt();
        } else if (option == QLatin1String("--listen")) {
            listenMs = value.toInt();
        } else {
            return fail("unknown option");
        }
    }

    QUdpSocket socket;
    if (!socket.bind(bindAddress, bindPort,
                     QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint))
        return fail("cannot bind");
    for (int round = 0; round < repeat; ++round) {
        for (const QByteArray& datagram : std::as_const(datagrams)) {
            if (socket.writeDatagram(datagram, to, toPort) != datagram.size())
                return fail("send failed");
        }
    }

    if (listenMs >= 0) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < listenMs) {
            socket.waitForReadyRead(int(qMax<qint64>(1, listenMs - clock.elapsed())));
            while (socket.hasPendingDatagrams()) {
                const QNetworkDatagram datagram = socket.receiveDatagram();
                std::printf("%s:%u %d %s\n", qPrintable(datagram.senderAddress().toString()),
                            unsigned(datagram.senderPort()), int(datagram.data().size()),
                            datagram.data().toHex().constData());
            }
        }
    }
    std::fflush(stdout);
    return 0;
}
