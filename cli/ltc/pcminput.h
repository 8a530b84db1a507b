// Audio in: 16-bit samples of one channel, from a sound file read through libsndfile (WAV of
// any sample type, WAVE_FORMAT_EXTENSIBLE, RF64 and BWF, AIFF, FLAC) or from raw little-endian
// mono on a descriptor (a pipe from arecord or pw-record). Both are read in blocks of at most
// kMaxBlock samples, so a frame's last sample reaches the decoder promptly. LTC needs no more
// than 16 bits: wider samples keep their top 16, floating-point ones are scaled from ±1.0.
#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>

namespace Pcm {

inline constexpr int kMaxBlock = 256;

// The sample rates LTC is read at: libltc decodes 32 kHz to 192 kHz.
inline constexpr int kLowestSampleRate = 32000;
inline constexpr int kHighestSampleRate = 192000;
bool readableSampleRate(int sampleRate);

// The sample types raw input comes in, all little-endian: --format s16, s24 (three bytes, as
// arecord -f S24_3LE writes), s32 and f32.
enum class RawFormat { S16, S24, S32, F32 };

// The --format word; false when it names none of them.
bool parseRawFormat(const QString& text, RawFormat* format);
// Bytes a sample of the format takes.
int rawSampleBytes(RawFormat format);
// One sample at `data` as a 16-bit sample.
qint16 rawSample(const char* data, RawFormat format);
// A floating-point sample (full scale ±1.0) as a 16-bit one, clipped.
qint16 floatSample(float value);

// The text of errno, as the commands word a failed system call.
QString systemError();

class SampleSource
{
public:
    // read() results that are not a count of samples.
    static constexpr int kEnd = 0;
    static constexpr int kFailed = -1;
    static constexpr int kInterrupted = -2; // a signal came; nothing was lost, call again

    virtual ~SampleSource();

    // Up to maxSamples (at most kMaxBlock) samples of the chosen channel into `samples`.
    // Blocks until at least one is there, the input ends, or a signal interrupts.
    virtual int read(qint16* samples, int maxSamples) = 0;

    int sampleRate() const { return rate; }
    QString errorText() const { return error; }

protected:
    int rate = 0;
    QString error;
};

// Raw mono samples of the format from a descriptor the caller keeps open. With `stop`, the flag
// SIGINT and SIGTERM raise: a read then returns kInterrupted for a signal that came at any
// moment after the caller last looked at the flag, never waiting on for more input.
std::unique_ptr<SampleSource> rawSource(int fd, int sampleRate, RawFormat format = RawFormat::S16,
                                        const std::atomic<bool>* stop = nullptr);

// The sound file at `path`, channel `channel` (from 1), and how many channels it has. Null with
// *error saying what was wrong (unreadable, not a sound file, a sample rate LTC is not read at,
// no such channel) in words that name the file.
std::unique_ptr<SampleSource> openFile(const QString& path, int channel, QString* error,
                                       int* channels = nullptr);

} // namespace Pcm
