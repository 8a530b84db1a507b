// Emptying the socket: every datagram handed on with exactly its bytes, and a failed read ends
// the drain instead of being handled or spinning. The batch reader and the node's wakeups are
// checked with real datagrams on loopback: order across batches, the largest datagrams, the
// senders' addresses, an empty queue afterwards, and a notifier that neither spins on an empty
// queue nor misses what arrives after a drain.
#include "artnet.h"
#include "drain.h"
#include "nodesocket.h"
#include "probes.h"
#include "sandbox.h"
#include "traffic.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

#include <cstring>
#include <memory>
#include <numeric>

namespace {

using Handled = QList<std::pair<QByteArray, QHostAddress>>;

// Keeps each datagram handed on: it is a view of the reused read buffer.
auto keepInto(Handled& handled)
{
    return [&handled](QByteArray& datagram, const QHostAddress& sender, qint64) {
        handled.append({QByteArray(datagram.constData(), datagram.size()), sender});
        return true;
    };
}

// A socket whose queue holds scripted reads: a datagram's bytes from a sender, or a failure
// (a null sender). An empty queue fails the read, as a non-blocking socket does.
struct ScriptedSocket
{
    Handled reads;

    // A broken socket may go on claiming data; the drain must not rely on asking.
    bool hasPendingDatagrams() const { return true; }
    qint64 readDatagram(char* data, qint64 maxSize, QHostAddress* sender)
    {
        const auto [bytes, from] = reads.isEmpty() ? Handled::value_type() : reads.takeFirst();
        if (from.isNull()) {
            std::memset(data, 0xAA, size_t(maxSize)); // garbage a failed read may leave behind
            return -1;
        }
        std::memcpy(data, bytes.constData(), size_t(bytes.size()));
        *sender = from;
        return bytes.size();
    }
};

// A datagram of the given size whose bytes say which one it is (they differ from every other's
// at every offset), so a swap, a cut or a stale slot shows.
QByteArray numbered(int number, int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    std::iota(bytes.begin(), bytes.end(), char(number * 7));
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
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, &loop,
                     [&wakeups] { ++wakeups; });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return wakeups;
}

// The kernel switches receive stamps on for the whole system a moment after the first socket
// asks, and stamps a datagram as it is read until then. Asks on keeper, which stays open, and
// waits until a datagram it sends itself carries its arrival.
bool stampsTakeEffect(QUdpSocket& keeper)
{
    if (!keeper.bind(QHostAddress::LocalHost, 0) ||
        !ArtNetReceive::enableKernelStamps(int(keeper.socketDescriptor())))
        return false;
    ArtNetReceive::BatchReader reader;
    for (int attempt = 0; attempt < 400; ++attempt) {
        keeper.writeDatagram("x", 1, QHostAddress::LocalHost, keeper.localPort());
        const qint64 sentBy = ArtNetReceive::steadyNowNs();
        bool stamped = false;
        const ArtNetReceive::StampConverter stamps;
        reader.drain(int(keeper.socketDescriptor()), &stamps,
                     [&](QByteArray&, const QHostAddress&, qint64 arrivalNs) {
                         stamped = arrivalNs <= sentBy;
                         return true;
                     });
        if (stamped)
            return true;
        QTest::qWait(5);
    }
    return false;
}

// What an observer does when it is told of the timecode it waits for.
enum class InCall { CloseSocket, RemoveAndDeleteItself, CloseAndReopen };

// Counts timecodes and acts on the one numbered `at`, from inside the node's read.
class ActingObserver : public ArtNetObserver
{
public:
    ActingObserver(artnet& node, int at, InCall action, int* calls, qint64* latestArrival)
        : node(node), at(at), action(action), calls(calls), latestArrival(latestArrival)
    {
    }
    void timecodeReceived(const SenderEntry& sender) override
    {
        *latestArrival = qMax(*latestArrival, sender.arrivalNs);
        if (++*calls != at)
            return;
        if (action == InCall::RemoveAndDeleteItself) {
            node.setObserver(nullptr);
            delete this;
            return;
        }
        node.closeSocket();
        if (action == InCall::CloseAndReopen)
            node.openSocket();
    }

private:
    artnet& node;
    const int at;
    const InCall action;
    int* const calls;
    qint64* const latestArrival;
};

