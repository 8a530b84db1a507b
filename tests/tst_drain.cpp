// Emptying the socket: every datagram handed on with exactly its bytes, and a failed read ends
// the drain instead of being handled or spinning. The batch reader and the node's wakeups are
// checked with real datagrams on loopback: order across batches, the largest datagrams, the
// senders' addresses, an empty queue afterwards, and a notifier that neither spins on an empty
// queue nor misses what arrives after a drain.
#include "artnet.h"
#include "drain.h"
#include "probes.h"
#include "sandbox.h"
#include "traffic.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

#include <cstring>
#include <sys/ioctl.h>

namespace {

// A socket whose queue holds scripted reads: a datagram's bytes, or a failure (-1). An empty
// queue fails the read, as a non-blocking socket does.
struct ScriptedSocket
{
    struct Read
    {
        QByteArray bytes;
        QHostAddress sender;
        bool fails = false;
    };
    QList<Read> reads;
    int readCalls = 0;

    // A broken socket may go on claiming data; the drain must not rely on asking.
    bool hasPendingDatagrams() const { return true; }
    qint64 readDatagram(char* data, qint64 maxSize, QHostAddress* sender)
    {
        ++readCalls;
        if (reads.isEmpty())
            return -1;
        const Read read = reads.takeFirst();
        if (read.fails) {
            std::memset(data, 0xAA, size_t(maxSize)); // garbage a failed read may leave behind
            return -1;
        }
        std::memcpy(data, read.bytes.constData(), size_t(read.bytes.size()));
        *sender = read.sender;
        return read.bytes.size();
    }
};

// The datagram handed on is a view of the reused read buffer; keep its bytes.
QByteArray deepCopy(const QByteArray& view)
{
    return QByteArray(view.constData(), view.size());
}

struct Handled
{
    QByteArray bytes;
    QHostAddress sender;
};

// A datagram of the given size whose bytes say which one it is, so a swap, a cut or a stale
// slot shows.
QByteArray numbered(int number, int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((number * 7 + i) & 0xFF);
    if (size >= 4)
        qToBigEndian(quint32(number), bytes.data());
    return bytes;
}

QHostAddress senderAddress(int index)
{
    return QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + index));
}

// Counts how often the event loop wakes within ms milliseconds: a notifier that fires on an
// empty queue wakes it thousands of times.
int wakeupsWithin(int ms)
{
    int wakeups = 0;
    QEventLoop loop;
    const QMetaObject::Connection counting =
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                         [&wakeups] { ++wakeups; });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(counting);
    return wakeups;
}

} // namespace

using Sizes = QList<int>;
Q_DECLARE_METATYPE(Sizes)

class DrainTest : public QObject
{
    Q_OBJECT

private slots:
    void handsOnEveryDatagramInOrder()
    {
        ScriptedSocket socket;
        socket.reads = {{QByteArray("first"), QHostAddress(QStringLiteral("127.0.0.2"))},
                        {QByteArray(), QHostAddress(QStringLiteral("127.0.0.3"))},
                        {QByteArray(600, 'x'), QHostAddress(QStringLiteral("127.0.0.4"))}};
        QByteArray buffer;
        QList<Handled> handled;
        ArtNetReceive::drainDatagrams(socket, buffer,
                                      [&](QByteArray& datagram, const QHostAddress& sender) {
                                          handled.append({deepCopy(datagram), sender});
                                      });
        QCOMPARE(handled.size(), 3);
        QCOMPARE(handled[0].bytes, QByteArray("first"));
        QCOMPARE(handled[0].sender, QHostAddress(QStringLiteral("127.0.0.2")));
        QCOMPARE(handled[1].bytes.size(), 0); // an empty datagram is a datagram of 0 bytes
        QCOMPARE(handled[2].bytes, QByteArray(600, 'x'));
        QCOMPARE(handled[2].sender, QHostAddress(QStringLiteral("127.0.0.4")));
    }

    void failedReadIsNotHandledAndEndsTheDrain()
    {
        ScriptedSocket socket;
        socket.reads = {{QByteArray("before"), QHostAddress(QStringLiteral("127.0.0.2"))},
                        {QByteArray(), QHostAddress(), true},
                        {QByteArray("after"), QHostAddress(QStringLiteral("127.0.0.2"))}};
        QByteArray buffer;
        QList<QByteArray> handled;
        ArtNetReceive::drainDatagrams(
            socket, buffer,
            [&](QByteArray& datagram, const QHostAddress&) { handled.append(deepCopy(datagram)); });
        QCOMPARE(handled, QList<QByteArray>{QByteArray("before")});
        // A datagram is still queued behind the failure, yet the drain stopped there.
        QCOMPARE(socket.reads.size(), 1);
        QCOMPARE(socket.readCalls, 2);
    }

#ifdef Q_OS_LINUX
    void batchesKeepEveryDatagram_data()
    {
        QTest::addColumn<Sizes>("sizes");
        const int batch = ArtNetReceive::BatchReader::kBatch;
        const int largest = ArtNetReceive::kMaxDatagramSize;
        QTest::newRow("one datagram") << Sizes{530};
        QTest::newRow("a full batch") << Sizes(batch, 530);
        QTest::newRow("one past a full batch") << Sizes(batch + 1, 20);
        QTest::newRow("three batches and some") << Sizes(3 * batch + 5, 530);
        QTest::newRow("empty datagrams count") << Sizes{0, 14, 0, 0, 530};
        Sizes largestAcross(2 * batch + 1, 18);
        largestAcross[0] = largest;         // first of the first batch
        largestAcross[batch - 1] = largest; // last of the first batch
        largestAcross[batch] = largest;     // first of the second
        largestAcross[2 * batch] = largest; // alone in the last
        QTest::newRow("65507 bytes at batch edges") << largestAcross;
        QTest::newRow("one byte more than the first slot page") << Sizes{4097, 1, 65506};
    }

