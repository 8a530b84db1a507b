// The bridge's timing without a socket: the time a decoded frame goes out as (one frame on for
// the decoding latency, a further offset in the stream's own numbering), and a file's frames
// leaving as the wall clock, stepped by hand, reaches each frame's end.
#include "ltc/bridgetiming.h"
#include "ltc/ltcencoder.h"
#include "ltc/pcminput.h"
#include "timecode.h"

#include <QtTest>

namespace {

constexpr qint64 kStart = 5000000000; // far from zero, so a deadline taken as absolute shows

// Jumps to every deadline it is asked to sleep until, so time passes only by sleeping; the
// sleep the test names raises the stop flag instead, as a signal would.
class JumpingClock : public PacingClock
{
public:
    JumpingClock(int stopAtSleep, std::atomic<bool>& stop) : stopAt(stopAtSleep), stop(stop) {}
    qint64 now() override { return time; }
    void sleepUntil(qint64 deadline) override
    {
        if (sleeps++ == stopAt) {
            stop.store(true);
            return;
        }
        time = qMax(time, deadline);
    }
    qint64 time = kStart;
    int sleeps = 0;

private:
    int stopAt;
    std::atomic<bool>& stop;
};

} // namespace

class LtcTimingTest : public QObject
{
    Q_OBJECT

private slots:
    void bridged_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("decoded");
        QTest::addColumn<QString>("offset"); // empty: none
        QTest::addColumn<bool>("correction");
        QTest::addColumn<QString>("sent"); // empty: the offset is refused at this rate
        QTest::newRow("25: one frame on, into the next minute") << 1 << "10:00:59:24"
                                                                << "" << true << "10:01:00:00";
        QTest::newRow("without correction: as decoded") << 1 << "10:00:59:24"
                                                        << "" << false << "10:00:59:24";
        QTest::newRow("29.97: one frame on skips the dropped 00 and 01")
            << 2 << "00:00:59:29"
            << "" << true << "00:01:00:02";
        QTest::newRow("29.97: a tenth minute keeps 00") << 2 << "00:09:59:29"
                                                        << "" << true << "00:10:00:00";
        QTest::newRow("29.97: +00:10:00:00 is ten minutes of drop-frame numbering")
            << 2 << "00:00:59:29"
            << "+00:10:00:00" << false << "00:10:59:29";
        QTest::newRow("29.97: -00:00:00:02 steps back over the dropped numbers")
            << 2 << "00:01:00:02"
            << "-00:00:00:02" << true << "00:00:59:29";
        QTest::newRow("24: back across midnight") << 0 << "00:00:00:05"
                                                  << "-00:00:01:00" << true << "23:59:59:06";
        QTest::newRow("30: forward across midnight") << 3 << "23:59:59:29"
                                                     << "01:00:00:00" << true << "01:00:00:00";
        QTest::newRow("25: frame 27 is no offset at 25") << 1 << "10:00:00:00"
                                                         << "00:00:00:27" << true << "";
        QTest::newRow("29.97: 00:01:00:00 is a skipped number") << 2 << "10:00:00:00"
                                                                << "+00:01:00:00" << true << "";
    }

    void bridged()
    {
        QFETCH(int, type);
        QFETCH(QString, decoded);
        QFETCH(QString, offset);
        QFETCH(bool, correction);
        QFETCH(QString, sent);
        TimecodeOffset parsed;
        QVERIFY(offset.isEmpty() || parseOffset(offset, &parsed));
        qint64 frames = 0;
        QCOMPARE(offsetFrames(parsed, quint8(type), &frames), !sent.isEmpty());
        if (sent.isEmpty())
            return;
        const QStringList f = decoded.split(QLatin1Char(':'));
        LtcFrame frame;
        frame.hours = quint8(f[0].toUInt());
        frame.minutes = quint8(f[1].toUInt());
        frame.seconds = quint8(f[2].toUInt());
        frame.frames = quint8(f[3].toUInt());
        const TimecodeRecord out =
            bridgedRecord(frame, quint8(type), bridgeShift(frames, correction));
        QCOMPARE(Timecode::text(out), sent);
        QCOMPARE(int(out.type), type);
    }

    void offsetText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("signed") << "-01:02:03:04" << true;
        QTest::newRow("one-digit fields") << "+1:2:3:4" << true;
        QTest::newRow("hours beyond a day") << "24:00:00:00" << false;
        QTest::newRow("frames beyond any rate") << "00:00:00:30" << false;
        QTest::newRow("three fields") << "00:00:01" << false;
        QTest::newRow("two signs") << "+-00:00:00:01" << false;
    }

    void offsetText()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        TimecodeOffset offset;
        QCOMPARE(parseOffset(text, &offset), accepted);
    }

    void sampleEnds()
    {
        QCOMPARE(sampleEndNs(0, 48000), qint64(20833));
        QCOMPARE(sampleEndNs(1919, 48000), qint64(40000000));
        // A day at 96 kHz, where sample × 10^9 would not fit in 64 bits.
        QCOMPARE(sampleEndNs(qint64(96000) * 86400 * 1200 - 1, 96000),
                 qint64(86400) * 1200 * 1000000000);
    }

    // Frames decoded from a file leave at their ends in the file, read ahead however far.
    void fileFramesLeaveAtTheirEnds_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("stopAtSleep"); // -1: never
        QTest::addColumn<int>("sent");
        QTest::newRow("25 at 48000") << 1 << 48000 << -1 << 12;
        QTest::newRow("29.97 at 44100") << 2 << 44100 << -1 << 12;
        QTest::newRow("stopped while waiting for frame 5") << 1 << 48000 << 5 << 5;
    }

    void fileFramesLeaveAtTheirEnds()
    {
        QFETCH(int, type);
        QFETCH(int, sampleRate);
        QFETCH(int, stopAtSleep);
        QFETCH(int, sent);
        LtcEncoder encoder(quint8(type), sampleRate, -18);
        std::vector<qint16> samples;
        for (int i = 0; i < 12; ++i)
            encoder.encode(Timecode::fromFrameNumber(i, quint8(type)), &samples);
        encoder.finish(&samples);

        std::atomic<bool> stop{false};
        JumpingClock clock(stopAtSleep, stop);
        SamplePacer pacer(clock, sampleRate);
        LtcDecoder decoder(sampleRate);
        QList<qint64> sendTimes;
        for (size_t i = 0; i < samples.size() && !stop; i += Pcm::kMaxBlock) {
            decoder.write(samples.data() + i,
                          int(qMin<size_t>(Pcm::kMaxBlock, samples.size() - i)));
            LtcFrame frame;
            while (decoder.read(&frame) && pacer.waitForEnd(frame.lastSample, stop)) {
                sendTimes.append(clock.now() - kStart);
                QCOMPARE(clock.now(), pacer.due(frame.lastSample));
            }
        }
        QCOMPARE(sendTimes.size(), sent);
        // Frame k ends (k + 1) periods in, to within the two samples the decoder may place its
        // last edge off by.
        const double periodNs = 1e9 / Timecode::nominalRate(quint8(type));
        for (int k = 0; k < sent; ++k)
            QVERIFY2(std::abs(sendTimes[k] - (k + 1) * periodNs) <= 2e9 / sampleRate,
                     qPrintable(QStringLiteral("frame %1 left at %2 ns").arg(k).arg(sendTimes[k])));
    }
};

QTEST_GUILESS_MAIN(LtcTimingTest)
#include "tst_ltctiming.moc"
