// LTC in and out without a socket: what the encoder writes the decoder reads back exactly at
// every rate, field recordings (inverted, quiet, fast, cut, damaged, stereo) through the sound
// files recorders write and the raw sample types pipes carry, the rate told from the stream, and
// the joins between frames that reveal damage.
#include "ltc/ltcdecoder.h"
#include "ltc/ltcencoder.h"
#include "ltc/pcminput.h"
#include "ltc/pcmoutput.h"
#include "ltc/ratedetector.h"
#include "timecode.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

TimecodeRecord record(const QString& text, quint8 type)
{
    const QStringList f = text.split(QLatin1Char(':'));
    return TimecodeRecord{quint8(f[3].toUInt()), quint8(f[2].toUInt()), quint8(f[1].toUInt()),
                          quint8(f[0].toUInt()), type};
}

// The times a run of frames from `start` shows, as "HH:MM:SS:FF".
QStringList sequence(const QString& start, int count, quint8 type)
{
    QStringList times;
    const qint64 first = Timecode::toFrameNumber(record(start, type));
    for (int i = 0; i < count; ++i)
        times.append(Timecode::text(Timecode::fromFrameNumber(first + i, type)));
    return times;
}

// The frames of these times, as the encoder writes them, with the closing edge.
std::vector<qint16> encode(quint8 type, int sampleRate, double level, const QStringList& times)
{
    LtcEncoder encoder(type, sampleRate, level);
    std::vector<qint16> samples;
    for (const QString& time : times)
        encoder.encode(record(time, type), &samples);
    encoder.finish(&samples);
    return samples;
}

struct Decoded
{
    QStringList times;
    std::vector<LtcFrame> frames;
    qint64 errors = 0;
    bool rateKnown = false;
    quint8 type = 0;
};

// Feeds samples to the decoder in blocks as the commands read them.
struct Decoding
{
    explicit Decoding(int sampleRate) : decoder(sampleRate), rate(sampleRate) {}
    void feed(const qint16* samples, int count)
    {
        decoder.write(samples, count);
        LtcFrame frame;
        while (decoder.read(&frame)) {
            rate.add(frame);
            result.frames.push_back(frame);
            result.times.append(QString::asprintf("%02d:%02d:%02d:%02d", frame.hours, frame.minutes,
                                                  frame.seconds, frame.frames));
        }
    }
    Decoded finish()
    {
        result.errors = decoder.errors();
        result.rateKnown = rate.settle();
        result.type = rate.type();
        return result;
    }
    LtcDecoder decoder;
    RateDetector rate;
    Decoded result;
};

Decoded decode(const std::vector<qint16>& samples, int sampleRate)
{
    Decoding decoding(sampleRate);
    for (size_t i = 0; i < samples.size(); i += Pcm::kMaxBlock)
        decoding.feed(samples.data() + i, int(qMin<size_t>(Pcm::kMaxBlock, samples.size() - i)));
    return decoding.finish();
}

// A WAV file as streaming writers leave it: `channels` interleaved (LTC on channel 2, a hum on
// the others), samples `bits` wide, an odd-sized LIST chunk before the data, and the sizes left
// at 0xFFFFFFFF, "to the end of the file".
QByteArray wavFile(const std::vector<qint16>& ltc, int channels, int bits)
{
    QByteArray data;
    for (size_t i = 0; i < ltc.size(); ++i) {
        for (int c = 1; c <= channels; ++c) {
            const qint16 v = c == 2 ? ltc[i] : qint16(8000 * std::sin(i * 0.0654));
            for (int b = 16; b < bits; b += 8)
                data.append('\0');
            data.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
        }
    }
    QByteArray file("RIFF\xff\xff\xff\xffWAVEfmt \x10\0\0\0", 20);
    auto le = [&file](quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            file.append(char((v >> (8 * i)) & 0xFF));
    };
    le(1, 2);
    le(quint32(channels), 2);
    le(48000, 4);
    le(quint32(48000 * channels * bits / 8), 4);
    le(quint32(channels * bits / 8), 2);
    le(quint32(bits), 2);
    file.append("LIST", 4).append("\x05\0\0\0INFOx\0", 10); // 5 bytes and a pad byte
    file.append("data", 4);
    le(0xFFFFFFFF, 4);
    return file + data;
}

