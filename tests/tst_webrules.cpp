// What `web` tells its pages and how long it waits for a slow one, as plain tables: the state
// of each sender and each page's queue (one message per display frame at most, every frame while
// the page keeps up, the newest per sender held while behind, dropped when it stays behind or
// stops answering); and the addresses it names to open the page at.
#include "web/pageurls.h"
#include "web/webrules.h"

#include <QtTest>

using namespace WebRules;

namespace {

TimecodeRecord tc(quint8 hours, quint8 minutes, quint8 seconds, quint8 frames, quint8 type)
{
    TimecodeRecord record;
    record.hours = hours;
    record.minutes = minutes;
    record.seconds = seconds;
    record.frames = frames;
    record.type = type;
    return record;
}

// One step of a page's life at a time: a sender's state offered, or what waits asked for (at its
// due time, or because the socket wrote), with the bytes the socket still holds.
struct Step
{
    bool due = false;
    int sender = 0;
    QByteArray state;
    qint64 bytesToWrite = 0;
    qint64 nowNs = 0;
};

Step offer(int sender, const QByteArray& state, qint64 bytesToWrite, qint64 nowNs)
{
    return Step{false, sender, state, bytesToWrite, nowNs};
}

Step due(qint64 bytesToWrite, qint64 nowNs)
{
    return Step{true, 0, {}, bytesToWrite, nowNs};
}

constexpr qint64 kMs = 1'000'000;
// 1/60 s, as written here: 16,666,667 ns.
constexpr qint64 kFrame = 16'666'667;
// A sender at 30 frames a second.
constexpr qint64 kPeriod30 = 33'333'333;

} // namespace

Q_DECLARE_METATYPE(TimecodeRecord)
Q_DECLARE_METATYPE(QList<Step>)

