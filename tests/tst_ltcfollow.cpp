// The rules of LTC that follows ArtTimeCode, on made-up arrivals and a made-up clock: where the
// first frame begins and what it carries, frames back to back through a sender's jitter, the
// sender's steps (a jump, a locate, lost and late datagrams, a pause), and the loss, freewheel
// and return; then the plain readers of --follow's options and the fitting of a frame's length.
#include "ltcencode/followaudio.h"
#include "ltcencode/followoptions.h"
#include "ltcencode/followschedule.h"

#include "timecode.h"

#include <QtTest>

#include <vector>

using Follow::Block;
using Follow::Notice;

namespace {

struct Arrival
{
    qint64 atNs;
    TimecodeRecord record;
};

struct Run
{
    std::vector<Block> blocks; // Frames and Silence, in order
    std::vector<Notice> notices;
    std::vector<qint64> noticedAtNs;
};

// Plays the audio thread: asks for blocks, sleeps until a Wait's time unless a datagram arrives
// first, and hands every arrival over at its time, until untilNs.
Run drive(Follow::Scheduler& scheduler, const std::vector<Arrival>& arrivals, qint64 untilNs)
{
    Run run;
    qint64 now = 0;
    size_t next = 0;
    const auto noted = [&run, &now](const Notice& notice) {
        if (notice.kind != Notice::None) {
            run.notices.push_back(notice);
            run.noticedAtNs.push_back(now);
        }
    };
    while (now < untilNs) {
        while (next < arrivals.size() && arrivals[next].atNs <= now) {
            noted(scheduler.arrived(arrivals[next].record, arrivals[next].atNs));
            ++next;
        }
        Notice notice;
        const Block block = scheduler.next(now, &notice);
        noted(notice);
        if (block.kind != Block::Wait) {
            run.blocks.push_back(block);
            continue;
        }
        const qint64 wake =
            next < arrivals.size() ? qMin(block.startNs, arrivals[next].atNs) : block.startNs;
        now = qMax(now + 1, wake);
    }
    return run;
}

TimecodeRecord at(quint8 type, qint64 frame)
{
    return Timecode::fromFrameNumber(frame, type);
}

// A sender whose frame k arrives at firstNs + k periods, plus jitter(k).
std::vector<Arrival> steady(quint8 type, qint64 firstFrame, int count, qint64 firstNs,
                            const std::function<qint64(int)>& jitter = {})
{
    const Timecode::Rate rate = Timecode::rate(type);
    std::vector<Arrival> arrivals;
    for (int k = 0; k < count; ++k)
        arrivals.push_back({firstNs +
                                k * rate.periodNumerator * 1'000'000'000 / rate.periodDenominator +
                                (jitter ? jitter(k) : 0),
                            at(type, firstFrame + k)});
    return arrivals;
}

std::vector<Block> framesOf(const Run& run)
{
    std::vector<Block> frames;
    for (const Block& block : run.blocks) {
        if (block.kind == Block::Frame)
            frames.push_back(block);
    }
    return frames;
}

// The index of the first Frame; every block from it on is a Frame that begins where the one
// before ended, carrying the next time; -1 when that does not hold.
int backToBackFrom(const Run& run)
{
    int first = -1;
    for (int i = 0; i < int(run.blocks.size()); ++i) {
        const Block& block = run.blocks[size_t(i)];
        if (first < 0) {
            if (block.kind == Block::Frame)
                first = i;
            continue;
        }
        const Block& before = run.blocks[size_t(i - 1)];
        if (block.kind != Block::Frame ||
            block.firstSample != before.firstSample + before.samples ||
            !Timecode::sameRecord(block.record, Timecode::next(before.record)))
            return -1;
    }
    return first;
}

constexpr qint64 kMs = 1'000'000;

} // namespace