// Notes when each timecode was handed on and, at the last of a burst of `burst`, sends the next
// burst from inside the node's read, so that it arrives while the read is still going on.
class BurstObserver : public ArtNetObserver
{
public:
    BurstObserver(TestSupport::Controller& controller, int burst, int bursts)
        : controller(controller), burst(burst), bursts(bursts)
    {
    }
    void timecodeReceived(const SenderEntry&) override
    {
        handledNs.append(ArtNetReceive::steadyNowNs());
        if (handledNs.size() % burst == 0 && handledNs.size() < burst * bursts)
            sendBurst();
    }
    void sendBurst()
    {
        for (int n = 0; n < burst; ++n)
            controller.send(TestSupport::artTimeCode(quint8(n), 0, 0, 0, 1));
    }
    QList<qint64> handledNs;

private:
    TestSupport::Controller& controller;
    const int burst;
    const int bursts;
};

} // namespace

using namespace TestSupport;

using Sizes = QList<int>;
Q_DECLARE_METATYPE(Sizes)
Q_DECLARE_METATYPE(InCall)

class DrainTest : public QObject
{
    Q_OBJECT

    QUdpSocket stampKeeper;

private slots:
    void initTestCase()
    {
        if (privateNetworkProblem().isEmpty())
            QVERIFY(stampsTakeEffect(stampKeeper));
    }

    // Every datagram in order with exactly its bytes and sender, an empty one as 0 bytes; a
    // failed read is not handled and ends the drain, though a datagram is queued behind it.
    void handsOnEveryDatagramUntilAReadFails()
    {
        ScriptedSocket socket;
        const Handled before{{"first", senderAddress(0)},
                             {QByteArray(), senderAddress(1)},
                             {QByteArray(600, 'x'), senderAddress(2)}};
        socket.reads =
            before + Handled{{QByteArray(), QHostAddress()}, {"after", senderAddress(0)}};
        QByteArray buffer;
        Handled handled;
        ArtNetReceive::drainDatagrams(socket, buffer, keepInto(handled));
        QCOMPARE(handled, before);
        QCOMPARE(socket.reads.size(), 1); // not read past the failure
    }

    void readDelay_data()
    {
        QTest::addColumn<qint64>("lastReadNs");
        QTest::addColumn<qint64>("nowNs");
        QTest::addColumn<qint64>("intervalNs");
        QTest::addColumn<int>("delayMs");
        constexpr qint64 ms = 1'000'000;
        constexpr qint64 t = 5'000 * ms;
        QTest::newRow("no interval: at once") << t << t << qint64(0) << 0;
        QTest::newRow("no read yet: at once") << qint64(-1) << t << ms << 0;
        QTest::newRow("just read: the whole interval") << t << t << ms << 1;
        QTest::newRow("1 ns short of the interval: 1 ms") << t << t + ms - 1 << ms << 1;
        QTest::newRow("exactly the interval since: at once") << t << t + ms << ms << 0;
        QTest::newRow("long since: at once") << t << t + 60'000 * ms << ms << 0;
        QTest::newRow("rest of 1.5 ms rounds up to 2") << t << t + ms / 2 << 2 * ms << 2;
        QTest::newRow("rest of exactly 1 ms stays 1") << t << t + ms << 2 * ms << 1;
        QTest::newRow("rest of 1 ms and 1 ns rounds up to 2") << t << t + ms - 1 << 2 * ms << 2;
        QTest::newRow("a last read ahead of now: at once") << t + 1 << t << ms << 0;
    }

    // The wait before a read, for a reader that keeps its reads an interval apart: the rest of
    // the interval, in whole milliseconds rounded up, as the event loop's timers count.
    void readDelay()
    {
        QFETCH(qint64, lastReadNs);
        QFETCH(qint64, nowNs);
        QFETCH(qint64, intervalNs);
        QFETCH(int, delayMs);
        QCOMPARE(ArtNetReceive::readDelayMs(lastReadNs, nowNs, intervalNs), delayMs);
    }

#ifdef Q_OS_LINUX
    void batchesKeepEveryDatagram_data()
    {
        QTest::addColumn<Sizes>("sizes");
        const int batch = ArtNetReceive::BatchReader::kBatch;
        QTest::newRow("one datagram") << Sizes{530};
        QTest::newRow("a full batch") << Sizes(batch, 530);
        QTest::newRow("one past a full batch") << Sizes(batch + 1, 20);
        QTest::newRow("three batches and some") << Sizes(3 * batch + 5, 530);
        QTest::newRow("empty datagrams count") << Sizes{0, 14, 0, 0, 530};
        // The largest UDP payload over IPv4 first and last in the first batch, first in the
        // second and alone in the last.
        Sizes edges(2 * batch + 1, 18);
        for (int at : {0, batch - 1, batch, 2 * batch})
            edges[at] = 65507;
        QTest::newRow("65507 bytes at batch edges") << edges;
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
        QUdpSocket senders[3];
        for (int i = 0; i < 3; ++i)
            QVERIFY(senders[i].bind(senderAddress(i)));
        Handled sent;
        for (int n = 0; n < sizes.size(); ++n) {
            sent.append({numbered(n, sizes[n]), senderAddress(n % 3)});
            QCOMPARE(senders[n % 3].writeDatagram(sent.last().first, QHostAddress::LocalHost,
                                                  receiver.localPort()),
                     qint64(sizes[n]));
        }

        ArtNetReceive::BatchReader reader;
        Handled handled;
        using Drain = ArtNetReceive::BatchReader::Drain;
        QCOMPARE(reader.drain(int(receiver.socketDescriptor()), nullptr, keepInto(handled)),
                 Drain::Emptied);
        // A read that fails is reported, and hands on nothing of what the slots still hold.
        QCOMPARE(reader.drain(-1, nullptr, keepInto(handled)), Drain::Failed);
        QCOMPARE(handled, sent);
    }
#endif

