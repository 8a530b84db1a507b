// What `monitor` counts for each sender, fed with timecodes and arrival times by hand: the steps
// between frames, the measured rate, the jitter, stops and the exit status, and the lines the
// figures are printed in.
#include "fedmonitor.h"
#include "monitor/healthreport.h"
#include "monitor/timecodehealth.h"
#include "timecode.h"

#include <QtTest>

#include <cmath>

using namespace TimecodeHealth;
using TestSupport::FedMonitor;

namespace {

const QHostAddress kDesk(QStringLiteral("10.0.0.7"));
const QHostAddress kBackup(QStringLiteral("10.0.0.8"));
constexpr qint64 kStart = 5'000'000'000; // any point of the monotonic clock

TimecodeRecord tc(const char* text, quint8 type)
{
    const QStringList parts = QString::fromLatin1(text).split(QLatin1Char(':'));
    TimecodeRecord r;
    r.hours = quint8(parts.at(0).toInt());
    r.minutes = quint8(parts.at(1).toInt());
    r.seconds = quint8(parts.at(2).toInt());
    r.frames = quint8(parts.at(3).toInt());
    r.type = type;
    return r;
}

// Nominal periods in nanoseconds, written out rather than taken from the code under test.
qint64 periodNs(quint8 type)
{
    switch (type) {
    case 0:
        return 41'666'667;
    case 1:
        return 40'000'000;
    case 2:
        return 33'366'667;
    default:
        return 33'333'333;
    }
}

// Feeds count frames from start on, every period ns; returns the last arrival.
qint64 feedSteady(FedMonitor& monitor, const QHostAddress& sender, quint8 type, int count,
                  double period, qint64 from = kStart)
{
    // Counted in plain numbering from 00:00:00:00; a test stays within the first minute, where
    // drop-frame numbering skips nothing.
    const int perSecond = type == 0 ? 24 : type == 1 ? 25 : 30;
    qint64 at = from;
    for (int i = 0; i < count; ++i) {
        TimecodeRecord r;
        r.type = type;
        r.frames = quint8(i % perSecond);
        r.seconds = quint8(i / perSecond);
        at = from + std::llround(double(i) * period);
        monitor.arrived(r, sender, at);
    }
    return at;
}

} // namespace

