// The pacing of a stream with a clock stepped by hand: deadlines from the frame number, late
// wakeups that skip stale frames instead of bursting, the end of counted runs and stopping; and
// the status line send shows while it paces.
#include "framepacer.h"
#include "send/sendreport.h"

#include <QtTest>

namespace {

// Starts far from zero, so a deadline taken as absolute instead of from the start shows.
constexpr qint64 kStart = 7000000000;

// Every sleep ends at its deadline plus the lateness the table gives for that sleep; the sleep
// the table names instead raises the stop flag and ends half way, as a signal would.
class SteppedClock : public PacingClock
{
public:
    SteppedClock(QList<qint64> lateNs, int stopAtSleep, std::atomic<bool>& stop)
        : late(std::move(lateNs)), stopAt(stopAtSleep), stopFlag(stop)
    {
    }

    qint64 now() override { return time; }

    void sleepUntil(qint64 deadline) override
    {
        const int index = sleeps++;
        if (index == stopAt) {
            stopFlag.store(true);
            time += (qMax(time, deadline) - time) / 2;
            return;
        }
        time = qMax(time, deadline) + late.value(index, 0);
    }

    qint64 time = kStart;
    int sleeps = 0;

private:
    QList<qint64> late;
    int stopAt;
    std::atomic<bool>& stopFlag;
};

} // namespace

