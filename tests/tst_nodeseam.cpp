// The node fed through a transport of the test's own, without a network: what a wakeup drains,
// the arrival each datagram carries to the store and the observer, where the answers go, and the
// kernel's drop count; and the rules behind them as plain functions (the control data of a
// received datagram, the window's lines about drops, monitor's verdict). One test reads the real
// socket in a namespace: the kernel's drops counted as the socket reports them.
#include "artnet.h"
#include "drain.h"
#include "fedmonitor.h"
#include "kerneldrops.h"
#include "monitor/timecodehealth.h"
#include "nodesocket.h"
#include "sandbox.h"
#include "traffic.h"

#include <QtTest>

#include <deque>

using namespace TestSupport;

namespace {

struct Queued
{
    QByteArray bytes;
    QHostAddress sender;
    qint64 arrivalNs;
};

// Datagrams queued by the test and handed over when it wakes the node; what the node sends is
// kept.
class QueuedTransport : public ArtNetTransport
{
public:
    bool open(bool, std::function<void()> readyCall) override
    {
        ready = std::move(readyCall);
        return openable;
    }
    void close() override { ready = nullptr; }
    void drain(const Receive& receive) override
    {
        ++drains;
        while (!queue.empty()) {
            const Queued next = queue.front();
            queue.pop_front();
            if (!receive(next.bytes.constData(), int(next.bytes.size()), next.sender,
                         next.arrivalNs))
                return;
        }
    }
    qint64 send(const char* data, int size, const QHostAddress& to, quint16 port) override
    {
        sent.append({QByteArray(data, size), to, port});
        return size;
    }
    quint64 kernelDrops() const override { return drops; }

    // What the socket's notifier does when datagrams wait.
    void wake()
    {
        if (ready)
            ready();
    }

    bool openable = true;
    std::function<void()> ready;
    std::deque<Queued> queue;
    int drains = 0;
    quint64 drops = 0;
    struct Sent
    {
        QByteArray bytes;
        QHostAddress to;
        quint16 port;
    };
    QList<Sent> sent;
};

class Arrivals : public ArtNetObserver
{
public:
    void timecodeReceived(const SenderEntry& sender) override
    {
        frames.append(sender.timecode.frames);
        arrivals.append(sender.arrivalNs);
    }
    QList<int> frames;
    QList<qint64> arrivals;
};

const QHostAddress kA(QStringLiteral("10.0.0.2"));
const QHostAddress kB(QStringLiteral("10.0.0.3"));

#ifdef Q_OS_LINUX
// A message whose control data holds a stamp and a drop count, each written only when asked
// for, with the length given.
struct Control
{
    alignas(cmsghdr) char buffer[ArtNetReceive::kControlSize]{};
    msghdr message{};

    Control(qint64 stampNs, size_t stampLength, qint64 drops, size_t dropsLength)
    {
        message.msg_control = buffer;
        message.msg_controllen = 0;
        if (stampNs >= 0) {
            message.msg_controllen += CMSG_SPACE(sizeof(timespec));
            cmsghdr* c = CMSG_FIRSTHDR(&message);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_TIMESTAMPNS;
            c->cmsg_len = stampLength;
            const timespec t{time_t(stampNs / 1'000'000'000), long(stampNs % 1'000'000'000)};
            std::memcpy(CMSG_DATA(c), &t, sizeof t);
        }
        if (drops >= 0) {
            const size_t before = message.msg_controllen;
            message.msg_controllen += CMSG_SPACE(sizeof(quint32));
            cmsghdr* c = reinterpret_cast<cmsghdr*>(buffer + before);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SO_RXQ_OVFL;
            c->cmsg_len = dropsLength;
            const quint32 d = quint32(drops);
            std::memcpy(CMSG_DATA(c), &d, sizeof d);
        }
    }
};
#endif

} // namespace