class TimecodeHealthTest : public QObject
{
    Q_OBJECT

private slots:
    // Timecodes one nominal period apart; only the step from each to the next is judged.
    void stepsAreSorted_data()
    {
        QTest::addColumn<QStringList>("timecodes");
        QTest::addColumn<QList<int>>("types"); // one for all, or one per timecode
        QTest::addColumn<int>("missing");
        QTest::addColumn<int>("repeated");
        QTest::addColumn<int>("jumps");
        QTest::addColumn<int>("late");
        QTest::addColumn<int>("reverse");
        QTest::addColumn<bool>("conflict");

        const auto row = [](const char* name, const QStringList& timecodes, const QList<int>& types,
                            int missing, int repeated, int jumps, int late = 0, int reverse = 0,
                            bool conflict = false) {
            QTest::newRow(name) << timecodes << types << missing << repeated << jumps << late
                                << reverse << conflict;
        };
        // Frames counted down from 00:00:02:00 at 25 fps, `count` of them after the first.
        const auto backwards = [](int count) {
            QStringList list;
            for (int f = 50; f >= 50 - count; --f)
                list.append(QStringLiteral("00:00:%1:%2")
                                .arg(f / 25, 2, 10, QLatin1Char('0'))
                                .arg(f % 25, 2, 10, QLatin1Char('0')));
            return list;
        };
        row("25 fps counts through a second", {"00:00:00:23", "00:00:00:24", "00:00:01:00"}, {1}, 0,
            0, 0);
        row("24 fps ends its second at frame 23", {"00:00:00:22", "00:00:00:23", "00:00:01:00"},
            {0}, 0, 0, 0);
        row("30 fps wraps at midnight", {"23:59:59:28", "23:59:59:29", "00:00:00:00"}, {3}, 0, 0,
            0);
        row("drop-frame skips 00 and 01 at a minute", {"00:00:59:29", "00:01:00:02"}, {2}, 0, 0, 0);
        row("drop-frame keeps 00 at each tenth minute", {"00:09:59:29", "00:10:00:00"}, {2}, 0, 0,
            0);
        row("drop-frame: one frame after the skipped two is missing",
            {"00:00:59:29", "00:01:00:03"}, {2}, 1, 0, 0);
        row("three frames skipped are missing", {"00:00:00:00", "00:00:00:04"}, {1}, 3, 0, 0);
        row("ten skipped are still missing", {"00:00:00:00", "00:00:00:11"}, {1}, 10, 0, 0);
        row("eleven skipped are a locate", {"00:00:00:00", "00:00:00:12"}, {1}, 0, 0, 1);
        row("a gap across midnight is missing", {"23:59:59:23", "00:00:00:01"}, {1}, 2, 0, 0);
        row("the same timecode again is repeated", {"00:00:00:05", "00:00:00:05", "00:00:00:05"},
            {1}, 0, 2, 0);
        row("a frame after its successor is late and no longer missing",
            {"00:00:00:10", "00:00:00:12", "00:00:00:11", "00:00:00:13"}, {1}, 0, 0, 0, 1);
        row("ten back is late", {"00:00:00:20", "00:00:00:10"}, {1}, 0, 0, 0, 1);
        row("eleven back is a jump", {"00:00:00:20", "00:00:00:09"}, {1}, 0, 0, 1);
        row("a late frame held is late once, then repeated",
            {"00:00:00:10", "00:00:00:12", "00:00:00:11", "00:00:00:11", "00:00:00:11",
             "00:00:00:13"},
            {1}, 0, 2, 0, 1);
        row("two frames back in a row are late", backwards(2), {1}, 0, 0, 0, 2);
        row("three frames back in a row are played backwards", backwards(3), {1}, 0, 0, 0, 0, 3);
        row("reverse playback for three seconds is neither late nor a jump", backwards(49), {1}, 0,
            0, 0, 0, 49);
        row("played backwards, then forwards again",
            {"00:00:00:10", "00:00:00:09", "00:00:00:08", "00:00:00:07", "00:00:00:08",
             "00:00:00:09"},
            {1}, 0, 0, 0, 0, 3);
        row("a second numbering stepping forward twice is a second source",
            {"00:00:00:00", "00:10:00:00", "00:00:00:01", "00:10:00:01", "00:00:00:02",
             "00:10:00:02"},
            {1}, 0, 0, 0, 0, 0, true);
        row("a second numbering stepping forward once is a locate and back",
            {"00:00:00:00", "00:10:00:00", "00:00:00:01", "00:10:00:01"}, {1}, 0, 0, 1, 0, 0,
            false);
        row("a second source a few frames behind",
            {"00:00:00:10", "00:00:00:05", "00:00:00:11", "00:00:00:06", "00:00:00:12",
             "00:00:00:07"},
            {1}, 0, 0, 0, 1, 0, true);
        row("two sources alternating between Types",
            {"00:00:00:00", "00:00:00:00", "00:00:00:01", "00:00:00:01", "00:00:00:02",
             "00:00:00:02"},
            {1, 3, 1, 3, 1, 3}, 0, 0, 0, 0, 0, true);
        row("a locate forward is a jump", {"00:00:00:05", "01:00:00:00"}, {1}, 0, 0, 1);
        row("a restart is a jump", {"00:10:00:05", "00:00:00:00", "00:00:00:01"}, {1}, 0, 0, 1);
        row("a change of Type is a jump, even on the next frame number",
            {"00:00:00:05", "00:00:00:06", "00:00:00:07"}, {1, 3, 3}, 0, 0, 1);
        row("the same numbers under another Type are not a repeat", {"00:00:00:05", "00:00:00:05"},
            {1, 3}, 0, 0, 1);
        row("a timecode outside its Type's numbering is a jump",
            {"00:00:00:05", "00:00:00:25", "00:00:00:05"}, {1}, 0, 0, 2);
        row("a dropped frame number at 29.97 is a jump", {"00:00:59:29", "00:01:00:00"}, {2}, 0, 0,
            1);
        row("an unknown Type has no numbering to follow", {"00:00:00:01", "00:00:00:02"}, {9}, 0, 0,
            1);
    }
    void stepsAreSorted()
    {
        QFETCH(QStringList, timecodes);
        QFETCH(QList<int>, types);
        QFETCH(int, missing);
        QFETCH(int, repeated);
        QFETCH(int, jumps);
        QFETCH(int, late);
        QFETCH(int, reverse);
        QFETCH(bool, conflict);

        FedMonitor monitor;
        for (int i = 0; i < timecodes.size(); ++i) {
            const quint8 type = quint8(types.size() == 1 ? types.at(0) : types.at(i));
            monitor.arrived(tc(timecodes.at(i).toLatin1().constData(), type), kDesk,
                            kStart + i * 40'000'000);
        }
        QCOMPARE(monitor.senders().size(), 1);
        const SenderStats& s = monitor.senders().at(0);
        QCOMPARE(s.frames, qint64(timecodes.size()));
        QCOMPARE(s.missing, qint64(missing));
        QCOMPARE(s.repeated, qint64(repeated));
        QCOMPARE(s.jumps, qint64(jumps));
        QCOMPARE(s.late, qint64(late));
        QCOMPARE(s.reverse, qint64(reverse));
        QCOMPARE(s.conflict, conflict);
        // The newest frame of the sender's numbering, which a late last frame leaves as it was
        // (the rows whose late frames come last are the ones no longer than the steps they
        // need).
        if (!conflict && (late == 0 || timecodes.size() > 2 + late + repeated))
            QCOMPARE(Timecode::text(s.last), timecodes.last());
        QCOMPARE(monitor.verdictAt(kStart + 40'000'000 * timecodes.size()),
                 missing + jumps > 0 || conflict ? 1 : 0);
    }