    // A real socket's whole queue in one drain: each datagram once, in order, with all its
    // bytes and its sender's address, and nothing left behind.
    void batchesKeepEveryDatagram()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(Sizes, sizes);

        QUdpSocket receiver;
        QVERIFY(receiver.bind(QHostAddress::AnyIPv4, 0));
        receiver.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 * 1024 * 1024);
        constexpr int kSenders = 3;
        QList<TestSupport::Controller*> senders;
        for (int i = 0; i < kSenders; ++i) {
            senders.append(new TestSupport::Controller(senderAddress(i)));
            QVERIFY(senders.last()->isBound());
        }
        QList<Handled> sent;
        for (int n = 0; n < sizes.size(); ++n) {
            const QByteArray bytes = numbered(n, sizes[n]);
            QCOMPARE(
                senders[n % kSenders]->send(bytes, QHostAddress::LocalHost, receiver.localPort()),
                qint64(bytes.size()));
            sent.append({bytes, senderAddress(n % kSenders)});
        }
        qDeleteAll(senders);

        ArtNetReceive::BatchReader reader;
        QList<Handled> handled;
        QVERIFY(reader.drain(int(receiver.socketDescriptor()),
                             [&](QByteArray& datagram, const QHostAddress& sender) {
                                 handled.append({deepCopy(datagram), sender});
                             }));

        QCOMPARE(handled.size(), sent.size());
        for (int n = 0; n < sent.size(); ++n) {
            QVERIFY2(handled[n].bytes == sent[n].bytes, qPrintable(QString::number(n)));
            QCOMPARE(handled[n].sender, sent[n].sender);
            QCOMPARE(handled[n].sender.protocol(), QAbstractSocket::IPv4Protocol);
        }
        int pending = -1;
        QCOMPARE(ioctl(int(receiver.socketDescriptor()), FIONREAD, &pending), 0);
        QCOMPARE(pending, 0);
        QVERIFY(!receiver.hasPendingDatagrams());
    }

    void failingBatchReadReportsIt()
    {
        ArtNetReceive::BatchReader reader;
        int handled = 0;
        QVERIFY(!reader.drain(-1, [&](QByteArray&, const QHostAddress&) { ++handled; }));
        QCOMPARE(handled, 0);
    }
#endif

    // The node's own socket and event loop: the last ArtTimeCode of every sender, sent in
    // bursts that span several batches, is the one it keeps; an empty queue does not wake it;
    // datagrams that arrive after a drain are read at once; its socket still sends and closes.
    void nodeDrainsBurstsAndSleepsWhenEmpty()
    {
        REQUIRE_PRIVATE_NETWORK();
        // Only the socket's own notifier may watch its descriptor: the event dispatcher without
        // glib keeps one per descriptor and complains of a second.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("socket notifier")));
        artnet node;
        QVERIFY(node.openSocket());
        QUdpSocket* socket = ArtnetProbe::socket(node);
        QVERIFY(socket);
        constexpr int kSenders = 4;
        QList<TestSupport::Controller*> senders;
        for (int i = 0; i < kSenders; ++i)
            senders.append(new TestSupport::Controller(senderAddress(i)));

        for (int round = 1; round <= 5; ++round) {
            // Frames count up per sender; 100 datagrams make several batches.
            for (int n = 0; n < 100; ++n) {
                const QByteArray datagram =
                    TestSupport::artTimeCode(quint8(n / kSenders), quint8(round), 0, 0, 1);
                QCOMPARE(senders[n % kSenders]->send(datagram), qint64(datagram.size()));
            }
            // Read within the event loop's own wakeups; no drain is called by hand.
            QTRY_VERIFY_WITH_TIMEOUT(!socket->hasPendingDatagrams(), 2000);
            for (int i = 0; i < kSenders; ++i) {
                TimecodeRecord record;
                QHostAddress sender;
                QVERIFY(node.getTimecode(&record, &sender, i));
                QCOMPARE(sender, senderAddress(i));
                QCOMPARE(int(record.seconds), round);
                QCOMPARE(int(record.frames), 100 / kSenders - 1);
            }
            // Nothing queued: the loop sleeps, the notifier does not fire over and over.
            QVERIFY2(wakeupsWithin(200) < 20, "the event loop spins on an empty queue");
        }
        QVERIFY(!socket->hasPendingDatagrams());
        QCOMPARE(socket->state(), QAbstractSocket::BoundState);

        // The same socket still sends.
        TestSupport::Controller peer(senderAddress(9), 0);
        const QByteArray reply("reply");
        QCOMPARE(socket->writeDatagram(reply, senderAddress(9), peer.socket.localPort()),
                 qint64(reply.size()));
        QTRY_VERIFY_WITH_TIMEOUT(peer.socket.hasPendingDatagrams(), 2000);

        // Closing leaves nothing watching the descriptor: the next socket gets its number, and
        // a datagram waiting there unread must not wake the node's loop over and over.
        const qintptr descriptor = socket->socketDescriptor();
        senders[0]->send(TestSupport::artTimeCode(1, 2, 3, 4, 1));
        node.closeSocket();
        QVERIFY(!ArtnetProbe::socket(node));
        QUdpSocket next;
        QVERIFY(next.bind(QHostAddress::LocalHost, 0));
        QCOMPARE(next.socketDescriptor(), descriptor);
        senders[0]->send(QByteArray("unread"), QHostAddress::LocalHost, next.localPort());
        QVERIFY2(wakeupsWithin(200) < 20, "a notifier outlived the node's socket");
        qDeleteAll(senders);
    }
};

QTEST_GUILESS_MAIN(DrainTest)
#include "tst_drain.moc"