class FramePacerTest : public QObject
{
    Q_OBJECT

private slots:
    void deadlines_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<qint64>("frame");
        QTest::addColumn<qint64>("deadlineNs");
        QTest::newRow("24: frame 1") << 0 << qint64(1) << qint64(41666666);
        QTest::newRow("24: frame 3 is exactly 125 ms") << 0 << qint64(3) << qint64(125000000);
        QTest::newRow("25: frame 1") << 1 << qint64(1) << qint64(40000000);
        QTest::newRow("29.97: frame 1") << 2 << qint64(1) << qint64(33366666);
        QTest::newRow("29.97: frame 3 is exactly 100.1 ms") << 2 << qint64(3) << qint64(100100000);
        // A period added up 107892 times would be off by the rounding of each addition.
        QTest::newRow("29.97: an hour of timecode is 3603.6 s")
            << 2 << qint64(107892) << qint64(3599996400000);
        QTest::newRow("29.97: 30000 frames are 1001 s")
            << 2 << qint64(30000) << qint64(1001000000000);
        QTest::newRow("29.97: a year of frames, no overflow")
            << 2 << qint64(946080000) << qint64(31567536000000000);
        QTest::newRow("30: a day") << 3 << qint64(2592000) << qint64(86400000000000);
    }

    void deadlines()
    {
        QFETCH(int, type);
        QFETCH(qint64, frame);
        QFETCH(qint64, deadlineNs);
        QCOMPARE(FrameSchedule::forType(quint8(type)).deadline(frame), deadlineNs);
    }

    void run_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<qint64>("frameCount");
        QTest::addColumn<QList<qint64>>("lateNs"); // per sleep, in order
        QTest::addColumn<int>("stopAtSleep");
        QTest::addColumn<QStringList>("sends"); // "frame@ns since the start"
        QTest::addColumn<qint64>("skipped");
        QTest::addColumn<qint64>("elapsedNs");

        const QList<qint64> none;
        QTest::newRow("25, on time: each frame at its deadline, the run lasts 5 periods")
            << 1 << qint64(5) << none << -1
            << QStringList{"0@0", "1@40000000", "2@80000000", "3@120000000", "4@160000000"}
            << qint64(0) << qint64(200000000);
        QTest::newRow("29.97, on time: deadlines in exact nanoseconds")
            << 2 << qint64(4) << none << -1
            << QStringList{"0@0", "1@33366666", "2@66733333", "3@100100000"} << qint64(0)
            << qint64(133466666);
        QTest::newRow("every wakeup 1 ms late: the lateness does not add up")
            << 1 << qint64(4) << QList<qint64>{1000000, 1000000, 1000000, 1000000, 0} << -1
            << QStringList{"0@1000000", "1@41000000", "2@81000000", "3@121000000"} << qint64(0)
            << qint64(160000000);
        QTest::newRow("half a period late: that frame goes late, the next on time")
            << 1 << qint64(4) << QList<qint64>{0, 0, 20000000} << -1
            << QStringList{"0@0", "1@40000000", "2@100000000", "3@120000000"} << qint64(0)
            << qint64(160000000);
        QTest::newRow("exactly one period late: not stale, sent with the next")
            << 1 << qint64(4) << QList<qint64>{0, 0, 40000000} << -1
            << QStringList{"0@0", "1@40000000", "2@120000000", "3@120000000"} << qint64(0)
            << qint64(160000000);
        QTest::newRow("2.5 periods late: two stale frames skipped, no burst")
            << 1 << qint64(7) << QList<qint64>{0, 0, 100000000} << -1
            << QStringList{"0@0", "1@40000000", "4@180000000", "5@200000000", "6@240000000"}
            << qint64(2) << qint64(280000000);
        QTest::newRow("29.97, 1.2 periods late: one frame skipped")
            << 2 << qint64(4) << QList<qint64>{0, 40040000} << -1
            << QStringList{"0@0", "2@73406666", "3@100100000"} << qint64(1) << qint64(133466666);
        QTest::newRow("a stall past the end of a counted run: the rest is skipped")
            << 1 << qint64(5) << QList<qint64>{0, 1000000000} << -1 << QStringList{"0@0"}
            << qint64(4) << qint64(1040000000);
        QTest::newRow("stopped while waiting for frame 3: ends there, at once")
            << 1 << qint64(10) << none << 3 << QStringList{"0@0", "1@40000000", "2@80000000"}
            << qint64(0) << qint64(100000000);
        QTest::newRow("no count: runs until stopped")
            << 3 << qint64(-1) << none << 5
            << QStringList{"0@0", "1@33333333", "2@66666666", "3@100000000", "4@133333333"}
            << qint64(0) << qint64(149999999);
        QTest::newRow("stopped before the first frame: nothing sent")
            << 1 << qint64(3) << none << 0 << QStringList() << qint64(0) << qint64(0);
    }

    void run()
    {
        QFETCH(int, type);
        QFETCH(qint64, frameCount);
        QFETCH(QList<qint64>, lateNs);
        QFETCH(int, stopAtSleep);
        QFETCH(QStringList, sends);
        QFETCH(qint64, skipped);
        QFETCH(qint64, elapsedNs);

        std::atomic<bool> stop{false};
        SteppedClock clock(lateNs, stopAtSleep, stop);
        QStringList seen;
        const PacingResult result = runPaced(
            FrameSchedule::forType(quint8(type)), clock, frameCount, stop, [&](qint64 frame) {
                seen.append(QStringLiteral("%1@%2").arg(frame).arg(clock.time - kStart));
            });
        QCOMPARE(seen, sends);
        QCOMPARE(result.sent, qint64(sends.size()));
        QCOMPARE(result.skipped, skipped);
        QCOMPARE(result.elapsedNs, elapsedNs);
    }

    // Failures show from the first on, with the words of the first; on a terminal the line is
    // cut so that it never wraps.
    void sendStatusLine_data()
    {
        QTest::addColumn<qint64>("sent");
        QTest::addColumn<qint64>("failed");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("line");
        QTest::newRow("all sent") << 27ll << 0ll << 0 << "01:02:03:04  25 fps  27 frames sent";
        QTest::newRow("the first failure")
            << 1ll << 1ll << 0
            << "01:02:03:04  25 fps  1 of 1 frames failed; the first failure: "
               "Network is unreachable";
        // That line is 85 characters.
        QTest::newRow("86 columns: whole")
            << 68ll << 3ll << 86
            << "01:02:03:04  25 fps  3 of 68 frames failed; the first failure: "
               "Network is unreachable";
        QTest::newRow("85 columns: cut by one")
            << 68ll << 3ll << 85
            << "01:02:03:04  25 fps  3 of 68 frames failed; the first failure: "
               "Network is unreachabl";
    }
    void sendStatusLine()
    {
        QFETCH(qint64, sent);
        QFETCH(qint64, failed);
        QFETCH(int, width);
        QFETCH(QString, line);
        TimecodeRecord record;
        record.hours = 1;
        record.minutes = 2;
        record.seconds = 3;
        record.frames = 4;
        record.type = 1;
        QCOMPARE(statusText(record, sent, 1, failed,
                            failed > 0 ? QStringLiteral("Network is unreachable") : QString(),
                            width),
                 line);
    }
};

QTEST_GUILESS_MAIN(FramePacerTest)
#include "tst_framepacer.moc"