// A sound file libsndfile writes in `format`: LTC on channel `ltcChannel` of `channels`, a hum on
// the others, and for RF64 a broadcast extension chunk as BWF recorders add.
bool writeSound(const QString& path, int format, int sampleRate, int channels, int ltcChannel,
                const std::vector<qint16>& ltc)
{
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64) {
        SF_BROADCAST_INFO bext;
        std::memset(&bext, 0, sizeof bext);
        std::strcpy(bext.originator, "field recorder");
        sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof bext);
    }
    // Full scale is ±1.0, as float files hold it.
    std::vector<float> frames;
    for (size_t i = 0; i < ltc.size(); ++i) {
        for (int c = 1; c <= channels; ++c)
            frames.push_back(c == ltcChannel ? ltc[i] / 32768.0f : 0.25f * std::sin(i * 0.0654f));
    }
    const bool written =
        sf_writef_float(file, frames.data(), sf_count_t(ltc.size())) == sf_count_t(ltc.size());
    return sf_close(file) == 0 && written;
}

// Samples as raw little-endian bytes of a format: the integer ones the sample's 16 bits at the
// top of 32 with a filler below, cut to their width; f32 scaled to ±1.0.
QByteArray rawBytes(const std::vector<qint16>& samples, Pcm::RawFormat format)
{
    const int width = Pcm::rawSampleBytes(format);
    QByteArray bytes;
    for (const qint16 s : samples) {
        quint32 bits = quint32(quint16(s)) << 16 | 0x5a5a;
        if (format == Pcm::RawFormat::F32) {
            const float f = s / 32768.0f;
            std::memcpy(&bits, &f, sizeof bits);
        }
        for (int i = 4 - width; i < 4; ++i)
            bytes.append(char((bits >> (8 * i)) & 0xFF));
    }
    return bytes;
}

} // namespace