    void observerMayEndItsObservationOrTheSocket_data()
    {
        QTest::addColumn<InCall>("action");
        QTest::newRow("closes the socket") << InCall::CloseSocket;
        QTest::newRow("removes and deletes itself") << InCall::RemoveAndDeleteItself;
        QTest::newRow("closes and reopens the socket") << InCall::CloseAndReopen;
    }

    // An observer acts from inside the node's read, in the middle of its second batch: the node
    // hands it nothing afterwards, frees nothing still in use (the sanitized build checks) and
    // goes on working. The arrivals it is handed are the sends' own times, not the read's.
    void observerMayEndItsObservationOrTheSocket()
    {
        REQUIRE_PRIVATE_NETWORK();
        QFETCH(InCall, action);
        artnet node;
        QVERIFY(node.openSocket());
        constexpr int kAt = ArtNetReceive::BatchReader::kBatch + 8;
        int calls = 0;
        qint64 latestArrival = 0;
        auto* observer = new ActingObserver(node, kAt, action, &calls, &latestArrival);
        node.setObserver(observer);
        // Deleted here unless it deletes itself, also when a check fails.
        std::unique_ptr<ActingObserver> owned(action == InCall::RemoveAndDeleteItself ? nullptr
                                                                                      : observer);
        Controller controller(senderAddress(0));
        for (int n = 0; n < 3 * ArtNetReceive::BatchReader::kBatch; ++n)
            QCOMPARE(controller.send(artTimeCode(quint8(n % 25), quint8(n / 25), 0, 0, 1)),
                     qint64(20));
        const qint64 sentBy = ArtNetReceive::steadyNowNs();
        // One read hands on the whole queue: had it gone on after the action, the count would
        // pass kAt before this looks again.
        QTRY_COMPARE_WITH_TIMEOUT(calls, kAt, 2000);
#ifdef CHRONOLUME_OWN_DESCRIPTOR
        QVERIFY(latestArrival > 0 && latestArrival <= sentBy);
#else
        // The portable socket's arrivals are the times of its reads.
        QVERIFY(latestArrival > sentBy);
#endif
        node.setObserver(nullptr);

        // The node reads on: a socket closed by the observer is opened again.
        QVERIFY(node.openSocket());
        QVERIFY(ArtnetProbe::socket(node));
        QCOMPARE(controller.send(artTimeCode(9, 59, 59, 23, 1)), qint64(20));
        QVERIFY(settle(node));
        TimecodeRecord r;
        QVERIFY(node.getTimecode(&r, nullptr, 0));
        QCOMPARE((QList<int>{r.hours, r.frames}), (QList<int>{23, 9}));
    }

#ifdef CHRONOLUME_OWN_DESCRIPTOR
    // With a read interval, datagrams that arrive during a read are read one interval after it,
    // all together, burst after burst; once a read finds nothing, an empty queue wakes nobody
    // and the next datagram is read as it comes.
    void readIntervalGathersWhatArrivesMeanwhile()
    {
        REQUIRE_PRIVATE_NETWORK();
        constexpr int kIntervalMs = 50;
        constexpr int kBurst = 10;
        constexpr int kBursts = 4;
        artnet node;
        node.setReadInterval(kIntervalMs);
        QVERIFY(node.openSocket());
        Controller controller(senderAddress(0));
        QVERIFY(controller.isBound());
        BurstObserver observer(controller, kBurst, kBursts);
        node.setObserver(&observer);
        observer.sendBurst();
        QTRY_COMPARE_WITH_TIMEOUT(observer.handledNs.size(), kBurst * kBursts, 5000);
        for (int b = 1; b < kBursts; ++b) {
            const qint64 apart = observer.handledNs[b * kBurst] - observer.handledNs[0];
            QVERIFY2(apart >= qint64(b) * kIntervalMs * 1'000'000,
                     qPrintable(QStringLiteral("burst %1 read %2 ms after the first")
                                    .arg(b)
                                    .arg(double(apart) / 1e6)));
            // One read for the whole burst: its datagrams were all there.
            const qint64 within =
                observer.handledNs[(b + 1) * kBurst - 1] - observer.handledNs[b * kBurst];
            QVERIFY(within < kIntervalMs * 1'000'000);
        }
        // The paced reads end with one that finds nothing; the socket's notifier takes over and
        // reads the next datagram.
        QTest::qWait(3 * kIntervalMs);
        QVERIFY2(wakeupsWithin(200) < 20, "the event loop spins on an empty queue");
        controller.send(artTimeCode(1, 2, 3, 4, 1));
        QTRY_COMPARE_WITH_TIMEOUT(observer.handledNs.size(), kBurst * kBursts + 1, 5000);
        node.setObserver(nullptr);
    }
#endif