class NodeSeamTest : public QObject
{
    Q_OBJECT

private slots:
    // A wakeup hands the node the whole queue: each sender's last ArtTimeCode is stored with
    // its datagram's arrival, the observer is handed the same number, and an ArtPoll is answered
    // through the transport, to port 6454.
    void aWakeupDrainsTheQueue()
    {
        auto* transport = new QueuedTransport;
        artnet node;
        node.setTransport(transport);
        Arrivals observer;
        node.setObserver(&observer);
        node.setPollReplyEnabled(true);
        QVERIFY(transport->ready);
        // A poller on the node's first network, which the node answers.
        const QHostAddress poller(node.interfaceIp(0));
        QVERIFY(!poller.isNull());
        transport->queue = {{artTimeCode(1, 0, 0, 0, 1), kA, 1'000},
                            {artTimeCode(2, 0, 0, 0, 1), kB, 2'000},
                            {artPoll(), poller, 2'500},
                            {artTimeCode(3, 0, 0, 0, 1), kA, 3'000}};
        transport->wake();
        QCOMPARE(transport->drains, 1);
        QVERIFY(transport->queue.empty());
        QCOMPARE(observer.frames, QList<int>({1, 2, 3}));
        QCOMPARE(observer.arrivals, QList<qint64>({1'000, 2'000, 3'000}));
        TimecodeRecord record;
        QHostAddress sender;
        QVERIFY(node.getTimecode(&record, &sender, 0));
        QCOMPARE(int(record.frames), 3);
        QCOMPARE((QList<qint64>{node.senders().at(0).arrivalNs, node.senders().at(1).arrivalNs}),
                 (QList<qint64>{3'000, 2'000}));
        QCOMPARE(transport->sent.size(), 1);
        QCOMPARE(transport->sent[0].bytes.left(10), QByteArray("Art-Net\0\x00\x21", 10));
        QCOMPARE(transport->sent[0].port, quint16(6454));
        node.setObserver(nullptr);
    }

    // An observer that closes the socket from inside the drain ends it: the rest of the queue is
    // not the node's any more. Closed, the node neither reads nor sends.
    void closingInsideTheDrainEndsIt()
    {
        auto* transport = new QueuedTransport;
        artnet node;
        node.setTransport(transport);
        QVERIFY(node.openSocket());
        struct Closer : ArtNetObserver
        {
            artnet* node = nullptr;
            int calls = 0;
            void timecodeReceived(const SenderEntry&) override
            {
                if (++calls == 2)
                    node->closeSocket();
            }
        } closer;
        closer.node = &node;
        node.setObserver(&closer);
        for (int i = 0; i < 4; ++i)
            transport->queue.push_back({artTimeCode(quint8(i), 0, 0, 0, 1), kA, i});
        std::function<void()> ready = transport->ready;
        ready();
        QCOMPARE(closer.calls, 2);
        QCOMPARE(int(transport->queue.size()), 2);
        const QHostAddress to(QStringLiteral("10.0.0.9"));
        QCOMPARE(node.sendDatagram("x", 1, &to), artnet::kSendError);
        QVERIFY(transport->sent.isEmpty());
        node.setObserver(nullptr);
    }

    // What the transport counts is what the node reports; a transport that cannot bind leaves
    // the node closed.
    void theNodeReportsTheTransportsDrops()
    {
        auto* transport = new QueuedTransport;
        artnet node;
        QCOMPARE(node.kernelDrops(), quint64(0));
        node.setTransport(transport);
        transport->openable = false;
        QVERIFY(!node.openSocket());
        transport->drops = 17;
        QCOMPARE(node.kernelDrops(), quint64(17));
    }

#ifdef Q_OS_LINUX
    void controlDataIsRead_data()
    {
        QTest::addColumn<qint64>("stamp");
        QTest::addColumn<int>("stampShort"); // bytes missing from the stamp's length
        QTest::addColumn<qint64>("drops");
        QTest::addColumn<int>("dropsShort");
        QTest::addColumn<qint64>("stampRead");
        QTest::addColumn<qint64>("dropsRead");
        const qint64 t = 1'700'000'000'123'456'789;
        QTest::newRow("nothing") << qint64(-1) << 0 << qint64(-1) << 0 << qint64(-1) << qint64(-1);
        QTest::newRow("a stamp") << t << 0 << qint64(-1) << 0 << t << qint64(-1);
        QTest::newRow("a stamp one byte short")
            << t << 1 << qint64(-1) << 0 << qint64(-1) << qint64(-1);
        QTest::newRow("a stamp at 0")
            << qint64(0) << 0 << qint64(-1) << 0 << qint64(0) << qint64(-1);
        QTest::newRow("drops") << qint64(-1) << 0 << qint64(5) << 0 << qint64(-1) << qint64(5);
        QTest::newRow("drops one byte short")
            << qint64(-1) << 0 << qint64(5) << 1 << qint64(-1) << qint64(-1);
        QTest::newRow("the largest drop count")
            << qint64(-1) << 0 << qint64(0xFFFFFFFF) << 0 << qint64(-1) << qint64(0xFFFFFFFF);
        QTest::newRow("both") << t << 0 << qint64(1) << 0 << t << qint64(1);
    }

    void controlDataIsRead()
    {
        QFETCH(qint64, stamp);
        QFETCH(int, stampShort);
        QFETCH(qint64, drops);
        QFETCH(int, dropsShort);
        QFETCH(qint64, stampRead);
        QFETCH(qint64, dropsRead);
        const Control control(stamp, CMSG_LEN(sizeof(timespec)) - size_t(stampShort), drops,
                              CMSG_LEN(sizeof(quint32)) - size_t(dropsShort));
        const ArtNetReceive::ArrivalControl read =
            ArtNetReceive::readArrivalControl(control.message);
        QCOMPARE(read.stampNs, stampRead);
        QCOMPARE(read.drops, dropsRead);
    }
#endif

    void dropLines_data()
    {
        QTest::addColumn<quint64>("reportedDrops");
        QTest::addColumn<bool>("any");
        QTest::addColumn<quint64>("drops");
        QTest::addColumn<qint64>("sinceNs"); // since the last line
        QTest::addColumn<QString>("line");
        const qint64 minute = KernelDrops::kReportEveryNs;
        const QString first = QStringLiteral(
            "the receive buffer of UDP port 6454 overflowed: the kernel dropped %1 datagrams, "
            "timecode among them may be lost");
        const QString again =
            QStringLiteral("the kernel has dropped %1 datagrams on UDP port 6454");
        QTest::newRow("none dropped")
            << quint64(0) << false << quint64(0) << qint64(0) << QString();
        QTest::newRow("the first drop")
            << quint64(0) << false << quint64(1) << qint64(0) << first.arg(1);
        QTest::newRow("more, within the minute")
            << quint64(3) << true << quint64(9) << minute - 1 << QString();
        QTest::newRow("more, a minute on")
            << quint64(3) << true << quint64(9) << minute << again.arg(9);
        QTest::newRow("no more, a minute on")
            << quint64(3) << true << quint64(3) << minute << QString();
    }

    void dropLines()
    {
        QFETCH(quint64, reportedDrops);
        QFETCH(bool, any);
        QFETCH(quint64, drops);
        QFETCH(qint64, sinceNs);
        QFETCH(QString, line);
        const qint64 at = 5'000'000'000;
        KernelDrops::Reported reported{reportedDrops, at, any};
        QCOMPARE(KernelDrops::lineFor(reported, drops, at + sinceNs), line);
        if (!line.isNull()) {
            QCOMPARE(reported.drops, drops);
            QCOMPARE(reported.atNs, at + sinceNs);
        } else {
            QCOMPARE(reported.drops, reportedDrops);
        }
    }

    // A healthy sender, and the kernel dropped nothing or something.
    void monitorFailsOnKernelDrops_data()
    {
        QTest::addColumn<quint64>("drops");
        QTest::addColumn<int>("verdict");
        QTest::newRow("none dropped") << quint64(0) << 0;
        QTest::newRow("one dropped") << quint64(1) << 1;
    }

    void monitorFailsOnKernelDrops()
    {
        QFETCH(quint64, drops);
        QFETCH(int, verdict);
        TestSupport::FedMonitor monitor;
        TimecodeRecord record{0, 0, 0, 0, 1};
        for (int i = 0; i < 3; ++i) {
            monitor.arrived(record, kA, i * 40'000'000);
            record = Timecode::next(record);
        }
        monitor.kernelDrops = drops;
        QCOMPARE(monitor.verdictAt(100'000'000), verdict);
    }

#ifdef CHRONOLUME_OWN_DESCRIPTOR
    // The real socket, its buffer made small and left unread: what it did not keep, it counts,
    // and the count goes on across a reopen.
    void theSocketCountsWhatTheKernelDropped()
    {
        REQUIRE_PRIVATE_NETWORK();
        ArtNetReceive::DescriptorSocket socket(6460);
        QVERIFY(socket.open(true, [] {}));
        const int small = 4096;
        QVERIFY(setsockopt(socket.descriptor(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small) == 0);
        QUdpSocket sender;
        const QByteArray datagram = artTimeCode(1, 2, 3, 4, 1);
        constexpr int kSent = 200;
        for (int i = 0; i < kSent; ++i)
            QCOMPARE(sender.writeDatagram(datagram, QHostAddress::LocalHost, 6460),
                     qint64(datagram.size()));
        int received = 0;
        socket.drain([&](const char*, int, const QHostAddress&, qint64) {
            ++received;
            return true;
        });
        QVERIFY(received > 0 && received < kSent);
        // The last datagram kept carries the count of those dropped before it; the ones dropped
        // after it are told by the next datagram that gets in.
        QCOMPARE(sender.writeDatagram(datagram, QHostAddress::LocalHost, 6460),
                 qint64(datagram.size()));
        socket.drain([&](const char*, int, const QHostAddress&, qint64) {
            ++received;
            return true;
        });
        QCOMPARE(qint64(socket.kernelDrops()), qint64(kSent + 1 - received));
        const quint64 before = socket.kernelDrops();
        socket.close();
        QVERIFY(socket.open(true, [] {}));
        QCOMPARE(socket.kernelDrops(), before);
    }
#endif
};

QTEST_GUILESS_MAIN(NodeSeamTest)
#include "tst_nodeseam.moc"