class TestWebRules : public QObject
{
    Q_OBJECT

private slots:
    void message_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("stream");
        QTest::addColumn<QString>("name");
        QTest::addColumn<TimecodeRecord>("timecode");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<bool>("conflict");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("first stream, unnamed")
            << "10.0.0.5" << 0 << "" << tc(1, 2, 3, 4, 1) << false << false
            << QByteArray("{\"address\":\"10.0.0.5\",\"conflict\":false,\"n\":3,\"name\":\"\","
                          "\"rate\":\"25 FPS\","
                          "\"silent\":false,\"stream\":0,\"tc\":\"01:02:03:04\"}");
        QTest::newRow("stream 255, named, silent, two sources, drop-frame")
            << "192.168.1.20" << 255 << "Desk \"A\"" << tc(23, 59, 59, 29, 2) << true << true
            << QByteArray(
                   "{\"address\":\"192.168.1.20\",\"conflict\":true,\"n\":3,\"name\":\"Desk "
                   "\\\"A\\\"\","
                   "\"rate\":\"30 Drop\",\"silent\":true,\"stream\":255,\"tc\":\"23:59:59:29\"}");
        QTest::newRow("IPv4-mapped address written as IPv4")
            << "::ffff:10.0.0.6" << 1 << "" << tc(0, 0, 0, 0, 0) << false << false
            << QByteArray("{\"address\":\"10.0.0.6\",\"conflict\":false,\"n\":3,\"name\":\"\","
                          "\"rate\":\"24 FPS\","
                          "\"silent\":false,\"stream\":1,\"tc\":\"00:00:00:00\"}");
        QTest::newRow("unknown type, fields beyond their range as sent")
            << "10.0.0.5" << 0 << "" << tc(100, 61, 0, 30, 4) << false << false
            << QByteArray("{\"address\":\"10.0.0.5\",\"conflict\":false,\"n\":3,\"name\":\"\","
                          "\"rate\":\"unknown\","
                          "\"silent\":false,\"stream\":0,\"tc\":\"100:61:00:30\"}");
    }
    void message()
    {
        QFETCH(QString, address);
        QFETCH(int, stream);
        QFETCH(QString, name);
        QFETCH(TimecodeRecord, timecode);
        QFETCH(bool, silent);
        QFETCH(bool, conflict);
        QFETCH(QByteArray, expected);
        SenderView view;
        view.order = 3;
        view.address = QHostAddress(address);
        view.stream = quint8(stream);
        view.name = name;
        view.timecode = timecode;
        view.silent = silent;
        view.conflict = conflict;
        QCOMPARE(senderMessage(view), expected);
    }

    // The frame each message goes in: its length's three forms and their boundaries.
    void frame_data()
    {
        QTest::addColumn<int>("payloadBytes");
        QTest::addColumn<QByteArray>("header");

        // FIN and opcode 1 (text), then the length: no mask from a server.
        QTest::newRow("empty") << 0 << QByteArray("\x81\x00", 2);
        QTest::newRow("125: in 7 bits") << 125 << QByteArray("\x81\x7d", 2);
        QTest::newRow("126: 126 and 16 bits") << 126 << QByteArray("\x81\x7e\x00\x7e", 4);
        QTest::newRow("65535: 126 and 16 bits") << 65535 << QByteArray("\x81\x7e\xff\xff", 4);
        QTest::newRow("65536: 127 and 64 bits")
            << 65536 << QByteArray("\x81\x7f\x00\x00\x00\x00\x00\x01\x00\x00", 10);
    }
    void frame()
    {
        QFETCH(int, payloadBytes);
        QFETCH(QByteArray, header);
        const QByteArray payload(payloadBytes, 'x');
        QCOMPARE(textFrame(payload), header + payload);
    }

    // Each message written as "MICROSECONDS MESSAGE", the time it left.
    void queue_data()
    {
        QTest::addColumn<QList<Step>>("steps");
        QTest::addColumn<QByteArrayList>("written");
        QTest::addColumn<int>("waiting");
        QTest::addColumn<qint64>("dueAtNs");

        const qint64 behind = kBehindBytes;
        QTest::newRow("a display frame apart: each at once")
            << QList<Step>{offer(0, "a", 0, 0), offer(1, "b", 0, kFrame)}
            << QByteArrayList{"0 [a]", "16666 [b]"} << 0 << qint64(-1);
        QTest::newRow("one ns short of a display frame: waits")
            << QList<Step>{offer(0, "a", 0, 0), offer(1, "b", 0, kFrame - 1)}
            << QByteArrayList{"0 [a]"} << 1 << kFrame;
        QTest::newRow("what waits: not yet one ns short, then at the display frame")
            << QList<Step>{offer(0, "a", 0, 0), offer(1, "b", 0, 1 * kMs), due(0, kFrame - 1),
                           due(0, kFrame)}
            << QByteArrayList{"0 [a]", "16666 [b]"} << 0 << qint64(-1);
        QTest::newRow("one sender at 30 fps keeping up: every frame at once")
            << QList<Step>{offer(0, "f0", 0, 0), offer(0, "f1", 0, kPeriod30),
                           offer(0, "f2", 0, 2 * kPeriod30), offer(0, "f3", 0, 3 * kPeriod30)}
            << QByteArrayList{"0 [f0]", "33333 [f1]", "66666 [f2]", "99999 [f3]"} << 0
            << qint64(-1);
        QTest::newRow("eight senders within one display frame: one message")
            << QList<Step>{offer(0, "a0", 0, 0),        offer(0, "a1", 0, 1 * kMs),
                           offer(1, "b1", 0, 3 * kMs),  offer(2, "c1", 0, 5 * kMs),
                           offer(3, "d1", 0, 7 * kMs),  offer(4, "e1", 0, 9 * kMs),
                           offer(5, "f1", 0, 11 * kMs), offer(6, "g1", 0, 13 * kMs),
                           offer(7, "h1", 0, 15 * kMs), due(0, kFrame)}
            << QByteArrayList{"0 [a0]", "16666 [a1,b1,c1,d1,e1,f1,g1,h1]"} << 0 << qint64(-1);
        QTest::newRow("the display frame counts from the last message, not the last offer")
            << QList<Step>{offer(0, "a", 0, 0), offer(1, "b", 0, 10 * kMs), due(0, kFrame),
                           offer(0, "a2", 0, kFrame + 10 * kMs)}
            << QByteArrayList{"0 [a]", "16666 [b]"} << 1 << 2 * kFrame;
        QTest::newRow("a message that left late does not make the next one later")
            << QList<Step>{offer(0, "a", 0, 0), offer(1, "b", 0, 10 * kMs),
                           due(0, kFrame + 1 * kMs), offer(0, "c", 0, 2 * kFrame)}
            << QByteArrayList{"0 [a]", "17666 [b]", "33333 [c]"} << 0 << qint64(-1);
        QTest::newRow("... but one ns short of its display frame still waits")
            << QList<Step>{offer(0, "a", 0, 0), offer(1, "b", 0, 10 * kMs),
                           due(0, kFrame + 1 * kMs), offer(0, "c", 0, 2 * kFrame - 1)}
            << QByteArrayList{"0 [a]", "17666 [b]"} << 1 << 2 * kFrame;
        QTest::newRow("a sender late, two frames in one display frame: both, in order")
            << QList<Step>{offer(0, "a0", 0, 0), offer(1, "b0", 0, 2 * kMs),
                           offer(0, "a1", 0, 4 * kMs), offer(0, "a2", 0, 5 * kMs), due(0, kFrame)}
            << QByteArrayList{"0 [a0]", "16666 [b0,a1,a2]"} << 0 << qint64(-1);
        QTest::newRow("what gathers reaches the limit: leaves at once")
            << QList<Step>{offer(0, "a", 0, 0), offer(0, QByteArray(2000, 'b'), 0, 1 * kMs),
                           offer(1, QByteArray(2096, 'c'), 0, 2 * kMs)}
            << QByteArrayList{"0 [a]",
                              "2000 [" + QByteArray(2000, 'b') + ',' + QByteArray(2096, 'c') + ']'}
            << 0 << qint64(-1);
        QTest::newRow("what gathers one byte short of the limit: waits")
            << QList<Step>{offer(0, "a", 0, 0), offer(0, QByteArray(2000, 'b'), 0, 1 * kMs),
                           offer(1, QByteArray(2095, 'c'), 0, 2 * kMs)}
            << QByteArrayList{"0 [a]"} << 2 << kFrame;

        // A page found behind when something may leave: each sender's newest only, as the page
        // will show it once it reads, and its socket asked again a display frame later.
        QTest::newRow("one byte short of behind: at once")
            << QList<Step>{offer(0, "a", behind - 1, 0)} << QByteArrayList{"0 [a]"} << 0
            << qint64(-1);
        QTest::newRow("behind: held, asked again a display frame later")
            << QList<Step>{offer(0, "a", behind, 0)} << QByteArrayList{} << 1 << kFrame;
        QTest::newRow("behind: the newer replaces the older of its sender")
            << QList<Step>{offer(0, "a1", behind, 0), offer(0, "a2", behind, 1 * kMs),
                           due(0, kFrame)}
            << QByteArrayList{"16666 [a2]"} << 0 << qint64(-1);
        QTest::newRow("behind: one per sender")
            << QList<Step>{offer(1, "b", behind, 0), offer(0, "a", behind, 1 * kMs),
                           offer(1, "b2", behind, 2 * kMs)}
            << QByteArrayList{} << 2 << kFrame;
        QTest::newRow("found behind when what gathered may leave: each sender's newest stays")
            << QList<Step>{offer(0, "a0", 0, 0),       offer(0, "a1", 0, 1 * kMs),
                           offer(1, "b1", 0, 2 * kMs), offer(0, "a2", 0, 3 * kMs),
                           due(behind, kFrame),        due(0, 2 * kFrame)}
            << QByteArrayList{"0 [a0]", "33333 [b1,a2]"} << 0 << qint64(-1);
        QTest::newRow("drained to one byte short: all held go")
            << QList<Step>{offer(1, "b", behind, 0), offer(0, "a", behind, 1 * kMs),
                           offer(1, "b2", behind, 2 * kMs), due(behind - 1, kFrame)}
            << QByteArrayList{"16666 [a,b2]"} << 0 << qint64(-1);
        QTest::newRow("drained but still behind: nothing goes")
            << QList<Step>{offer(0, "a", behind, 0), due(behind, kFrame)} << QByteArrayList{} << 1
            << 2 * kFrame;
        QTest::newRow("behind, asked again one ns short of a display frame: waits")
            << QList<Step>{offer(0, "a", behind, 0), offer(1, "b", 0, kFrame - 1)}
            << QByteArrayList{} << 2 << kFrame;
        QTest::newRow("caught up at the next display frame: held first, each sender's newest")
            << QList<Step>{offer(0, "a", behind, 0), offer(1, "b", behind, 1 * kMs),
                           offer(0, "a2", 0, kFrame)}
            << QByteArrayList{"16666 [b,a2]"} << 0 << qint64(-1);
        QTest::newRow("behind, what gathered beyond the limit still waits the display frame")
            << QList<Step>{offer(0, "a", behind, 0), offer(1, QByteArray(5000, 'b'), 0, 1 * kMs),
                           due(0, 2 * kMs)}
            << QByteArrayList{} << 2 << kFrame;
        QTest::newRow("nothing held, asked: nothing")
            << QList<Step>{due(0, 0)} << QByteArrayList{} << 0 << qint64(-1);
    }
    void queue()
    {
        QFETCH(QList<Step>, steps);
        QFETCH(QByteArrayList, written);
        QFETCH(int, waiting);
        QFETCH(qint64, dueAtNs);
        ClientQueue queue;
        QByteArrayList out;
        for (const Step& step : steps) {
            // The socket is asked when the queue says something may leave, as the server does.
            const QList<QByteArray> states =
                step.due || queue.offer(step.sender, step.state, step.nowNs)
                    ? queue.due(step.bytesToWrite, step.nowNs)
                    : QList<QByteArray>{};
            if (!states.isEmpty())
                out.append(QByteArray::number(step.nowNs / 1000) + ' ' + joined(states));
        }
        QCOMPARE(out, written);
        QCOMPARE(queue.waiting(), waiting);
        QCOMPARE(queue.dueAtNs(), dueAtNs);
    }

    // Whether an offer has the server ask the page's socket: only when something may leave, so
    // that a crowd of sockets is not asked at every datagram.
    void asksTheSocket_data()
    {
        QTest::addColumn<bool>("foundBehind"); // at 0, by the first offer
        QTest::addColumn<int>("stateBytes");
        QTest::addColumn<qint64>("offeredAtNs");
        QTest::addColumn<bool>("expected");

        QTest::newRow("a display frame since the last message") << false << 1 << kFrame << true;
        QTest::newRow("one ns short of it") << false << 1 << kFrame - 1 << false;
        QTest::newRow("what gathered reaches the limit") << false << 4096 << 1 * kMs << true;
        QTest::newRow("what gathered one byte short of it") << false << 4095 << 1 * kMs << false;
        QTest::newRow("behind: a display frame since it was asked") << true << 1 << kFrame << true;
        QTest::newRow("behind: one ns short of it") << true << 1 << kFrame - 1 << false;
        QTest::newRow("behind: beyond the limit, one ns short")
            << true << 5000 << kFrame - 1 << false;
    }
    void asksTheSocket()
    {
        QFETCH(bool, foundBehind);
        QFETCH(int, stateBytes);
        QFETCH(qint64, offeredAtNs);
        QFETCH(bool, expected);
        ClientQueue queue;
        // Nothing was sent to a new page: its first state may leave at once.
        QVERIFY(queue.offer(0, "a", 0));
        QCOMPARE(queue.due(foundBehind ? kBehindBytes : 0, 0).size(), foundBehind ? 0 : 1);
        QCOMPARE(queue.offer(1, QByteArray(stateBytes, 'b'), offeredAtNs), expected);
    }

    // A page that was just sent every sender's state waits a display frame like any other.
    void sentBesideTheRules()
    {
        ClientQueue queue;
        queue.sent(0);
        QVERIFY(!queue.offer(0, "a", kFrame - 1));
        QCOMPARE(queue.dueAtNs(), kFrame);
    }

    void dropped_data()
    {
        QTest::addColumn<qint64>("behindAtNs");   // -1: never behind
        QTest::addColumn<qint64>("caughtUpAtNs"); // -1: still behind
        QTest::addColumn<qint64>("nowNs");
        QTest::addColumn<bool>("expected");

        QTest::newRow("never behind") << qint64(-1) << qint64(-1) << qint64(60e9) << false;
        QTest::newRow("behind exactly the limit")
            << qint64(5e9) << qint64(-1) << qint64(5e9) + kDropAfterNs << false;
        QTest::newRow("behind one ns past the limit")
            << qint64(5e9) << qint64(-1) << qint64(5e9) + kDropAfterNs + 1 << true;
        QTest::newRow("behind since the first offer, not the last")
            << qint64(0) << qint64(-1) << kDropAfterNs + 1 << true;
        QTest::newRow("caught up in time")
            << qint64(5e9) << qint64(6.5e9) << qint64(5e9) + kDropAfterNs + 1 << false;
    }
    void dropped()
    {
        QFETCH(qint64, behindAtNs);
        QFETCH(qint64, caughtUpAtNs);
        QFETCH(qint64, nowNs);
        QFETCH(bool, expected);
        ClientQueue queue;
        if (behindAtNs >= 0) {
            queue.offer(0, "a", behindAtNs);
            queue.due(kBehindBytes, behindAtNs);
            // Still behind a second later: the time counts from the first.
            queue.offer(0, "b", behindAtNs + 1'000'000'000);
            queue.due(kBehindBytes, behindAtNs + 1'000'000'000);
        }
        if (caughtUpAtNs >= 0)
            queue.due(0, caughtUpAtNs);
        QCOMPARE(queue.stayedBehind(nowNs), expected);
    }

    void unanswered_data()
    {
        QTest::addColumn<qint64>("answeredAtNs"); // -1: never
        QTest::addColumn<qint64>("nowNs");
        QTest::addColumn<bool>("expected");

        QTest::newRow("never answered: not judged") << qint64(-1) << qint64(60e9) << false;
        QTest::newRow("answered exactly the limit ago")
            << qint64(5e9) << qint64(5e9) + kUnansweredAfterNs << false;
        QTest::newRow("answered one ns more than the limit ago")
            << qint64(5e9) << qint64(5e9) + kUnansweredAfterNs + 1 << true;
        QTest::newRow("answered just now") << qint64(5e9) << qint64(5e9) << false;
    }
    void unanswered()
    {
        QFETCH(qint64, answeredAtNs);
        QFETCH(qint64, nowNs);
        QFETCH(bool, expected);
        ClientQueue queue;
        if (answeredAtNs >= 0) {
            queue.answered(answeredAtNs - 2'000'000'000); // the newest answer counts
            queue.answered(answeredAtNs);
        }
        QCOMPARE(queue.stayedBehind(nowNs), expected);
    }

    // Where web says to open its page, served on port 8080 of one address or of every one, on a
    // machine with 127.0.0.1, 192.168.50.5, 10.60.0.2, ::1, fe80::1 and 2001:db8::5.
    void pageUrls_data()
    {
        QTest::addColumn<QString>("served");
        QTest::addColumn<QStringList>("urls");
        QTest::newRow("one address") << "10.60.0.2" << QStringList{"http://10.60.0.2:8080/"};
        QTest::newRow("one IPv6 address") << "::1" << QStringList{"http://[::1]:8080/"};
        QTest::newRow("every address: IPv4, loopback last")
            << "any"
            << QStringList{"http://192.168.50.5:8080/", "http://10.60.0.2:8080/",
                           "http://127.0.0.1:8080/"};
        QTest::newRow("every IPv4 address")
            << "0.0.0.0"
            << QStringList{"http://192.168.50.5:8080/", "http://10.60.0.2:8080/",
                           "http://127.0.0.1:8080/"};
        QTest::newRow("every IPv6 address: no link-local one")
            << "::" << QStringList{"http://[2001:db8::5]:8080/", "http://[::1]:8080/"};
    }
    void pageUrls()
    {
        QFETCH(QString, served);
        QFETCH(QStringList, urls);
        const QList<QHostAddress> local = {QHostAddress("127.0.0.1"), QHostAddress("192.168.50.5"),
                                           QHostAddress("::1"),       QHostAddress("fe80::1"),
                                           QHostAddress("10.60.0.2"), QHostAddress("2001:db8::5")};
        const QHostAddress address =
            served == QLatin1String("any") ? QHostAddress(QHostAddress::Any) : QHostAddress(served);
        QCOMPARE(::pageUrls(address, local, 8080), urls);
    }

    // Every address, on a machine with no IPv4 address but loopback's IPv6 one.
    void pageUrlsWithoutIpv4()
    {
        QCOMPARE(::pageUrls(QHostAddress(QHostAddress::Any), {QHostAddress("::1")}, 80),
                 QStringList{"http://[::1]:80/"});
    }
};

QTEST_GUILESS_MAIN(TestWebRules)
#include "tst_webrules.moc"
