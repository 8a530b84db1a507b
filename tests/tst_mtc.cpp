// MIDI timecode as plain tables, without a MIDI port: the quarter frames and full frames of each
// rate as bytes, reading them (reverse play, frames counted between whole times, bad input), what
// mtc-bridge sends for them (the two-frame correction, drop-frame minutes, locates, loss,
// freewheel and return), which messages mtc-encode sends for a run of frames and when, which
// port --connect names, and the options each command refuses.
#include "mtc/midiport.h"
#include "mtc/mtcbridgerules.h"
#include "mtc/mtcreader.h"
#include "mtc/mtcsequencer.h"
#include "mtcbridge/mtcbridgeoptions.h"
#include "mtcencode/mtcencodeoptions.h"

#include "timecode.h"

#include <QtTest>

namespace {

constexpr qint64 kMs = 1'000'000;

QByteArray bytes(const QString& hex)
{
    return QByteArray::fromHex(hex.toLatin1());
}

QString hex(const quint8* data, int size)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(data), size).toHex(' ').toUpper());
}

TimecodeRecord record(const QString& text, int type)
{
    const QStringList f = text.split(QLatin1Char(':'));
    return TimecodeRecord{quint8(f[3].toInt()), quint8(f[2].toInt()), quint8(f[1].toInt()),
                          quint8(f[0].toInt()), quint8(type)};
}

QString text(const TimecodeRecord& r)
{
    return Timecode::text(r) + QStringLiteral("/%1").arg(r.type);
}

QString eventText(const Mtc::Event& event)
{
    const QString reverse = event.reverse ? QStringLiteral(" reverse") : QString();
    switch (event.kind) {
    case Mtc::Event::Time:
        return QStringLiteral("time") + reverse + QLatin1Char(' ') + text(event.record);
    case Mtc::Event::Frame:
        return QStringLiteral("frame") + reverse +
               (event.afterLocate ? QStringLiteral(" after locate") : QString());
    case Mtc::Event::Locate:
        return QStringLiteral("locate ") + text(event.record);
    case Mtc::Event::Error: {
        const char* problems[] = {"", "truncated", "out of order", "out of range"};
        return QStringLiteral("error ") + QLatin1String(problems[event.problem]);
    }
    case Mtc::Event::None:
        break;
    }
    return {};
}

// The eight quarter frames of a time, 0..7 or 7..0, as the encoder makes them (its bytes are
// held against literal ones in quarterFrames()).
QList<QByteArray> pieces(const TimecodeRecord& time, bool reverse)
{
    QList<QByteArray> messages;
    for (int i = 0; i < Mtc::kPieces; ++i) {
        const auto message = Mtc::quarterFrame(time, reverse ? 7 - i : i);
        messages.append(QByteArray(reinterpret_cast<const char*>(message.data()), 2));
    }
    return messages;
}

QString actionText(const Mtc::BridgeAction& action)
{
    switch (action.kind) {
    case Mtc::BridgeAction::Send:
        return (action.freewheel ? QStringLiteral("freewheel ") : QStringLiteral("send ")) +
               Timecode::text(action.record);
    case Mtc::BridgeAction::Lost:
        return QStringLiteral("lost after ") + Timecode::text(action.record);
    case Mtc::BridgeAction::Back:
        return QStringLiteral("back at %1, jump %2")
            .arg(Timecode::text(action.record))
            .arg(action.jump);
    case Mtc::BridgeAction::OffsetRefused:
        return QStringLiteral("offset refused at %1").arg(action.record.type);
    }
    return {};
}

} // namespace