class LtcTest : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("count");
        QTest::newRow("24 at 44100, across midnight") << 0 << 44100 << "23:59:59:12" << 40;
        QTest::newRow("25 at 48000, across a minute") << 1 << 48000 << "10:00:59:10" << 40;
        QTest::newRow("29.97 at 48000, across a minute that drops 00 and 01")
            << 2 << 48000 << "00:00:59:20" << 40;
        QTest::newRow("29.97 at 96000, across a tenth minute, which keeps them")
            << 2 << 96000 << "01:09:59:20" << 40;
        QTest::newRow("29.97 at 44100, across midnight") << 2 << 44100 << "23:59:59:20" << 40;
        QTest::newRow("30 at 96000, across an hour") << 3 << 96000 << "09:59:59:15" << 40;
    }

    void roundTrip()
    {
        QFETCH(int, type);
        QFETCH(int, sampleRate);
        QFETCH(QString, start);
        QFETCH(int, count);
        const QStringList times = sequence(start, count, quint8(type));
        const Decoded got = decode(encode(quint8(type), sampleRate, -18, times), sampleRate);
        QCOMPARE(got.times, times);
        QCOMPARE(got.errors, qint64(0));
        QVERIFY(got.rateKnown);
        QCOMPARE(int(got.type), type);
        // Frame k ends where the rate puts it, 1601.6 samples each at 29.97, to within the two
        // samples the decoder may place its last edge off by.
        const double perFrame = sampleRate / Timecode::nominalRate(quint8(type));
        for (int k = 0; k < count; ++k) {
            QCOMPARE(got.frames[size_t(k)].dropFrame, type == Timecode::kDropFrame);
            QVERIFY2(std::abs(got.frames[size_t(k)].lastSample + 1 - (k + 1) * perFrame) <= 2.0,
                     qPrintable(QStringLiteral("frame %1 ends at %2")
                                    .arg(k)
                                    .arg(got.frames[size_t(k)].lastSample)));
        }
    }

    void fieldRecordings_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("times");
        QTest::addColumn<qint64>("errors");
        QTest::addColumn<QString>("failure"); // what opening the file says, when it fails

        const QStringList all = sequence("10:00:00:00", 50, Timecode::kEbu);
        QTest::newRow("inverted") << "inverted" << all << qint64(0) << "";
        QTest::newRow("at -36 dBFS") << "quiet" << all << qint64(0) << "";
        QTest::newRow("played 5 % fast") << "fast" << all << qint64(0) << "";
        // A second of timecode then takes 1.11 s, longer than the cadence may wait.
        QTest::newRow("played 10 % slow") << "slow" << all << qint64(0) << "";
        QTest::newRow("a jump, passed on as it is")
            << "jump"
            << sequence("10:00:00:00", 25, Timecode::kEbu) +
                   sequence("01:23:45:00", 25, Timecode::kEbu)
            << qint64(0) << "";
        QTest::newRow("a damaged frame, left out and counted")
            << "damaged" << all.mid(0, 20) + all.mid(21) << qint64(1) << "";
        QTest::newRow("stereo, LTC on channel 2, after an odd-sized LIST chunk, sizes unknown")
            << "stereo" << all << qint64(0) << "";
        QTest::newRow("silence: no LTC") << "silence" << QStringList() << qint64(0) << "";
        QTest::newRow("24-bit WAV") << "24-bit" << all << qint64(0) << "";
        QTest::newRow("32-bit float WAV") << "float" << all << qint64(0) << "";
        QTest::newRow("WAVE_FORMAT_EXTENSIBLE, 24-bit, LTC on channel 2 of 2")
            << "extensible" << all << qint64(0) << "";
        QTest::newRow("RF64 with a bext chunk (BWF), float") << "rf64" << all << qint64(0) << "";
        QTest::newRow("AIFF, 24-bit, at 32000 Hz") << "aiff" << all << qint64(0) << "";
        QTest::newRow("FLAC, 24-bit, at 192000 Hz") << "flac" << all << qint64(0) << "";
        QTest::newRow("not a sound file")
            << "text" << QStringList() << qint64(0) << "is not a sound file that can be read";
        QTest::newRow("sampled below 32000 Hz")
            << "22050" << QStringList() << qint64(0)
            << "is sampled at 22050 Hz; LTC is read at 32000 to 192000 Hz";
        QTest::newRow("a channel it does not have")
            << "channel 3" << QStringList() << qint64(0) << "has 2 channels; there is no channel 3";
    }

    void fieldRecordings()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, times);
        QFETCH(qint64, errors);
        QFETCH(QString, failure);

        // What plays: the frames expected, and the damaged one too.
        const QStringList played = change == "jump" ? times : sequence("10:00:00:00", 50, 1);
        const QHash<QString, QPair<int, int>> written = {
            {"24-bit", {SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000}},
            {"float", {SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000}},
            {"extensible", {SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 48000}},
            {"rf64", {SF_FORMAT_RF64 | SF_FORMAT_FLOAT, 48000}},
            {"aiff", {SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 32000}},
            {"flac", {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 192000}},
            {"22050", {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050}},
        };
        const int sampleRate = written.value(change, {0, 48000}).second;
        std::vector<qint16> ltc = encode(Timecode::kEbu, sampleRate, -18, played);
        int channels = 1;
        int channel = 1;
        if (change == "inverted") {
            for (qint16& s : ltc)
                s = qint16(-s);
        } else if (change == "quiet") {
            ltc = encode(Timecode::kEbu, 48000, -36, played);
        } else if (change == "fast" || change == "slow") {
            // Resampled: 5 % fewer samples for the same frames, or 10 % more.
            std::vector<qint16> played;
            for (double t = 0; t < ltc.size() - 1; t += change == "fast" ? 1.05 : 0.9) {
                const size_t i = size_t(t);
                played.push_back(qint16(std::lrint(ltc[i] + (ltc[i + 1] - ltc[i]) * (t - i))));
            }
            ltc = played;
        } else if (change == "damaged") {
            for (int i = 0; i < 8; ++i) // a click inside frame 20
                ltc[size_t(20 * 1920 + 500 + i)] = qint16(-ltc[size_t(20 * 1920 + 500 + i)]);
        } else if (change == "stereo" || change == "channel 3" || change == "extensible") {
            channels = 2;
            channel = change == "channel 3" ? 3 : 2;
        } else if (change == "silence") {
            ltc.assign(96000, 0);
        }

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ltc.wav"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (change == "text") {
            file.write("10:00:00:00\n");
        } else if (written.contains(change)) {
            file.close();
            QVERIFY(writeSound(path, written[change].first, sampleRate, channels, channel, ltc));
        } else if (channels == 1) {
            file.close();
            QString error;
            std::unique_ptr<Pcm::SampleSink> sink = Pcm::createWav(path, 48000, 16, &error);
            QVERIFY2(sink, qPrintable(error));
            QCOMPARE(sink->write(ltc.data(), int(ltc.size())), Pcm::SampleSink::Written);
            QVERIFY(sink->finish());
        } else {
            file.write(wavFile(ltc, channels, 16));
        }
        file.close();

        QString error;
        std::unique_ptr<Pcm::SampleSource> source = Pcm::openFile(path, channel, &error);
        if (!failure.isEmpty()) {
            QVERIFY(!source);
            QVERIFY2(error.startsWith(path + QLatin1Char(' ')) && error.contains(failure),
                     qPrintable(error));
            return;
        }
        QVERIFY2(source, qPrintable(error));
        QCOMPARE(source->sampleRate(), sampleRate);
        Decoding decoding(sampleRate);
        qint16 block[Pcm::kMaxBlock];
        qint64 read = 0;
        for (int n; (n = source->read(block, Pcm::kMaxBlock)) > 0; read += n)
            decoding.feed(block, n);
        QCOMPARE(read, qint64(ltc.size()));
        const Decoded got = decoding.finish();
        QCOMPARE(got.times, times);
        QCOMPARE(got.errors, errors);
        QCOMPARE(got.rateKnown, !times.isEmpty());
        if (got.rateKnown)
            QCOMPARE(int(got.type), int(Timecode::kEbu));
    }

    // Raw samples as arecord and pw-record write them, read from a descriptor in blocks whose
    // frames a read may split, decode exactly.
    void rawFormats_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("s16") << int(Pcm::RawFormat::S16);
        QTest::newRow("s24, three bytes") << int(Pcm::RawFormat::S24);
        QTest::newRow("s32") << int(Pcm::RawFormat::S32);
        QTest::newRow("f32") << int(Pcm::RawFormat::F32);
    }

    void rawFormats()
    {
        QFETCH(int, format);
        const QStringList times = sequence("10:00:00:00", 50, Timecode::kEbu);
        const std::vector<qint16> ltc = encode(Timecode::kEbu, 48000, -18, times);
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write(rawBytes(ltc, Pcm::RawFormat(format)));
        file.flush();
        const int fd = ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        std::unique_ptr<Pcm::SampleSource> source =
            Pcm::rawSource(fd, 48000, Pcm::RawFormat(format));
        Decoding decoding(48000);
        qint16 block[Pcm::kMaxBlock];
        qint64 read = 0;
        // An odd block size, so the frames of every format but s16 straddle the reads' ends.
        for (int n; (n = source->read(block, 251)) > 0; read += n)
            decoding.feed(block, n);
        ::close(fd);
        QCOMPARE(read, qint64(ltc.size()));
        QCOMPARE(decoding.finish().times, times);
    }

    void rawSamples_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("sample");
        const int s16 = int(Pcm::RawFormat::S16), s24 = int(Pcm::RawFormat::S24),
                  s32 = int(Pcm::RawFormat::S32), f32 = int(Pcm::RawFormat::F32);
        QTest::newRow("s16 lowest") << QByteArray("\x00\x80", 2) << s16 << -32768;
        QTest::newRow("s16 highest") << QByteArray("\xff\x7f", 2) << s16 << 32767;
        QTest::newRow("s24 keeps its top 16 bits")
            << QByteArray("\xff\x34\x92", 3) << s24 << -28108;
        QTest::newRow("s32 keeps its top 16 bits")
            << QByteArray("\xff\xff\x34\x12", 4) << s32 << 0x1234;
        QTest::newRow("f32 1.0, clipped") << QByteArray("\x00\x00\x80\x3f", 4) << f32 << 32767;
        QTest::newRow("f32 -1.0") << QByteArray("\x00\x00\x80\xbf", 4) << f32 << -32768;
        QTest::newRow("f32 -0.5") << QByteArray("\x00\x00\x00\xbf", 4) << f32 << -16384;
        QTest::newRow("f32 2.0, clipped") << QByteArray("\x00\x00\x00\x40", 4) << f32 << 32767;
        QTest::newRow("f32 NaN") << QByteArray("\x00\x00\xc0\x7f", 4) << f32 << 0;
    }

    void rawSamples()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, format);
        QFETCH(int, sample);
        QCOMPARE(Pcm::rawSampleBytes(Pcm::RawFormat(format)), int(bytes.size()));
        QCOMPARE(int(Pcm::rawSample(bytes.constData(), Pcm::RawFormat(format))), sample);
    }

    void sampleRates_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("readable");
        QTest::newRow("31999") << 31999 << false;
        QTest::newRow("32000") << 32000 << true;
        QTest::newRow("192000") << 192000 << true;
        QTest::newRow("192001") << 192001 << false;
    }

    void sampleRates()
    {
        QFETCH(int, rate);
        QFETCH(bool, readable);
        QCOMPARE(Pcm::readableSampleRate(rate), readable);
    }

    void joins_data()
    {
        QTest::addColumn<qint64>("length"); // of the frame before, from sample 0
        QTest::addColumn<qint64>("first");
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("lost");
        const qint64 n = 1920;
        const int continuous = int(FrameJoin::Continuous), slipped = int(FrameJoin::Slipped);
        QTest::newRow("right after") << n << qint64(1920) << continuous << qint64(0);
        QTest::newRow("a sample early") << n << qint64(1919) << continuous << qint64(0);
        QTest::newRow("seven samples late") << n << qint64(1927) << continuous << qint64(0);
        QTest::newRow("half a bit late") << n << qint64(1932) << slipped << qint64(0);
        QTest::newRow("a bit early") << n << qint64(1896) << slipped << qint64(0);
        // 2000 samples: the tolerance is 8 exactly, so a join counted one sample off shows.
        QTest::newRow("2000: 8 late") << qint64(2000) << qint64(2008) << continuous << qint64(0);
        QTest::newRow("2000: 9 late") << qint64(2000) << qint64(2009) << slipped << qint64(0);
        QTest::newRow("2000: 8 early") << qint64(2000) << qint64(1992) << continuous << qint64(0);
        QTest::newRow("2000: 9 early") << qint64(2000) << qint64(1991) << slipped << qint64(0);
        QTest::newRow("one frame missing")
            << n << qint64(3840) << int(FrameJoin::Lost) << qint64(1);
        QTest::newRow("ten missing") << n << qint64(21120) << int(FrameJoin::Lost) << qint64(10);
        QTest::newRow("eleven: a pause")
            << n << qint64(23040) << int(FrameJoin::Pause) << qint64(0);
    }

    void joins()
    {
        QFETCH(qint64, length);
        QFETCH(qint64, first);
        QFETCH(int, kind);
        QFETCH(qint64, lost);
        const FrameJoin join = joinFrames(0, length - 1, first);
        QCOMPARE(int(join.kind), kind);
        QCOMPARE(join.lost, lost);
    }

    // The last frame number before a second begins gives the rate at once, long before the
    // cadence could; a number that is no second's last is a jump and decides nothing.
    void rateFromSecond_data()
    {
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("type"); // -1: not known yet
        QTest::newRow("22: a jump") << 22 << -1;
        QTest::newRow("23: 24 fps") << 23 << int(Timecode::kFilm);
        QTest::newRow("24: 25 fps") << 24 << int(Timecode::kEbu);
        QTest::newRow("25: a jump") << 25 << -1;
        QTest::newRow("28: a jump") << 28 << -1;
        QTest::newRow("29: 30 fps") << 29 << int(Timecode::kSmpte);
    }

    void rateFromSecond()
    {
        QFETCH(int, last);
        QFETCH(int, type);
        RateDetector rate(48000);
        LtcFrame before;
        before.seconds = 5;
        before.frames = quint8(last);
        before.lastSample = 1999;
        LtcFrame after;
        after.seconds = 6;
        after.firstSample = 2000;
        after.lastSample = 3999;
        QVERIFY(!rate.add(before));
        QCOMPARE(rate.add(after), type >= 0);
        if (type >= 0)
            QCOMPARE(int(rate.type()), type);
    }

    // Streams whose seconds never complete: the cadence decides, among the rates whose frame
    // numbers go as high as the stream's.
    void rateFromCadence_data()
    {
        QTest::addColumn<int>("samplesPerFrame"); // at 48000
        QTest::addColumn<int>("highestFrame");
        QTest::addColumn<int>("type");
        QTest::newRow("2000: 24") << 2000 << 10 << int(Timecode::kFilm);
        QTest::newRow("1920: 25") << 1920 << 10 << int(Timecode::kEbu);
        QTest::newRow("1600: 30") << 1600 << 10 << int(Timecode::kSmpte);
        QTest::newRow("2000 but frame 24 seen: 25") << 2000 << 24 << int(Timecode::kEbu);
        QTest::newRow("1920 but frame 27 seen: 30") << 1920 << 27 << int(Timecode::kSmpte);
    }

    void rateFromCadence()
    {
        QFETCH(int, samplesPerFrame);
        QFETCH(int, highestFrame);
        QFETCH(int, type);
        RateDetector rate(48000);
        // Frames 5 to highestFrame over and over, a locate back before each second ends.
        qint64 sample = 0;
        int frames = 0;
        for (int f = 5; !rate.known(); f = f == highestFrame ? 5 : f + 1, ++frames) {
            LtcFrame frame;
            frame.frames = quint8(f);
            frame.firstSample = sample;
            frame.lastSample = sample += samplesPerFrame;
            --frame.lastSample;
            rate.add(frame);
        }
        QCOMPARE(int(rate.type()), type);
        QCOMPARE(frames, kCadenceFrames);
    }
};

QTEST_GUILESS_MAIN(LtcTest)
#include "tst_ltc.moc"
