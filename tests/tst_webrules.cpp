// What `web` tells its pages and how long it waits for a slow one, as plain tables: the message
// for each sender and each page's queue (sent at once, the newest
// per sender held while behind, dropped when it stays behind or stops answering); and the
// addresses it names to open the page at.
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

// One step of a page's life: a sender's message offered, or the socket draining, with the bytes
// the socket still holds and the time.
struct Step
{
    bool drain = false;
    int sender = 0;
    QByteArray message;
    qint64 bytesToWrite = 0;
};

Step offer(int sender, const char* message, qint64 bytesToWrite)
{
    return Step{false, sender, QByteArray(message), bytesToWrite};
}

Step drain(qint64 bytesToWrite)
{
    return Step{true, 0, {}, bytesToWrite};
}

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

    void queue_data()
    {
        QTest::addColumn<QList<Step>>("steps");
        QTest::addColumn<QByteArrayList>("written");
        QTest::addColumn<int>("waiting");

        const qint64 behind = kBehindBytes;
        QTest::newRow("keeping up: at once")
            << QList<Step>{offer(0, "a", 0), offer(1, "b", 0)} << QByteArrayList{"a", "b"} << 0;
        QTest::newRow("one byte short of behind: at once")
            << QList<Step>{offer(0, "a", behind - 1)} << QByteArrayList{"a"} << 0;
        QTest::newRow("behind: held")
            << QList<Step>{offer(0, "a", behind)} << QByteArrayList{} << 1;
        QTest::newRow("behind: the newer replaces the older of its sender")
            << QList<Step>{offer(0, "a1", behind), offer(0, "a2", behind), drain(0)}
            << QByteArrayList{"a2"} << 0;
        QTest::newRow("behind: one per sender, in first-heard order")
            << QList<Step>{offer(1, "b", behind), offer(0, "a", behind), offer(1, "b2", behind)}
            << QByteArrayList{} << 2;
        QTest::newRow("drained to one byte short: all held go")
            << QList<Step>{offer(1, "b", behind), offer(0, "a", behind), drain(behind - 1)}
            << QByteArrayList{"a", "b"} << 0;
        QTest::newRow("drained but still behind: nothing goes")
            << QList<Step>{offer(0, "a", behind), drain(behind)} << QByteArrayList{} << 1;
        QTest::newRow("caught up on the next offer: held first, per sender newest")
            << QList<Step>{offer(0, "a", behind), offer(1, "b", behind), offer(0, "a2", 0)}
            << QByteArrayList{"a2", "b"} << 0;
        QTest::newRow("nothing held, drained: nothing")
            << QList<Step>{drain(0)} << QByteArrayList{} << 0;
    }
    void queue()
    {
        QFETCH(QList<Step>, steps);
        QFETCH(QByteArrayList, written);
        QFETCH(int, waiting);
        ClientQueue queue;
        QByteArrayList out;
        for (const Step& step : steps)
            out += step.drain ? queue.drained(step.bytesToWrite)
                              : queue.offer(step.sender, step.message, step.bytesToWrite, 0);
        QCOMPARE(out, written);
        QCOMPARE(queue.waiting(), waiting);
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
            << qint64(5e9) << qint64(6e9) << qint64(5e9) + kDropAfterNs + 1 << false;
    }
    void dropped()
    {
        QFETCH(qint64, behindAtNs);
        QFETCH(qint64, caughtUpAtNs);
        QFETCH(qint64, nowNs);
        QFETCH(bool, expected);
        ClientQueue queue;
        if (behindAtNs >= 0) {
            queue.offer(0, "a", kBehindBytes, behindAtNs);
            // Still behind a second later: the time counts from the first.
            queue.offer(0, "b", kBehindBytes, behindAtNs + 1'000'000'000);
        }
        if (caughtUpAtNs >= 0)
            queue.drained(0);
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