    // A sender at exactly its nominal rate for four seconds: measured on the spot, no jitter,
    // healthy. The same sender 2 % fast or slow is off; 0.5 % is within the tolerance.
    void measuredRate_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("speed"); // the sender's rate as a share of nominal
        QTest::addColumn<double>("fps");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<int>("copies"); // datagrams per frame, the later ones 1 ms apart

        const double rates[] = {24.0, 25.0, 30000.0 / 1001.0, 30.0};
        const char* names[] = {"24", "25", "29.97", "30"};
        for (int type = 0; type < 4; ++type) {
            QTest::addRow("%s fps on time is healthy", names[type])
                << type << 1.0 << rates[type] << 0 << 1;
            QTest::addRow("%s fps 2 %% fast is off", names[type])
                << type << 1.02 << rates[type] * 1.02 << 1 << 1;
            QTest::addRow("%s fps 2 %% slow is off", names[type])
                << type << 0.98 << rates[type] * 0.98 << 1 << 1;
            QTest::addRow("%s fps 0.5 %% slow is within", names[type])
                << type << 0.995 << rates[type] * 0.995 << 0 << 1;
        }
        QTest::newRow("25 fps sent twice: healthy at 25, its copies duplicates")
            << 1 << 1.0 << 25.0 << 0 << 2;
    }
    void measuredRate()
    {
        QFETCH(int, type);
        QFETCH(double, speed);
        QFETCH(double, fps);
        QFETCH(int, verdict);
        QFETCH(int, copies);

        FedMonitor monitor;
        const quint8 t = quint8(type);
        qint64 at = kStart;
        TimecodeRecord r;
        r.type = t;
        const int frames = int(4 * fps) + 1;
        const int perSecond = type == 0 ? 24 : type == 1 ? 25 : 30;
        for (int i = 0; i < frames; ++i) {
            at = kStart + std::llround(double(i) * double(periodNs(t)) / speed);
            for (int copy = 0; copy < copies; ++copy)
                monitor.arrived(r, kDesk, at + copy * 1'000'000);
            // Four seconds from 00:00:00:00 never reach a minute that drop-frame shortens.
            if (++r.frames == perSecond) {
                r.frames = 0;
                ++r.seconds;
            }
        }
        const SenderStats& s = monitor.senders().at(0);
        QVERIFY2(std::fabs(s.measuredFps() - fps) < 0.001,
                 qPrintable(QString::number(s.measuredFps(), 'f', 6)));
        QCOMPARE(s.missing + s.jumps + s.repeated, qint64(0));
        QCOMPARE(s.frames, qint64(frames));
        QCOMPARE(s.duplicate, qint64(frames) * (copies - 1));
        QCOMPARE(monitor.verdictAt(at), verdict);
        if (speed == 1.0)
            QCOMPARE(row(s, at).jitterP99Ms, 0.0);
    }

    // |interval - period| over 101 frames at 25 fps: 98 on time, one 3 ms late (which makes its
    // successor 3 ms early) gives p50 0 and p99 about 3. Below 128 µs a value is kept exactly;
    // above, a percentile is the middle of its bucket, one 64th of its power of two wide.
    void jitterPercentiles_data()
    {
        QTest::addColumn<QList<qint64>>("offsetsUs"); // per interval, added to 40 ms
        QTest::addColumn<double>("p50");
        QTest::addColumn<double>("p99");

        QList<qint64> late(100, 0);
        late[40] = 3000;
        late[41] = -3000;
        // 3 ms in the 32 µs bucket from 2.976 ms.
        QTest::newRow("one late frame shows at p99 only") << late << 0.0 << 2.9915;
        QList<qint64> half(100, 0);
        for (int i = 0; i < 50; ++i)
            half[i] = 127;
        for (int i = 50; i < 100; ++i)
            half[i] = -1234; // in the 16 µs bucket from 1.232 ms
        QTest::newRow("half late, half early") << half << 0.127 << 1.2395;
        // In the 128 µs bucket from 9.984 ms: not its lower edge, and off by half a bucket at
        // most.
        QList<qint64> above(100, 10'099);
        QTest::newRow("10.099 ms within its bucket") << above << 10.0475 << 10.0475;
    }
    void jitterPercentiles()
    {
        QFETCH(QList<qint64>, offsetsUs);
        QFETCH(double, p50);
        QFETCH(double, p99);

        FedMonitor monitor;
        qint64 at = kStart;
        TimecodeRecord r;
        r.type = 1;
        monitor.arrived(r, kDesk, at);
        for (const qint64 offset : offsetsUs) {
            at += 40'000'000 + offset * 1000;
            r.frames = quint8((r.frames + 1) % 25);
            r.seconds = quint8(r.frames == 0 ? r.seconds + 1 : r.seconds);
            monitor.arrived(r, kDesk, at);
        }
        const Row figures = row(monitor.senders().at(0), at);
        QCOMPARE(figures.jitterP50Ms, p50);
        QCOMPARE(figures.jitterP99Ms, p99);
    }

    // Silent for more than a second is stopped; a sender that comes back runs again, but the
    // run was not healthy. The second of silence does not count into the rate.
    void stopAndResume()
    {
        FedMonitor monitor;
        qint64 at = feedSteady(monitor, kDesk, 1, 51, 40e6);
        QCOMPARE(monitor.verdictAt(at + 1'000'000'000), 0);
        QCOMPARE(row(monitor.senders().at(0), at + 1'000'000'000).stopped, false);
        QCOMPARE(row(monitor.senders().at(0), at + 1'000'000'001).stopped, true);
        QCOMPARE(monitor.verdictAt(at + 1'000'000'001), 1);

        // Resumes 1.5 s later where it left off.
        TimecodeRecord next = monitor.senders().at(0).last;
        next.frames = quint8(next.frames + 1);
        at += 1'500'000'000;
        monitor.arrived(next, kDesk, at);
        const SenderStats& s = monitor.senders().at(0);
        QCOMPARE(row(s, at).stopped, false);
        QVERIFY(s.everStopped);
        QCOMPARE(s.missing + s.jumps, qint64(0));
        QCOMPARE(s.measuredFps(), 25.0);
        QCOMPARE(monitor.verdictAt(at), 1);
    }

    // A sender silent for a while, then back where its timecode would be by then. Silent for
    // more than a second is a dropout, its time added up; back within the second, nothing.
    void dropouts_data()
    {
        QTest::addColumn<qint64>("silenceNs"); // between the last frame before and the first after
        QTest::addColumn<int>("dropouts");
        QTest::addColumn<int>("jumps");
        QTest::addColumn<QString>("reasons");
        QTest::newRow("exactly one second is still running: the frames since are a jump")
            << qint64(1'000'000'000) << 0 << 1 << "jumps 1, 16.892 fps, not 25.000";
        QTest::newRow("a nanosecond more is a dropout")
            << qint64(1'000'000'001) << 1 << 0 << "1.0 s without timecode";
        QTest::newRow("four seconds: one dropout, no jump")
            << qint64(4'000'000'000) << 1 << 0 << "4.0 s without timecode";
    }
    void dropouts()
    {
        QFETCH(qint64, silenceNs);
        QFETCH(int, dropouts);
        QFETCH(int, jumps);
        QFETCH(QString, reasons);

        FedMonitor monitor;
        qint64 at = feedSteady(monitor, kDesk, 1, 50, 40e6);
        // Back where 25 fps would be after the silence.
        const TimecodeRecord back =
            Timecode::offset(monitor.senders().at(0).last, silenceNs / 40'000'000);
        at += silenceNs;
        monitor.arrived(back, kDesk, at);
        const SenderStats& s = monitor.senders().at(0);
        QCOMPARE(s.dropouts, qint64(dropouts));
        QCOMPARE(s.silentNs, dropouts ? silenceNs : 0);
        QCOMPARE(s.jumps, qint64(jumps));
        QCOMPARE(s.missing, qint64(0));
        QCOMPARE(s.reasonsAt(at).join(QStringLiteral(", ")), reasons);
        QCOMPARE(monitor.verdictAt(at), 1);
        QCOMPARE(row(s, at).dropouts, qint64(dropouts));
    }

    // Why a run is unhealthy, in the lines below the final table: the address, the stream where
    // there is one, and every fault, most telling first.
    void reasonLinesName_data()
    {
        QTest::addColumn<int>("stream");
        QTest::addColumn<QStringList>("timecodes");
        QTest::addColumn<qint64>("endNs"); // after the last frame
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("healthy: no line")
            << 0 << QStringList{"00:00:00:01", "00:00:00:02"} << qint64(0) << QStringList();
        QTest::newRow("stopped now, jumped before")
            << 0 << QStringList{"00:00:00:01", "00:00:09:00"} << qint64(2'500'000'000)
            << QStringList{"10.0.0.7: 2.5 s without timecode, jumps 1"};
        QTest::newRow("two sources on stream 2")
            << 2
            << QStringList{"00:00:00:00", "00:10:00:00", "00:00:00:01", "00:10:00:01",
                           "00:00:00:02"}
            << qint64(0) << QStringList{"10.0.0.7 stream 2: two sources"};
        QTest::newRow("missing frames") << 0 << QStringList{"00:00:00:01", "00:00:00:05"}
                                        << qint64(0) << QStringList{"10.0.0.7: missing 3"};
    }
    void reasonLinesName()
    {
        QFETCH(int, stream);
        QFETCH(QStringList, timecodes);
        QFETCH(qint64, endNs);
        QFETCH(QStringList, lines);

        FedMonitor monitor;
        qint64 at = kStart;
        for (const QString& text : timecodes) {
            monitor.arrived(tc(text.toLatin1().constData(), 1), kDesk, at, quint8(stream));
            at += 40'000'000;
        }
        monitor.arrived(tc("00:00:00:00", 1), kBackup, kStart); // another sender, healthy
        const qint64 end = at - 40'000'000 + endNs;
        QCOMPARE(reasonLines(rows(monitor, end)).mid(0, 1), lines);
        QCOMPARE(monitor.verdictAt(end), lines.isEmpty() ? 0 : 1);
    }

    // The same address under two StreamIds is two senders.
    void streamsAreSendersOfTheirOwn()
    {
        FedMonitor monitor;
        for (int i = 0; i < 10; ++i) {
            TimecodeRecord r = Timecode::offset(TimecodeRecord{0, 0, 0, 0, 1}, i);
            monitor.arrived(r, kDesk, kStart + i * 40'000'000, 0);
            monitor.arrived(Timecode::offset(r, 500), kDesk, kStart + i * 40'000'000 + 1000, 1);
        }
        QCOMPARE(monitor.senders().size(), 2);
        QCOMPARE(monitor.senders().at(1).stream, quint8(1));
        QCOMPARE(monitor.verdictAt(kStart + 400'000'000), 0);
    }

    void verdictNamesTheRun()
    {
        FedMonitor none;
        QCOMPARE(none.verdictAt(kStart), 3);

        FedMonitor two;
        const qint64 endA = feedSteady(two, kDesk, 1, 60, 40e6);
        feedSteady(two, kBackup, 1, 60, 40e6, kStart + 1'000'000);
        QCOMPARE(two.verdictAt(endA + 1'000'000), 0);
        QCOMPARE(two.senders().at(0).sender, kDesk);
        QCOMPARE(two.senders().at(1).sender, kBackup);

        // One frame lost by the backup makes the whole run unhealthy.
        TimecodeRecord skip = two.senders().at(1).last;
        skip.frames = quint8(skip.frames + 2);
        two.arrived(skip, kBackup, endA + 80'000'000);
        QCOMPARE(two.senders().at(1).missing, qint64(1));
        QCOMPARE(two.verdictAt(endA + 80'000'000), 1);
    }

    // The same figures as a JSON line and as a table.
    void printedForms()
    {
        Row r;
        r.sender = QStringLiteral("10.0.0.7");
        r.timecode = QStringLiteral("01:02:03:04");
        r.type = 2;
        r.rateName = QLatin1String(Timecode::rateName(2));
        r.frames = 1234;
        r.measuredFps = 29.97002997;
        r.missing = 3;
        r.repeated = 1;
        r.jumps = 0;
        r.late = 2;
        r.duplicate = 40;
        r.jitterP50Ms = 0.021;
        r.jitterP99Ms = 0.3126;
        r.reverse = 6;
        r.dropouts = 1;
        r.silentS = 4.0004;
        r.kernelDrops = 5;
        r.stopped = true;
        r.stream = 3;
        r.conflict = true;
        QCOMPARE(jsonLine(r, true),
                 QStringLiteral(
                     "{\"sender\":\"10.0.0.7\",\"stream\":3,\"timecode\":\"01:02:03:04\","
                     "\"type\":2,\"rate_name\":\"30 Drop\",\"frames\":1234,"
                     "\"measured_fps\":29.970,\"missing\":3,\"repeated\":1,\"jumps\":0,"
                     "\"late\":2,\"duplicate\":40,\"reverse\":6,\"dropout\":1,"
                     "\"silent_s\":4.000,\"jitter_p50_ms\":0.021,\"jitter_p99_ms\":0.313,"
                     "\"kernel_drops\":5,\"stopped\":true,\"conflict\":true,\"final\":true}"));
        r.stream = 0;
        r.conflict = false;

        Row second = r;
        second.sender = QStringLiteral("192.168.100.200");
        second.rateName = QLatin1String(Timecode::rateName(7));
        second.stopped = false;
        second.kernelDrops = 0;
        QCOMPARE(tableLines({r, second}),
                 QStringList({
                     "SENDER           TIMECODE     RATE     FRAMES  FPS     MISSING  "
                     "REPEATED  JUMPS  LATE  REVERSE  DUPLICATE  DROPOUTS  JITTER P50/P99 MS  "
                     "KERNEL DROPS  STATE",
                     "10.0.0.7         01:02:03:04  30 Drop  1234    29.970  3        "
                     "1         0      2     6        40         1         0.021/0.313        "
                     "5             stopped",
                     "192.168.100.200  01:02:03:04  unknown  1234    29.970  3        "
                     "1         0      2     6        40         1         0.021/0.313        "
                     "0             running",
                 }));
    }

    // On a terminal the table keeps within its width: the least important columns go first,
    // and every line stays one short of the last column, where a terminal would wrap.
    void tableFitsTheWidth_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("header");
        // The sender's line of the whole table is 163 characters long.
        const QString all =
            "SENDER              TIMECODE     RATE    FRAMES  FPS     MISSING  REPEATED  "
            "JUMPS  LATE  REVERSE  DUPLICATE  DROPOUTS  JITTER P50/P99 MS  KERNEL DROPS  STATE";
        QTest::newRow("no width: everything") << 0 << all;
        QTest::newRow("one column more than the line: everything") << 164 << all;
        QTest::newRow("as wide as the line: DUPLICATE goes first")
            << 163
            << "SENDER              TIMECODE     RATE    FRAMES  FPS     MISSING  REPEATED  "
               "JUMPS  LATE  REVERSE  DROPOUTS  JITTER P50/P99 MS  KERNEL DROPS  STATE";
        QTest::newRow("80 columns")
            << 80 << "SENDER              TIMECODE     RATE    FPS     MISSING  JUMPS  STATE";
        QTest::newRow("50 columns: address, timecode and state")
            << 50 << "SENDER              TIMECODE     STATE";
        QTest::newRow("40 columns: address and timecode") << 40 << "SENDER              TIMECODE";
        QTest::newRow("too narrow even for the address: cut") << 12 << "SENDER";
    }
    void tableFitsTheWidth()
    {
        QFETCH(int, width);
        QFETCH(QString, header);

        Row r;
        r.sender = QStringLiteral("10.0.0.7");
        r.stream = 12;
        r.timecode = QStringLiteral("01:02:03:04");
        r.rateName = QLatin1String(Timecode::rateName(1));
        r.measuredFps = 25;
        r.conflict = true;
        const QStringList lines = tableLines({r}, width);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0), header);
        QVERIFY(QStringLiteral("10.0.0.7 stream 12").startsWith(lines.at(1).left(18).trimmed()));
        for (const QString& line : lines)
            QVERIFY2(width == 0 || line.size() < width, qPrintable(line));
        if (width == 0 || width >= 50)
            QVERIFY(lines.at(1).endsWith(QStringLiteral("two sources")));
    }
};

QTEST_GUILESS_MAIN(TimecodeHealthTest)
#include "tst_timecodehealth.moc"