class LtcFollowTest : public QObject
{
    Q_OBJECT

private slots:
    void lockedStart_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<qint64>("advanceNs");
        QTest::addColumn<qint64>("arrivalNs");
        QTest::newRow("24 fps") << 0 << 48000 << qint64(0) << 1000 * kMs;
        QTest::newRow("25 fps") << 1 << 48000 << qint64(0) << 1000 * kMs;
        QTest::newRow("29.97 fps") << 2 << 48000 << qint64(0) << 1000 * kMs;
        QTest::newRow("30 fps") << 3 << 48000 << qint64(0) << 1000 * kMs;
        QTest::newRow("advance 25 ms, more than half a period")
            << 1 << 48000 << 25 * kMs << 1000 * kMs;
        // Its frame would begin when the datagram arrives, while audio is already out beyond
        // that: the next frame is the first.
        QTest::newRow("advance of a whole period") << 1 << 48000 << 40 * kMs << 1000 * kMs;
        // At 44.1 kHz a sample lasts 22675.7 ns: the frame begins at the first sample at or
        // after its tick, whether the tick falls on a sample or a nanosecond after one.
        QTest::newRow("44.1 kHz, tick on a sample") << 1 << 44100 << qint64(0) << 960 * kMs;
        QTest::newRow("44.1 kHz, tick 1 ns after a sample")
            << 1 << 44100 << qint64(0) << 960 * kMs + 1;
        QTest::newRow("96 kHz, 29.97 fps") << 2 << 96000 << 3 * kMs << 1234567891LL;
    }

    // The first frame carries the time the sender's next datagram will, and begins at the
    // first sample at or after that datagram's frame begins, less the advance.
    void lockedStart()
    {
        QFETCH(int, type);
        QFETCH(int, sampleRate);
        QFETCH(qint64, advanceNs);
        QFETCH(qint64, arrivalNs);
        Follow::Settings settings;
        settings.sampleRate = sampleRate;
        settings.advanceNs = advanceNs;
        Follow::Scheduler scheduler(settings, 0);
        const TimecodeRecord heard = at(quint8(type), 36000 * 25);
        const Run run = drive(scheduler, {{arrivalNs, heard}}, arrivalNs + 200 * kMs);
        const std::vector<Block> frames = framesOf(run);
        QVERIFY(!frames.empty());
        const Timecode::Rate rate = Timecode::rate(quint8(type));
        const qint64 on = advanceNs < Timecode::periodNs(quint8(type)) ? 1 : 2;
        QVERIFY(Timecode::sameRecord(frames[0].record, Timecode::offset(heard, on)));
        const qint64 begins = arrivalNs +
                              on * rate.periodNumerator * 1'000'000'000 / rate.periodDenominator -
                              advanceNs;
        // The first sample at or after it.
        QVERIFY(scheduler.sampleTime(frames[0].firstSample) >= begins);
        QVERIFY(scheduler.sampleTime(frames[0].firstSample - 1) < begins);
        // Silence up to it, none after.
        QCOMPARE(backToBackFrom(run), int(run.blocks.size() - frames.size()));
    }

    void jitter_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<qint64>("jitterNs"); // the largest either way
        QTest::addColumn<qint64>("followsWithinNs");
        QTest::addColumn<bool>("strays"); // every other arrival jitterNs off, either way in turn
        QTest::newRow("none, 25 fps") << 1 << qint64(0) << qint64(21'000) << false;
        QTest::newRow("none, 29.97 fps") << 2 << qint64(0) << qint64(21'000) << false;
        QTest::newRow("2 ms, 25 fps") << 1 << 2 * kMs << 700'000LL << false;
        QTest::newRow("9.9 ms, just under a quarter period at 25 fps")
            << 1 << 9'900'000LL << 3 * kMs << false;
        QTest::newRow("8.3 ms, just under a quarter period at 29.97 fps")
            << 2 << 8'300'000LL << 3 * kMs << false;
        // Beyond a quarter period an arrival counts for nothing unless the next ones agree.
        QTest::newRow("strays a third of a period off") << 1 << 13 * kMs << 21'000LL << true;
        // Nearer another frame's beginning than their own: their numbering places them.
        QTest::newRow("strays over half a period off") << 1 << 25 * kMs << 21'000LL << true;
    }

    // Through the sender's jitter the frames stay back to back with each time once, each frame
    // at most 1/64 longer or shorter than the rate makes it, and begin within followsWithinNs
    // of the sender's own frame clock once 32 arrivals are fitted.
    void jitter()
    {
        QFETCH(int, type);
        QFETCH(qint64, jitterNs);
        QFETCH(qint64, followsWithinNs);
        QFETCH(bool, strays);
        Follow::Scheduler scheduler(Follow::Settings(), 0);
        quint32 seed = 12345;
        const auto jitter = [&seed, jitterNs, strays](int k) {
            if (strays)
                return k % 2 == 0 ? 0 : (k % 4 == 1 ? jitterNs : -jitterNs);
            seed = seed * 1103515245u + 12345u;
            return jitterNs == 0 ? 0 : qint64((seed >> 8) % quint32(2 * jitterNs + 1)) - jitterNs;
        };
        const qint64 firstNs = 500 * kMs;
        const int count = 300;
        const std::vector<Arrival> arrivals = steady(quint8(type), 1000, count, firstNs, jitter);
        const Run run = drive(scheduler, arrivals, arrivals.back().atNs);
        QVERIFY(backToBackFrom(run) >= 0);
        const std::vector<Block> frames = framesOf(run);
        QVERIFY(frames.size() >= size_t(count - 3));
        const double nominal = 48000.0 / Timecode::nominalRate(quint8(type));
        const Timecode::Rate rate = Timecode::rate(quint8(type));
        qint64 worst = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            QVERIFY(frames[i].samples >= qint64(std::floor(nominal - nominal / 64)));
            QVERIFY(frames[i].samples <= qint64(std::ceil(nominal + nominal / 64)));
            const qint64 tick = Timecode::toFrameNumber(frames[i].record) - 1000;
            const qint64 clock =
                firstNs + tick * rate.periodNumerator * 1'000'000'000 / rate.periodDenominator;
            if (i >= 32)
                worst = qMax(worst, qAbs(frames[i].startNs - clock));
        }
        QVERIFY2(worst <= followsWithinNs, qPrintable(QString::number(worst)));
    }

    void phaseStep_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<qint64>("offNs");   // how far the second datagram is off its tick
        QTest::addColumn<qint64>("samples"); // the frame after it
        // 25 fps at 48 kHz: 1920 samples a frame, 1890 to 1950 with the stretch; a quarter
        // period is exactly 10 ms.
        QTest::newRow("a quarter period late, less 1 ns: fitted, the next frame longest")
            << 1 << 9'999'999LL << qint64(1950);
        QTest::newRow("exactly a quarter period late: not fitted, the next frame as long as ever")
            << 1 << 10'000'000LL << qint64(1920);
        QTest::newRow("a quarter period early, less 1 ns: fitted, the next frame shortest")
            << 1 << -9'999'999LL << qint64(1890);
        QTest::newRow("exactly a quarter period early: not fitted")
            << 1 << -10'000'000LL << qint64(1920);
        // 24 fps at 48 kHz: 2000 samples, and 1/64 of them (31.25) rounds out to 1968 and 2032
        // where a 65th would give 1969 and 2031.
        QTest::newRow("24 fps, 9 ms late: stretched by a 64th, no more")
            << 0 << 9 * kMs << qint64(2032);
        QTest::newRow("24 fps, 9 ms early: shortened by a 64th, no more")
            << 0 << -9 * kMs << qint64(1968);
    }

    // The second datagram off its tick moves the fitted phase by half as much, unless it is a
    // quarter period off or more; the frame after it takes up the difference in its length,
    // within a 64th of the frame.
    void phaseStep()
    {
        QFETCH(int, type);
        QFETCH(qint64, offNs);
        QFETCH(qint64, samples);
        Follow::Scheduler scheduler(Follow::Settings(), 0);
        const qint64 firstNs = 500 * kMs;
        std::vector<Arrival> arrivals = steady(quint8(type), 1000, 2, firstNs);
        arrivals[1].atNs += offNs;
        const Run run = drive(scheduler, arrivals, arrivals[1].atNs + 1);
        const std::vector<Block> frames = framesOf(run);
        QCOMPARE(int(frames.size()), 2);
        QVERIFY(Timecode::sameRecord(frames[1].record, at(quint8(type), 1002)));
        QCOMPARE(frames[1].samples, samples);
    }

    void relock_data()
    {
        QTest::addColumn<int>("moved"); // arrivals on the sender's new frame clock
        QTest::addColumn<bool>("relocked");
        QTest::newRow("four arrivals on a new clock: strays, the frames go on back to back")
            << 4 << false;
        QTest::newRow("five: the sender moved its clock, silence up to a frame on the new one")
            << 5 << true;
    }

    // A sender that moves its frame clock by more than a quarter period is followed once five
    // arrivals in a row agree on the new one; fewer are strays.
    void relock()
    {
        QFETCH(int, moved);
        QFETCH(bool, relocked);
        Follow::Scheduler scheduler(Follow::Settings(), 0);
        const qint64 movedByNs = 15 * kMs; // three eighths of a period at 25 fps
        std::vector<Arrival> arrivals = steady(Timecode::kEbu, 1000, 40 + moved, 500 * kMs);
        for (int k = 40; k < 40 + moved; ++k)
            arrivals[size_t(k)].atNs += movedByNs;
        // Half a period on, the silence before a frame on the new clock would be under way.
        const Run run = drive(scheduler, arrivals, arrivals.back().atNs + 20 * kMs);
        QCOMPARE(backToBackFrom(run) < 0, relocked);
        if (relocked) {
            // After silence the frames are on the new clock, the first one within the quarter
            // period that frames back to back take up.
            const Block last = framesOf(run).back();
            const qint64 movedNs =
                last.startNs -
                (500 * kMs + (Timecode::toFrameNumber(last.record) - 1000) * 40 * kMs);
            QVERIFY2(movedNs > movedByNs - 10 * kMs && movedNs <= movedByNs,
                     qPrintable(QString::number(movedNs)));
        }
    }

    void steps_data()
    {
        QTest::addColumn<QList<int>>("sent"); // frame numbers, one a period, -1 for none
        QTest::addColumn<QList<int>>("ltc");  // the frames written, to the last arrival's tick
        QTest::newRow("steady") << QList<int>{0, 1, 2, 3, 4, 5} << QList<int>{1, 2, 3, 4, 5, 6};
        QTest::newRow("two datagrams lost")
            << QList<int>{0, 1, 2, -1, -1, 5, 6} << QList<int>{1, 2, 3, 4, 5, 6, 7};
        QTest::newRow("a gap in the numbering")
            << QList<int>{0, 1, 2, 5, 6, 7} << QList<int>{1, 2, 3, 6, 7, 8};
        QTest::newRow("a jump forward, at the next frame")
            << QList<int>{0, 1, 2, 500, 501, 502} << QList<int>{1, 2, 3, 501, 502, 503};
        QTest::newRow("a locate back")
            << QList<int>{500, 501, 502, 10, 11} << QList<int>{501, 502, 503, 11, 12};
        QTest::newRow("a late datagram changes nothing")
            << QList<int>{0, 1, 2, 1, 4, 5} << QList<int>{1, 2, 3, 4, 5, 6};
        QTest::newRow("a pause: the sender repeats its time")
            << QList<int>{0, 1, 2, 2, 2, 2} << QList<int>{1, 2, 3, 2, 2, 2};
    }

    // What each frame carries when the sender steps otherwise than by one.
    void steps()
    {
        QFETCH(QList<int>, sent);
        QFETCH(QList<int>, ltc);
        Follow::Scheduler scheduler(Follow::Settings(), 0);
        std::vector<Arrival> arrivals;
        const qint64 firstNs = 100 * kMs;
        for (int k = 0; k < sent.size(); ++k) {
            if (sent[k] >= 0)
                arrivals.push_back({firstNs + k * 40 * kMs, at(Timecode::kEbu, 90000 + sent[k])});
        }
        const Run run = drive(scheduler, arrivals, firstNs + (sent.size() - 1) * 40 * kMs + 1);
        QList<int> written;
        for (const Block& frame : framesOf(run))
            written.append(int(Timecode::toFrameNumber(frame.record) - 90000));
        QCOMPARE(written, ltc);
        // No silence between them: the frame clock did not move.
        for (size_t i = 1; i < run.blocks.size(); ++i) {
            if (run.blocks[i - 1].kind == Block::Frame)
                QCOMPARE(run.blocks[i].kind, Block::Frame);
        }
    }

    void loss_data()
    {
        QTest::addColumn<int>("freewheel");
        QTest::newRow("none") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("the default 25") << 25;
    }

    // The sender stops: the numbering goes on until it counts as silent, then the loss is said
    // with the last time heard, exactly `freewheel` frames follow, then only silence. When it
    // comes back, so does the LTC, from the frame after the first one heard again.
    void loss()
    {
        QFETCH(int, freewheel);
        Follow::Settings settings;
        settings.freewheelFrames = freewheel;
        Follow::Scheduler scheduler(settings, 0);
        std::vector<Arrival> arrivals = steady(Timecode::kEbu, 100, 50, 200 * kMs);
        const qint64 lastNs = arrivals.back().atNs;
        const qint64 backNs = lastNs + 3000 * kMs + 7 * kMs;
        for (const Arrival& a : steady(Timecode::kEbu, 5000, 10, backNs))
            arrivals.push_back(a);
        const Run run = drive(scheduler, arrivals, arrivals.back().atNs);

        QCOMPARE(int(run.notices.size()), 2);
        QCOMPARE(run.notices[0].kind, Notice::Lost);
        QVERIFY(Timecode::sameRecord(run.notices[0].record, at(Timecode::kEbu, 149)));
        // Said at the first look after a second of silence, not at the second itself.
        QVERIFY(run.noticedAtNs[0] > lastNs + Timecode::kSilentAfterNs);
        QVERIFY(run.noticedAtNs[0] <= lastNs + Timecode::kSilentAfterNs + 40 * kMs);
        QCOMPARE(run.notices[1].kind, Notice::Back);
        QVERIFY(Timecode::sameRecord(run.notices[1].record, at(Timecode::kEbu, 5000)));

        int freewheeled = 0;
        size_t lastFreewheel = 0;
        size_t resumed = 0;
        for (size_t i = 0; i < run.blocks.size(); ++i) {
            const Block& block = run.blocks[i];
            if (block.freewheel) {
                ++freewheeled;
                lastFreewheel = i;
            }
            if (block.kind == Block::Frame && Timecode::toFrameNumber(block.record) >= 5000 &&
                resumed == 0)
                resumed = i;
        }
        QCOMPARE(freewheeled, freewheel);
        QVERIFY(resumed > 0);
        QVERIFY(Timecode::sameRecord(run.blocks[resumed].record, at(Timecode::kEbu, 5001)));
        // Before the loss the numbering went on, back to back, from the last frame heard.
        const std::vector<Block> frames = framesOf(run);
        int before = 0;
        for (const Block& frame : frames) {
            if (frame.startNs < run.noticedAtNs[0] - 50 * kMs)
                ++before;
        }
        QVERIFY(before >= 50 + 22);
        // Between the freewheel (or the loss) and the return, only silence.
        const size_t silentFrom = freewheel > 0 ? lastFreewheel + 1 : size_t(0);
        for (size_t i = silentFrom; i < resumed; ++i) {
            if (run.blocks[i].startNs > run.noticedAtNs[0] + 40 * kMs)
                QCOMPARE(run.blocks[i].kind, Block::Silence);
        }
    }

    void target_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("sender"); // empty: any
        QTest::addColumn<int>("stream");
        QTest::addColumn<bool>("good");
        QTest::newRow("empty: the first heard") << ""
                                                << "" << -1 << true;
        QTest::newRow("an address") << "10.0.0.5"
                                    << "10.0.0.5" << -1 << true;
        QTest::newRow("stream 0") << "10.0.0.5:0"
                                  << "10.0.0.5" << 0 << true;
        QTest::newRow("stream 255") << "10.0.0.5:255"
                                    << "10.0.0.5" << 255 << true;
        QTest::newRow("stream 256") << "10.0.0.5:256"
                                    << "" << -1 << false;
        QTest::newRow("stream -1") << "10.0.0.5:-1"
                                   << "" << -1 << false;
        QTest::newRow("no stream after the colon") << "10.0.0.5:"
                                                   << "" << -1 << false;
        QTest::newRow("three parts") << "10.0.5"
                                     << "" << -1 << false;
        QTest::newRow("IPv6") << "::1"
                              << "" << -1 << false;
        QTest::newRow("a name") << "desk"
                                << "" << -1 << false;
    }

    void target()
    {
        QFETCH(QString, text);
        QFETCH(QString, sender);
        QFETCH(int, stream);
        QFETCH(bool, good);
        Follow::Target target;
        QCOMPARE(Follow::readTarget(text, &target).isNull(), good);
        if (!good)
            return;
        QCOMPARE(target.sender, sender.isEmpty() ? QHostAddress() : QHostAddress(sender));
        QCOMPARE(target.stream, stream);
    }

    void withFollowValue_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("parsed");
        QTest::newRow("alone") << QStringList{"--follow"} << QStringList{"--follow="};
        QTest::newRow("before an option") << QStringList{"--follow", "--advance", "20"}
                                          << QStringList{"--follow=", "--advance", "20"};
        QTest::newRow("with a value")
            << QStringList{"--follow", "10.0.0.5:1"} << QStringList{"--follow", "10.0.0.5:1"};
        QTest::newRow("single dash, last")
            << QStringList{"-q", "-follow"} << QStringList{"-q", "--follow="};
        QTest::newRow("already with =")
            << QStringList{"--follow=10.0.0.5"} << QStringList{"--follow=10.0.0.5"};
    }

    void withFollowValue()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, parsed);
        QCOMPARE(Follow::withFollowValue(arguments), parsed);
    }

    void numbers_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("good");
        QTest::addColumn<qint64>("value");
        QTest::newRow("advance 0") << "advance"
                                   << "0" << true << qint64(0);
        QTest::newRow("advance 20.5 ms") << "advance"
                                         << "20.5" << true << qint64(20'500'000);
        QTest::newRow("advance 1000 ms") << "advance"
                                         << "1000" << true << qint64(1'000'000'000);
        QTest::newRow("advance 1000.001 ms") << "advance"
                                             << "1000.001" << false << qint64(0);
        QTest::newRow("advance below 0") << "advance"
                                         << "-0.1" << false << qint64(0);
        QTest::newRow("freewheel 0") << "freewheel"
                                     << "0" << true << qint64(0);
        QTest::newRow("freewheel 1800") << "freewheel"
                                        << "1800" << true << qint64(1800);
        QTest::newRow("freewheel 1801") << "freewheel"
                                        << "1801" << false << qint64(0);
        QTest::newRow("freewheel -1") << "freewheel"
                                      << "-1" << false << qint64(0);
        QTest::newRow("freewheel 2.5") << "freewheel"
                                       << "2.5" << false << qint64(0);
    }

    void numbers()
    {
        QFETCH(QString, option);
        QFETCH(QString, text);
        QFETCH(bool, good);
        QFETCH(qint64, value);
        qint64 read = 0;
        int frames = 0;
        const QString complaint = option == QLatin1String("advance")
                                      ? Follow::readAdvance(text, &read)
                                      : Follow::readFreewheel(text, &frames);
        QCOMPARE(complaint.isNull(), good);
        if (good)
            QCOMPARE(option == QLatin1String("advance") ? read : qint64(frames), value);
    }

    void fitLength_data()
    {
        QTest::addColumn<QList<int>>("samples");
        QTest::addColumn<int>("length");
        QTest::addColumn<QList<int>>("fitted");
        QTest::newRow("as long") << QList<int>{1, 2, 3, 4} << 4 << QList<int>{1, 2, 3, 4};
        QTest::newRow("one longer: the middle sample twice")
            << QList<int>{1, 2, 3, 4} << 5 << QList<int>{1, 2, 3, 3, 4};
        QTest::newRow("one shorter: the middle one left out")
            << QList<int>{1, 2, 3, 4, 5} << 4 << QList<int>{1, 2, 4, 5};
        QTest::newRow("edges stay within a sample")
            << QList<int>{-9, -9, -9, 9, 9, 9, 9, -9, -9, -9} << 11
            << QList<int>{-9, -9, -9, 9, 9, 9, 9, 9, -9, -9, -9};
    }

    void fitLength()
    {
        QFETCH(QList<int>, samples);
        QFETCH(int, length);
        QFETCH(QList<int>, fitted);
        const std::vector<qint16> in(samples.begin(), samples.end());
        const std::vector<qint16> out = Follow::fitLength(in, length);
        QCOMPARE(QList<int>(out.begin(), out.end()), fitted);
    }
};

QTEST_GUILESS_MAIN(LtcFollowTest)
#include "tst_ltcfollow.moc"