class MtcTest : public QObject
{
    Q_OBJECT

private slots:
    void quarterFrames_data()
    {
        QTest::addColumn<QString>("time");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("quarterFrames"); // data bytes of pieces 0..7
        QTest::addColumn<QString>("fullFrame");
        // Piece 7 holds the rate code (bits 1-2) above the hour's fifth bit; the full frame's
        // hours byte holds it in bits 5-6.
        QTest::newRow("24 fps, the day's last frame")
            << "23:59:59:23" << 0 << "07 11 2B 33 4B 53 67 71"
            << "F0 7F 7F 01 01 17 3B 3B 17 F7";
        QTest::newRow("25 fps") << "10:20:30:24" << 1 << "08 11 2E 31 44 51 6A 72"
                                << "F0 7F 7F 01 01 2A 14 1E 18 F7";
        QTest::newRow("29.97 fps, the first frame of a dropping minute")
            << "00:01:00:02" << 2 << "02 10 20 30 41 50 60 74"
            << "F0 7F 7F 01 01 40 01 00 02 F7";
        QTest::newRow("30 fps") << "12:34:56:29" << 3 << "0D 11 28 33 42 52 6C 76"
                                << "F0 7F 7F 01 01 6C 22 38 1D F7";
    }

    // The eight pieces and the full frame of a time, as bytes.
    void quarterFrames()
    {
        QFETCH(QString, time);
        QFETCH(int, type);
        QFETCH(QString, quarterFrames);
        QFETCH(QString, fullFrame);
        const QStringList data = quarterFrames.split(QLatin1Char(' '));
        for (int piece = 0; piece < Mtc::kPieces; ++piece) {
            const auto message = Mtc::quarterFrame(record(time, type), piece);
            QCOMPARE(hex(message.data(), 2), QStringLiteral("F1 ") + data[piece]);
        }
        const auto full = Mtc::fullFrame(record(time, type));
        QCOMPARE(hex(full.data(), int(full.size())), fullFrame);
    }

    void readRates_data() { quarterFrames_data(); }

    // Each rate's pieces read back into the time, its Type from the rate code, once the eighth
    // comes; and its full frame as a locate.
    void readRates()
    {
        QFETCH(QString, time);
        QFETCH(int, type);
        QFETCH(QString, quarterFrames);
        QFETCH(QString, fullFrame);
        Mtc::Reader reader;
        QStringList events;
        for (const QString& data : quarterFrames.split(QLatin1Char(' '))) {
            const QByteArray message = bytes(QStringLiteral("F1") + data);
            events.append(eventText(
                reader.read(reinterpret_cast<const quint8*>(message.data()), int(message.size()))));
        }
        QCOMPARE(events,
                 QStringList({"", "", "", "", "", "", "",
                              QStringLiteral("time ") + time + QStringLiteral("/%1").arg(type)}));
        const QByteArray full = bytes(fullFrame);
        QCOMPARE(
            eventText(reader.read(reinterpret_cast<const quint8*>(full.data()), int(full.size()))),
            QStringLiteral("locate ") + time + QStringLiteral("/%1").arg(type));
        QCOMPARE(reader.errors(), qint64(0));
    }