    // The node's own socket and event loop: the last ArtTimeCode of every sender, sent in
    // bursts that span several batches, is the one it keeps; an empty queue does not wake it;
    // datagrams that arrive after a drain are read at once; after all the drains it still answers
    // an ArtPoll through the same socket, and closes it.
    void nodeDrainsBurstsAndSleepsWhenEmpty()
    {
        REQUIRE_PRIVATE_NETWORK();
        // Only the socket's own notifier may watch its descriptor: the event dispatcher without
        // glib keeps one per descriptor and complains of a second.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("socket notifier")));
        artnet node;
        QVERIFY(node.openSocket());
        node.setPollReplyEnabled(true);
        const std::optional<NodeSocketView> socket = ArtnetProbe::socket(node);
        QVERIFY(socket);
        QUdpSocket senders[4];
        for (int i = 0; i < 4; ++i)
            QVERIFY(senders[i].bind(senderAddress(i)));

        for (int round = 1; round <= 5; ++round) {
            // Frames count up per sender; 100 datagrams make several batches.
            for (int n = 0; n < 100; ++n)
                QCOMPARE(
                    senders[n % 4].writeDatagram(artTimeCode(quint8(n / 4), quint8(round), 0, 0, 1),
                                                 QHostAddress::LocalHost, kArtNetPort),
                    qint64(20));
            // Read within the event loop's own wakeups; no drain is called by hand.
            QTRY_VERIFY_WITH_TIMEOUT(!socket->hasPendingDatagrams(), 2000);
            for (int i = 0; i < 4; ++i) {
                TimecodeRecord r;
                QHostAddress sender;
                QVERIFY(node.getTimecode(&r, &sender, i));
                QCOMPARE(sender, senderAddress(i));
                QCOMPARE((QList<int>{r.seconds, r.frames}), (QList<int>{round, 24}));
            }
            // Nothing queued: the loop sleeps, the notifier does not fire over and over.
            QVERIFY2(wakeupsWithin(200) < 20, "the event loop spins on an empty queue");
        }
        QCOMPARE(socket->state(), QAbstractSocket::BoundState);

        // A reply that leaves from port 6454 was written through the node's socket, which read the
        // poll.
        Poller poller(senderAddress(4));
        QVERIFY(poller.isBound());
        QVERIFY(poller.poll());
        QTRY_VERIFY_WITH_TIMEOUT(poller.socket.hasPendingDatagrams(), 2000);
        const QNetworkDatagram reply = poller.socket.receiveDatagram();
        QCOMPARE(reply.data().left(10), QByteArray("Art-Net\0\x00\x21", 10));
        QCOMPARE(reply.senderPort(), int(kArtNetPort));

        // Closing leaves nothing watching the descriptor: the next socket gets its number, and
        // a datagram waiting there unread must not wake the node's loop over and over.
        const qintptr descriptor = socket->socketDescriptor();
        senders[0].writeDatagram("unread", QHostAddress::LocalHost, kArtNetPort);
        node.closeSocket();
        QUdpSocket next;
        QVERIFY(next.bind(QHostAddress::LocalHost, 0));
        QCOMPARE(next.socketDescriptor(), descriptor);
        senders[0].writeDatagram("unread", QHostAddress::LocalHost, next.localPort());
        QVERIFY2(wakeupsWithin(200) < 20, "a notifier outlived the node's socket");
    }
};

QTEST_GUILESS_MAIN(DrainTest)
#include "tst_drain.moc"
