// The timecode vocabulary: what each ArtTimeCode Type means, the text of a record, which
// timecodes exist at each rate, the frame after each, frame numbers to timecodes and back over
// whole days, and how one received timecode steps to the next.
#include "timecode.h"

#include <QtTest>

Q_DECLARE_METATYPE(TimecodeRecord)

namespace {

TimecodeRecord tc(int hours, int minutes, int seconds, int frames, int type)
{
    TimecodeRecord record;
    record.hours = quint8(hours);
    record.minutes = quint8(minutes);
    record.seconds = quint8(seconds);
    record.frames = quint8(frames);
    record.type = quint8(type);
    return record;
}

QString text(const TimecodeRecord& r)
{
    return QString::asprintf("%02d:%02d:%02d:%02d type %d", r.hours, r.minutes, r.seconds, r.frames,
                             r.type);
}

} // namespace

class TimecodeTest : public QObject
{
    Q_OBJECT

private slots:
    void vocabulary_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<qint64>("numerator");
        QTest::addColumn<qint64>("denominator");
        QTest::addColumn<qint64>("periodNs");
        QTest::addColumn<bool>("dropFrame");
        QTest::addColumn<QString>("name");
        QTest::newRow("film") << 0 << qint64(1) << qint64(24) << qint64(41666667) << false
                              << "24 FPS";
        QTest::newRow("EBU") << 1 << qint64(1) << qint64(25) << qint64(40000000) << false
                             << "25 FPS";
        QTest::newRow("drop-frame")
            << 2 << qint64(1001) << qint64(30000) << qint64(33366667) << true << "30 Drop";
        QTest::newRow("SMPTE") << 3 << qint64(1) << qint64(30) << qint64(33333333) << false
                               << "30 FPS";
        QTest::newRow("unknown") << 4 << qint64(0) << qint64(1) << qint64(0) << false << "unknown";
    }

    void vocabulary()
    {
        QFETCH(int, type);
        QFETCH(qint64, numerator);
        QFETCH(qint64, denominator);
        QFETCH(qint64, periodNs);
        QFETCH(bool, dropFrame);
        QFETCH(QString, name);
        const Timecode::Rate rate = Timecode::rate(quint8(type));
        QCOMPARE(rate.periodNumerator, numerator);
        QCOMPARE(rate.periodDenominator, denominator);
        QCOMPARE(Timecode::periodNs(quint8(type)), periodNs);
        QCOMPARE(rate.dropFrame, dropFrame);
        QCOMPARE(Timecode::isDropFrame(quint8(type)), dropFrame);
        QCOMPARE(QLatin1String(Timecode::rateName(quint8(type))), name);
        QCOMPARE(Timecode::isKnownType(quint8(type)), numerator > 0);
    }

    void recordText_data()
    {
        QTest::addColumn<TimecodeRecord>("record");
        QTest::addColumn<QString>("expected");
        QTest::newRow("midnight") << tc(0, 0, 0, 0, 1) << "00:00:00:00";
        QTest::newRow("every field") << tc(1, 23, 45, 12, 1) << "01:23:45:12";
        QTest::newRow("larger values as received") << tc(255, 100, 99, 42, 7) << "255:100:99:42";
    }

    void recordText()
    {
        QFETCH(TimecodeRecord, record);
        QFETCH(QString, expected);
        QCOMPARE(Timecode::text(record), expected);
    }

    void steps_data()
    {
        QTest::addColumn<TimecodeRecord>("previous");
        QTest::addColumn<TimecodeRecord>("current");
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("frames");
        using K = Timecode::StepKind;
        QTest::newRow("next") << tc(0, 0, 0, 5, 1) << tc(0, 0, 0, 6, 1) << int(K::Next)
                              << qint64(0);
        QTest::newRow("repeat") << tc(0, 0, 0, 5, 1) << tc(0, 0, 0, 5, 1) << int(K::Repeat)
                                << qint64(0);
        QTest::newRow("two missing")
            << tc(0, 0, 0, 5, 1) << tc(0, 0, 0, 8, 1) << int(K::Gap) << qint64(2);
        QTest::newRow("drop-frame: the skipped numbers are not missing")
            << tc(0, 0, 59, 29, 2) << tc(0, 1, 0, 2, 2) << int(K::Next) << qint64(0);
        QTest::newRow("one back") << tc(0, 0, 0, 5, 1) << tc(0, 0, 0, 4, 1) << int(K::Back)
                                  << qint64(1);
        QTest::newRow("eleven missing is a locate")
            << tc(0, 0, 0, 0, 1) << tc(0, 0, 0, 12, 1) << int(K::Jump) << qint64(0);
        QTest::newRow("midnight wrap")
            << tc(23, 59, 59, 24, 1) << tc(0, 0, 0, 0, 1) << int(K::Next) << qint64(0);
        QTest::newRow("a missing frame across midnight")
            << tc(23, 59, 59, 29, 3) << tc(0, 0, 0, 1, 3) << int(K::Gap) << qint64(1);
        QTest::newRow("type change")
            << tc(0, 0, 0, 5, 1) << tc(0, 0, 0, 6, 3) << int(K::Jump) << qint64(0);
    }

    void steps()
    {
        QFETCH(TimecodeRecord, previous);
        QFETCH(TimecodeRecord, current);
        QFETCH(int, kind);
        QFETCH(qint64, frames);
        const Timecode::Step step = Timecode::step(previous, current);
        QCOMPARE(int(step.kind), kind);
        QCOMPARE(step.frames, frames);
    }

    void rates_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("fps");
        QTest::addColumn<double>("periodMs");
        QTest::addColumn<qint64>("perDay");
        QTest::newRow("film 24") << 0 << 24 << 1000.0 / 24 << qint64(2073600);
        QTest::newRow("EBU 25") << 1 << 25 << 40.0 << qint64(2160000);
        // 108 numbers skipped an hour: 30 × 3600 − 108 = 107892 a hour.
        QTest::newRow("drop-frame 29.97") << 2 << 30 << 1001.0 / 30 << qint64(2589408);
        QTest::newRow("SMPTE 30") << 3 << 30 << 100.0 / 3 << qint64(2592000);
        QTest::newRow("unknown type 4") << 4 << 0 << 0.0 << qint64(0);
        QTest::newRow("unknown type 255") << 255 << 0 << 0.0 << qint64(0);
    }

    void rates()
    {
        QFETCH(int, type);
        QFETCH(int, fps);
        QFETCH(double, periodMs);
        QFETCH(qint64, perDay);
        QCOMPARE(Timecode::nominalFps(quint8(type)), fps);
        QCOMPARE(Timecode::nominalPeriodMs(quint8(type)), periodMs);
        QCOMPARE(Timecode::framesPerDay(quint8(type)), perDay);
        if (type == 2)
            QCOMPARE(Timecode::nominalRate(2), 30000.0 / 1001.0);
    }

    void validity_data()
    {
        QTest::addColumn<TimecodeRecord>("record");
        QTest::addColumn<bool>("valid");
        QTest::newRow("midnight at 25") << tc(0, 0, 0, 0, 1) << true;
        QTest::newRow("last frame of the day at 25") << tc(23, 59, 59, 24, 1) << true;
        QTest::newRow("hour 24") << tc(24, 0, 0, 0, 1) << false;
        QTest::newRow("hour 25") << tc(25, 0, 0, 0, 1) << false;
        QTest::newRow("minute 60") << tc(0, 60, 0, 0, 1) << false;
        QTest::newRow("second 60") << tc(0, 0, 60, 0, 1) << false;
        QTest::newRow("frame 24 at 24") << tc(0, 0, 0, 24, 0) << false;
        QTest::newRow("frame 23 at 24") << tc(0, 0, 0, 23, 0) << true;
        QTest::newRow("frame 25 at 25") << tc(0, 0, 0, 25, 1) << false;
        QTest::newRow("frame 29 at 30") << tc(0, 0, 0, 29, 3) << true;
        QTest::newRow("frame 30 at 30") << tc(0, 0, 0, 30, 3) << false;
        QTest::newRow("frame 30 at 29.97") << tc(0, 0, 0, 30, 2) << false;
        QTest::newRow("29.97: 00:01:00:00 is skipped") << tc(0, 1, 0, 0, 2) << false;
        QTest::newRow("29.97: 00:01:00:01 is skipped") << tc(0, 1, 0, 1, 2) << false;
        QTest::newRow("29.97: 00:01:00:02 exists") << tc(0, 1, 0, 2, 2) << true;
        QTest::newRow("29.97: 00:01:01:00 exists") << tc(0, 1, 1, 0, 2) << true;
        QTest::newRow("29.97: 00:10:00:00, a tenth minute") << tc(0, 10, 0, 0, 2) << true;
        QTest::newRow("29.97: 00:00:00:00") << tc(0, 0, 0, 0, 2) << true;
        QTest::newRow("29.97: 13:59:00:01 is skipped") << tc(13, 59, 0, 1, 2) << false;
        QTest::newRow("30 non-drop: 00:01:00:00 exists") << tc(0, 1, 0, 0, 3) << true;
        QTest::newRow("unknown type") << tc(0, 0, 0, 0, 4) << false;
    }

    void validity()
    {
        QFETCH(TimecodeRecord, record);
        QFETCH(bool, valid);
        QCOMPARE(Timecode::isValid(record), valid);
        QCOMPARE(Timecode::toFrameNumber(record) >= 0, valid);
    }

    void nextFrame_data()
    {
        QTest::addColumn<TimecodeRecord>("from");
        QTest::addColumn<TimecodeRecord>("to");
        QTest::newRow("24: frame 23 to the next second") << tc(0, 0, 0, 23, 0) << tc(0, 0, 1, 0, 0);
        QTest::newRow("25: within a second") << tc(1, 2, 3, 4, 1) << tc(1, 2, 3, 5, 1);
        QTest::newRow("25: into the next minute") << tc(0, 0, 59, 24, 1) << tc(0, 1, 0, 0, 1);
        QTest::newRow("25: into the next hour") << tc(0, 59, 59, 24, 1) << tc(1, 0, 0, 0, 1);
        QTest::newRow("30: plain numbers at a minute") << tc(0, 0, 59, 29, 3) << tc(0, 1, 0, 0, 3);
        QTest::newRow("29.97: a minute drops 0 and 1") << tc(0, 0, 59, 29, 2) << tc(0, 1, 0, 2, 2);
        QTest::newRow("29.97: the tenth minute keeps 0")
            << tc(0, 9, 59, 29, 2) << tc(0, 10, 0, 0, 2);
        QTest::newRow("29.97: the hour keeps 0") << tc(0, 59, 59, 29, 2) << tc(1, 0, 0, 0, 2);
        QTest::newRow("29.97: the eleventh minute drops")
            << tc(0, 10, 59, 29, 2) << tc(0, 11, 0, 2, 2);
        QTest::newRow("29.97: within a second") << tc(0, 1, 0, 2, 2) << tc(0, 1, 0, 3, 2);
        QTest::newRow("24: midnight wrap") << tc(23, 59, 59, 23, 0) << tc(0, 0, 0, 0, 0);
        QTest::newRow("25: midnight wrap") << tc(23, 59, 59, 24, 1) << tc(0, 0, 0, 0, 1);
        QTest::newRow("29.97: midnight wrap") << tc(23, 59, 59, 29, 2) << tc(0, 0, 0, 0, 2);
        QTest::newRow("30: midnight wrap") << tc(23, 59, 59, 29, 3) << tc(0, 0, 0, 0, 3);
    }

    void nextFrame()
    {
        QFETCH(TimecodeRecord, from);
        QFETCH(TimecodeRecord, to);
        QCOMPARE(text(Timecode::next(from)), text(to));
    }

    void frameNumbers_data()
    {
        QTest::addColumn<TimecodeRecord>("record");
        QTest::addColumn<qint64>("number");
        QTest::newRow("25: one hour") << tc(1, 0, 0, 0, 1) << qint64(90000);
        QTest::newRow("24: 01:02:03:04") << tc(1, 2, 3, 4, 0) << qint64(89356);
        QTest::newRow("29.97: first kept number of minute 1") << tc(0, 1, 0, 2, 2) << qint64(1800);
        QTest::newRow("29.97: minute 10") << tc(0, 10, 0, 0, 2) << qint64(17982);
        QTest::newRow("29.97: one hour") << tc(1, 0, 0, 0, 2) << qint64(107892);
        QTest::newRow("29.97: last frame of the day") << tc(23, 59, 59, 29, 2) << qint64(2589407);
        QTest::newRow("30: one hour") << tc(1, 0, 0, 0, 3) << qint64(108000);
    }

    void frameNumbers()
    {
        QFETCH(TimecodeRecord, record);
        QFETCH(qint64, number);
        QCOMPARE(Timecode::toFrameNumber(record), number);
        QCOMPARE(text(Timecode::fromFrameNumber(number, record.type)), text(record));
    }

    void fromFrameNumberWrapsDays()
    {
        const qint64 day = Timecode::framesPerDay(2);
        QCOMPARE(text(Timecode::fromFrameNumber(day + 1800, 2)), text(tc(0, 1, 0, 2, 2)));
        QCOMPARE(text(Timecode::fromFrameNumber(-1, 2)), text(tc(23, 59, 59, 29, 2)));
    }

    // Every frame of a day, counted up with next(): each timecode is valid, numbered one more
    // than the last, and comes back from its number; the day closes at midnight.
    void roundTripOverWholeDay_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("film 24") << 0;
        QTest::newRow("EBU 25") << 1;
        QTest::newRow("drop-frame 29.97") << 2;
        QTest::newRow("SMPTE 30") << 3;
    }

    void roundTripOverWholeDay()
    {
        QFETCH(int, type);
        const qint64 perDay = Timecode::framesPerDay(quint8(type));
        TimecodeRecord record = tc(0, 0, 0, 0, type);
        for (qint64 n = 0; n < perDay; ++n) {
            if (Timecode::toFrameNumber(record) != n)
                QFAIL(qPrintable(QStringLiteral("%1 numbered %2, expected %3")
                                     .arg(text(record))
                                     .arg(Timecode::toFrameNumber(record))
                                     .arg(n)));
            const TimecodeRecord back = Timecode::fromFrameNumber(n, quint8(type));
            if (std::memcmp(&back, &record, sizeof record) != 0)
                QFAIL(qPrintable(QStringLiteral("frame %1 gives %2, expected %3")
                                     .arg(n)
                                     .arg(text(back), text(record))));
            record = Timecode::next(record);
        }
        QCOMPARE(text(record), text(tc(0, 0, 0, 0, type)));
    }
};

QTEST_GUILESS_MAIN(TimecodeTest)
#include "tst_timecode.moc"