    void reader_data()
    {
        QTest::addColumn<QStringList>("messages"); // "Q0".."Q7": the 25 fps pieces above
        QTest::addColumn<QStringList>("events");   // those not None, in order
        const QString time = QStringLiteral("time 10:20:30:24/1");
        const QStringList forward{"Q0", "Q1", "Q2", "Q3", "Q4", "Q5", "Q6", "Q7"};
        const QStringList backward{"Q7", "Q6", "Q5", "Q4", "Q3", "Q2", "Q1", "Q0"};
        const QString full = QStringLiteral("F0 7F 7F 01 01 2A 14 1E 18 F7");
        QTest::newRow("pieces 0..7") << forward << QStringList{time};
        QTest::newRow("from the middle: the first time needs eight pieces")
            << QStringList{"Q4", "Q5", "Q6", "Q7"} + forward << QStringList{time};
        QTest::newRow("pieces 7..0: reverse play")
            << backward << QStringList{"time reverse 10:20:30:24/1"};
        QTest::newRow("four pieces after a whole time: one frame on")
            << forward + QStringList{"Q0", "Q1", "Q2", "Q3"} << QStringList{time, "frame"};
        QTest::newRow("three after it: none yet")
            << forward + QStringList{"Q0", "Q1", "Q2"} << QStringList{time};
        QTest::newRow("reverse, four more: one frame back")
            << backward + QStringList{"Q7", "Q6", "Q5", "Q4"}
            << QStringList{"time reverse 10:20:30:24/1", "frame reverse"};
        QTest::newRow("a full frame, then pieces from 0")
            << QStringList{full} + forward
            << QStringList{"locate 10:20:30:24/1", "frame after locate", time};
        QTest::newRow("a full frame, then pieces from 1: nothing counted")
            << QStringList{full, "Q1", "Q2", "Q3", "Q4"} << QStringList{"locate 10:20:30:24/1"};
        QTest::newRow("a full frame from one device")
            << QStringList{"F0 7F 10 01 01 2A 14 1E 18 F7"} << QStringList{"locate 10:20:30:24/1"};
        QTest::newRow("a piece missing")
            << QStringList{"Q0", "Q1", "Q3"} << QStringList{"error out of order"};
        QTest::newRow("a piece twice")
            << QStringList{"Q0", "Q1", "Q1"} << QStringList{"error out of order"};
        QTest::newRow("after a piece missing, eight new pieces")
            << QStringList{"Q0", "Q1", "Q3", "Q4", "Q5", "Q6", "Q7"} + forward
            << QStringList{"error out of order", time};
        QTest::newRow("turning round is no error")
            << QStringList{"Q0", "Q1", "Q2", "Q1", "Q0"} << QStringList{};
        QTest::newRow("frames 25 at 25 fps")
            << QStringList{"F1 09", "Q1", "Q2", "Q3", "Q4", "Q5", "Q6", "Q7"}
            << QStringList{"error out of range"};
        QTest::newRow("hours 24") << QStringList{"Q0", "Q1", "Q2",    "Q3",
                                                 "Q4", "Q5", "F1 68", "F1 73"}
                                  << QStringList{"error out of range"};
        QTest::newRow("29.97: 00:01:00:00, which drop-frame skips")
            << QStringList{"F1 00", "F1 10", "F1 20", "F1 30", "F1 41", "F1 50", "F1 60", "F1 74"}
            << QStringList{"error out of range"};
        QTest::newRow("29.97: 00:01:00:01, skipped too")
            << QStringList{"F1 01", "F1 10", "F1 20", "F1 30", "F1 41", "F1 50", "F1 60", "F1 74"}
            << QStringList{"error out of range"};
        QTest::newRow("29.97: 00:10:00:00, a tenth minute keeps its frame 00")
            << QStringList{"F1 00", "F1 10", "F1 20", "F1 30", "F1 4A", "F1 50", "F1 60", "F1 74"}
            << QStringList{"time 00:10:00:00/2"};
        QTest::newRow("a frames high nibble beyond its one bit")
            << QStringList{"Q0", "F1 12"} << QStringList{"error out of range"};
        QTest::newRow("piece 7 with its unused bit")
            << QStringList{"Q6", "F1 7A"} << QStringList{"error out of range"};
        QTest::newRow("a quarter frame cut short")
            << QStringList{"F1"} << QStringList{"error truncated"};
        QTest::newRow("a quarter frame too long")
            << QStringList{"F1 00 00"} << QStringList{"error truncated"};
        QTest::newRow("a full frame cut short")
            << QStringList{"F0 7F 7F 01 01 2A 14 F7"} << QStringList{"error truncated"};
        QTest::newRow("a full frame without its end")
            << QStringList{"F0 7F 7F 01 01 2A 14 1E 18 00"} << QStringList{"error truncated"};
        QTest::newRow("a full frame cut after its header")
            << QStringList{"F0 7F 7F 01 F7"} << QStringList{"error truncated"};
        QTest::newRow("a full frame of minute 60")
            << QStringList{"F0 7F 7F 01 01 2A 3C 1E 18 F7"} << QStringList{"error out of range"};
        QTest::newRow("other messages between the pieces change nothing")
            << QStringList{"Q0",
                           "Q1",
                           "F8",
                           "90 3C 64",
                           "F0 7E 7F 06 01 F7",
                           "F0 7F 7F 01 02 00 00 00 00 00 00 00 00 00 F7",
                           "Q2",
                           "Q3",
                           "Q4",
                           "Q5",
                           "Q6",
                           "Q7"}
            << QStringList{time};
    }

    void reader()
    {
        QFETCH(QStringList, messages);
        QFETCH(QStringList, events);
        const QStringList quarter = {"F1 08", "F1 11", "F1 2E", "F1 31",
                                     "F1 44", "F1 51", "F1 6A", "F1 72"};
        Mtc::Reader reader;
        QStringList got;
        for (const QString& name : messages) {
            const QByteArray message =
                bytes(name.startsWith(QLatin1Char('Q')) ? quarter[name.mid(1).toInt()] : name);
            const QString event = eventText(
                reader.read(reinterpret_cast<const quint8*>(message.data()), int(message.size())));
            if (!event.isEmpty())
                got.append(event);
        }
        QCOMPARE(got, events);
        QCOMPARE(reader.errors(), qint64(events.filter(QStringLiteral("error")).size()));
    }

    void bridge_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QStringList>("times"); // each read from its eight pieces; "L" a locate
        QTest::addColumn<bool>("reverse");
        QTest::addColumn<bool>("correction");
        QTest::addColumn<QString>("offset"); // empty for none
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("two frames on, one more every four pieces")
            << 1 << QStringList{"10:00:00:00", "10:00:00:02"} << false << true << ""
            << QStringList{"10:00:00:02", "10:00:00:03", "10:00:00:04"};
        QTest::newRow("as decoded")
            << 1 << QStringList{"10:00:00:00", "10:00:00:02"} << false << false << ""
            << QStringList{"10:00:00:00", "10:00:00:01", "10:00:00:02"};
        QTest::newRow("29.97 across a minute")
            << 2 << QStringList{"00:00:59:26", "00:00:59:28", "00:01:00:02"} << false << true << ""
            << QStringList{"00:00:59:28", "00:00:59:29", "00:01:00:02", "00:01:00:03",
                           "00:01:00:04"};
        QTest::newRow("29.97: 59:28 two on is 00:01:00:02")
            << 2 << QStringList{"00:00:59:28"} << false << true << "" << QStringList{"00:01:00:02"};
        QTest::newRow("29.97: 59:29 two on is 00:01:00:03")
            << 2 << QStringList{"00:00:59:29"} << false << true << "" << QStringList{"00:01:00:03"};
        QTest::newRow("29.97: counted from 59:27 to 00:01:00:02")
            << 2 << QStringList{"00:00:59:27", "00:00:59:29"} << false << false << ""
            << QStringList{"00:00:59:27", "00:00:59:28", "00:00:59:29"};
        QTest::newRow("29.97: a tenth minute keeps 00:10:00:00")
            << 2 << QStringList{"00:09:59:28"} << false << true << "" << QStringList{"00:10:00:00"};
        QTest::newRow("reverse: as they come, one back every four pieces")
            << 1 << QStringList{"10:00:00:10", "10:00:00:08"} << true << true << ""
            << QStringList{"10:00:00:10", "10:00:00:09", "10:00:00:08"};
        QTest::newRow("reverse across a 29.97 minute")
            << 2 << QStringList{"00:01:00:02", "00:00:59:28"} << true << true << ""
            << QStringList{"00:01:00:02", "00:00:59:29", "00:00:59:28"};
        QTest::newRow("a locate, then its pieces")
            << 1 << QStringList{"L10:00:00:00", "10:00:00:00"} << false << true << ""
            << QStringList{"10:00:00:00", "10:00:00:01", "10:00:00:02"};
        QTest::newRow("a locate as decoded: its pieces add no count")
            << 1 << QStringList{"L10:00:00:00", "10:00:00:00"} << false << false << ""
            << QStringList{"10:00:00:00", "10:00:00:00"};
        QTest::newRow("an offset, in the rate's numbering")
            << 2 << QStringList{"00:00:59:20"} << false << true << "+00:00:00:08"
            << QStringList{"00:01:00:02"};
        QTest::newRow("an offset 29.97 lacks: nothing sent")
            << 2 << QStringList{"00:00:59:20"} << false << true << "+00:01:00:00"
            << QStringList{"offset refused at 2"};
    }

    // What goes out for times read from quarter frames and full frames.
    void bridge()
    {
        QFETCH(int, type);
        QFETCH(QStringList, times);
        QFETCH(bool, reverse);
        QFETCH(bool, correction);
        QFETCH(QString, offset);
        QFETCH(QStringList, sent);
        Mtc::BridgeSettings settings;
        settings.latencyCorrection = correction;
        if (!offset.isEmpty()) {
            TimecodeOffset parsed;
            QVERIFY(parseOffset(offset, &parsed));
            for (quint8 t = 0; t < Timecode::kTypeCount; ++t)
                settings.offsetExists[t] = offsetFrames(parsed, t, &settings.offsetFrames[t]);
        }
        Mtc::BridgeRules rules(settings);
        std::vector<Mtc::BridgeAction> actions;
        qint64 now = 1000 * kMs;
        for (const QString& time : times) {
            QList<QByteArray> messages;
            if (time.startsWith(QLatin1Char('L'))) {
                const auto full = Mtc::fullFrame(record(time.mid(1), type));
                messages.append(QByteArray(reinterpret_cast<const char*>(full.data()), 10));
            } else {
                messages = pieces(record(time, type), reverse);
            }
            for (const QByteArray& message : messages) {
                rules.message(reinterpret_cast<const quint8*>(message.data()), int(message.size()),
                              now, &actions);
                now += 10 * kMs;
            }
        }
        QStringList got;
        for (const Mtc::BridgeAction& action : actions)
            got.append(action.kind == Mtc::BridgeAction::Send ? Timecode::text(action.record)
                                                              : actionText(action));
        QCOMPARE(got, sent);
        QCOMPARE(rules.counts().errors, qint64(0));
    }

    void loss_data()
    {
        QTest::addColumn<int>("freewheel");
        QTest::addColumn<QStringList>("actions"); // "ms: action" after the frame read, 25 fps
        // The frame read at 0 was sent as 10:00:00:02. A freewheeled frame goes a quarter of a
        // frame after it was due (50 ms, 90 ms, 130 ms); the loss comes after two periods.
        QTest::newRow("no freewheel") << 0 << QStringList{"80: lost after 10:00:00:02"};
        QTest::newRow("one frame")
            << 1 << QStringList{"50: freewheel 10:00:00:03", "80: lost after 10:00:00:02"};
        QTest::newRow("three frames")
            << 3
            << QStringList{"50: freewheel 10:00:00:03", "80: lost after 10:00:00:02",
                           "90: freewheel 10:00:00:04", "130: freewheel 10:00:00:05"};
    }

    // A whole time read, then nothing: the frames freewheeled and the loss, each once and when
    // due, not a nanosecond before; then a locate three seconds on is the return, with how far
    // it lies from where the numbering would be.
    void loss()
    {
        QFETCH(int, freewheel);
        QFETCH(QStringList, actions);
        Mtc::BridgeSettings settings;
        settings.freewheelFrames = freewheel;
        Mtc::BridgeRules rules(settings);
        std::vector<Mtc::BridgeAction> done;
        const qint64 read = 5000 * kMs;
        const QList<QByteArray> messages = pieces(record("10:00:00:00", 1), false);
        for (int i = 0; i < messages.size(); ++i)
            rules.message(reinterpret_cast<const quint8*>(messages[i].data()), 2,
                          read - (7 - i) * 10 * kMs, &done);
        QCOMPARE(int(done.size()), 1);
        for (const QString& expected : actions) {
            const qint64 due = read + expected.section(QLatin1Char(':'), 0, 0).toLongLong() * kMs;
            QCOMPARE(rules.nextDueNs(), due);
            done.clear();
            rules.advance(due - 1, &done);
            QCOMPARE(int(done.size()), 0);
            rules.advance(due, &done);
            QCOMPARE(int(done.size()), 1);
            QCOMPARE(actionText(done.front()), expected.section(QStringLiteral(": "), 1));
        }
        done.clear();
        rules.advance(read + 2900 * kMs, &done);
        QCOMPARE(int(done.size()), 0);
        QCOMPARE(rules.nextDueNs(), qint64(-1));
        QCOMPARE(rules.counts().state, Mtc::BridgeCounts::Lost);
        QCOMPARE(rules.counts().freewheeled, qint64(freewheel));

        const auto full = Mtc::fullFrame(record("10:00:10:00", 1));
        rules.message(full.data(), int(full.size()), read + 3000 * kMs, &done);
        QStringList got;
        for (const Mtc::BridgeAction& action : done)
            got.append(actionText(action));
        // 3 s on from 10:00:00:02 is 10:00:03:02; 10:00:10:00 lies 173 frames beyond.
        QCOMPARE(got, QStringList({"back at 10:00:10:00, jump 173", "send 10:00:10:00"}));
        QCOMPARE(rules.counts().state, Mtc::BridgeCounts::Running);
    }

    void sequencer_data()
    {
        QTest::addColumn<QStringList>("frames");   // 25 fps, 40 ms apart from 0; "-" a silence
        QTest::addColumn<QStringList>("messages"); // "ms bytes"
        const QStringList first{"0 F0 7F 7F 01 01 2A 14 1E 18 F7", "0 F1 08", "10 F1 11",
                                "20 F1 2E", "30 F1 31"};
        const QStringList second{"40 F1 44", "50 F1 51", "60 F1 6A", "70 F1 72"};
        QTest::newRow("the first frame: a full frame, then pieces 0..3")
            << QStringList{"10:20:30:24"} << first;
        QTest::newRow("the next frame: pieces 4..7 of the same time")
            << QStringList{"10:20:30:24", "10:20:31:00"} << first + second;
        QTest::newRow("the third: pieces 0..3 of its own time")
            << QStringList{"10:20:30:24", "10:20:31:00", "10:20:31:01"}
            << first + second + QStringList{"80 F1 01", "90 F1 10", "100 F1 2F", "110 F1 31"};
        QTest::newRow("a jump: a full frame, and the pieces afresh")
            << QStringList{"10:20:30:24", "11:00:00:00"}
            << first + QStringList{"40 F0 7F 7F 01 01 2B 00 00 00 F7", "40 F1 00", "50 F1 10",
                                   "60 F1 20", "70 F1 30"};
        QTest::newRow("a time held: one full frame, then nothing")
            << QStringList{"10:20:30:24", "10:20:30:24", "10:20:30:24"}
            << first + QStringList{"40 F0 7F 7F 01 01 2A 14 1E 18 F7"};
        // The full frame at the hold puts a receiver back from the frame it counted on.
        QTest::newRow("a step back to a time then held: its full frame again")
            << QStringList{"10:20:30:24", "10:20:31:00", "10:20:30:24", "10:20:30:24"}
            << first + second + QStringList{"80 F0 7F 7F 01 01 2A 14 1E 18 F7",
                                            "80 F1 08",
                                            "90 F1 11",
                                            "100 F1 2E",
                                            "110 F1 31",
                                            "120 F0 7F 7F 01 01 2A 14 1E 18 F7"};
        QTest::newRow("moving again after a hold: a full frame")
            << QStringList{"10:20:30:24", "10:20:30:24", "10:20:31:00"}
            << first + QStringList{"40 F0 7F 7F 01 01 2A 14 1E 18 F7",
                                   "80 F0 7F 7F 01 01 2A 14 1F 00 F7",
                                   "80 F1 00",
                                   "90 F1 10",
                                   "100 F1 2F",
                                   "110 F1 31"};
        QTest::newRow("after a silence: a full frame")
            << QStringList{"10:20:30:24", "-", "10:20:31:01"}
            << first + QStringList{"80 F0 7F 7F 01 01 2A 14 1F 01 F7", "80 F1 01", "90 F1 10",
                                   "100 F1 2F", "110 F1 31"};
    }

    void sequencer()
    {
        QFETCH(QStringList, frames);
        QFETCH(QStringList, messages);
        Mtc::Sequencer sequencer;
        std::vector<Mtc::TimedMessage> out;
        for (int i = 0; i < frames.size(); ++i) {
            if (frames[i] == QLatin1String("-"))
                sequencer.silence();
            else
                sequencer.frame(record(frames[i], 1), i * 40 * kMs, 40 * kMs, &out);
        }
        QStringList got;
        for (const Mtc::TimedMessage& message : out)
            got.append(QStringLiteral("%1 ").arg(message.dueNs / kMs) +
                       hex(message.bytes, message.size));
        QCOMPARE(got, messages);
    }

    // At 29.97 a frame lasts 33,366,666.7 ns: its pieces a quarter of it apart, to the
    // nanosecond, from its own beginning.
    void quarterFramesOf2997()
    {
        Mtc::Sequencer sequencer;
        std::vector<Mtc::TimedMessage> out;
        sequencer.frame(record("00:01:00:02", 2), 1000, 33'366'667, &out);
        QCOMPARE(int(out.size()), 5);
        QCOMPARE(out[1].dueNs, qint64(1000));
        QCOMPARE(out[2].dueNs, qint64(1000 + 8'341'667));
        QCOMPARE(out[3].dueNs, qint64(1000 + 16'683'334));
        QCOMPARE(out[4].dueNs, qint64(1000 + 25'025'000));
    }

    void choosePort_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("index"); // -1: refused
        const QStringList ports{"Ardour:MTC out", "Ardour:MIDI clock out",
                                "Midi Through:Midi Through Port-0 14:0", "Reaper:MTC"};
        QTest::newRow("the whole name") << ports << "Ardour:MTC out" << 0;
        QTest::newRow("a part of one name, case aside") << ports << "mtc OUT" << 0;
        QTest::newRow("ALSA's client and port numbers") << ports << "14:0" << 2;
        QTest::newRow("a part of two names") << ports << "Ardour" << -1;
        QTest::newRow("a whole name that is part of another")
            << QStringList{"Reaper:MTC", "Reaper:MTC 2"} << "Reaper:MTC" << 0;
        QTest::newRow("no such port") << ports << "Nuendo" << -1;
        QTest::newRow("no ports at all") << QStringList{} << "MTC" << -1;
    }

    void choosePort()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, text);
        QFETCH(int, index);
        int chosen = -1;
        const QString complaint = Midi::choosePort(names, text, &chosen);
        QCOMPARE(complaint.isNull(), index >= 0);
        QCOMPARE(chosen, index);
    }

    void options_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("bridge: --freewheel 1800")
            << "bridge" << QStringList{"--freewheel", "1800"} << true;
        QTest::newRow("bridge: --freewheel 1801")
            << "bridge" << QStringList{"--freewheel", "1801"} << false;
        QTest::newRow("bridge: --freewheel -1")
            << "bridge" << QStringList{"--freewheel", "-1"} << false;
        QTest::newRow("bridge: --stream 255") << "bridge" << QStringList{"--stream", "255"} << true;
        QTest::newRow("bridge: --stream 256")
            << "bridge" << QStringList{"--stream", "256"} << false;
        QTest::newRow("bridge: --offset 25:00:00:00")
            << "bridge" << QStringList{"--offset", "25:00:00:00"} << false;
        QTest::newRow("bridge: --midi-api jack")
            << "bridge" << QStringList{"--midi-api", "jack"} << true;
        QTest::newRow("bridge: --midi-api oss")
            << "bridge" << QStringList{"--midi-api", "oss"} << false;
        QTest::newRow("bridge: --port with a colon")
            << "bridge" << QStringList{"--port", "a:b"} << false;
        QTest::newRow("bridge: --port empty") << "bridge" << QStringList{"--port", ""} << false;
        QTest::newRow("bridge: --connect empty")
            << "bridge" << QStringList{"--connect", ""} << false;
        QTest::newRow("encode: 29.97 from a skipped frame")
            << "encode" << QStringList{"--rate", "29.97", "--start", "00:01:00:00"} << false;
        QTest::newRow("encode: --duration and --frames")
            << "encode" << QStringList{"--duration", "2", "--frames", "50"} << false;
        QTest::newRow("encode: --follow with --rate")
            << "encode" << QStringList{"--follow", "--rate", "25"} << false;
        QTest::newRow("encode: --freewheel without --follow")
            << "encode" << QStringList{"--freewheel", "10"} << false;
        QTest::newRow("encode: --follow --freewheel 1800")
            << "encode" << QStringList{"--follow", "--freewheel", "1800"} << true;
        QTest::newRow("encode: --follow --freewheel 1801")
            << "encode" << QStringList{"--follow", "--freewheel", "1801"} << false;
        QTest::newRow("encode: --follow ADDRESS:STREAM --advance 20")
            << "encode" << QStringList{"--follow", "10.0.0.5:1", "--advance", "20"} << true;
        QTest::newRow("encode: --follow stream 256")
            << "encode" << QStringList{"--follow", "10.0.0.5:256"} << false;
    }

    // Each option's refusals, and its first and last good value.
    void options()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, arguments);
        QFETCH(bool, accepted);
        int status = -1;
        if (command == QLatin1String("bridge")) {
            MtcBridgeOptions options;
            QCOMPARE(parseMtcBridgeOptions(arguments, &options, &status), accepted);
            if (arguments.contains(QStringLiteral("1800")))
                QCOMPARE(options.settings.freewheelFrames, 1800);
            if (arguments.contains(QStringLiteral("255")))
                QCOMPARE(int(options.stream), 255);
        } else {
            MtcEncodeOptions options;
            QCOMPARE(parseMtcEncodeOptions(arguments, &options, &status), accepted);
            if (arguments.contains(QStringLiteral("3600")))
                QCOMPARE(options.freewheelFrames, 3600);
            if (arguments.contains(QStringLiteral("10.0.0.5:1"))) {
                QCOMPARE(options.followed.stream, 1);
                QCOMPARE(options.advanceNs, 20 * kMs);
            }
        }
        QCOMPARE(status, accepted ? 0 : 2);
    }

    // An offset is read once for every rate: one that drop-frame numbering skips is refused only
    // at 29.97, once MTC of that rate comes.
    void offsetAtEveryRate()
    {
        MtcBridgeOptions options;
        int status = -1;
        QVERIFY(parseMtcBridgeOptions({"--offset", "-00:01:00:00"}, &options, &status));
        QCOMPARE(options.settings.offsetExists[1], true);
        QCOMPARE(options.settings.offsetFrames[1], qint64(-1500));
        QCOMPARE(options.settings.offsetExists[2], false);
        QCOMPARE(options.settings.offsetExists[3], true);
        QCOMPARE(options.settings.offsetFrames[3], qint64(-1800));
    }
};

QTEST_GUILESS_MAIN(MtcTest)
#include "tst_mtc.moc"
