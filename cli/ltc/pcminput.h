// Audio in: 16-bit samples of one channel, from a WAV file or from raw signed 16-bit
// little-endian mono on a descriptor (a pipe from arecord or pw-record). Both are read in blocks
// of at most kMaxBlock samples, so a frame's last sample reaches the decoder promptly.
#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

namespace Pcm {

inline constexpr int kMaxBlock = 256;

// What a WAV file's header says about its samples.
struct WavFormat
{
    int formatTag = 0; // 1 PCM, 3 IEEE float, 0xFFFE extensible (its sub-format decides)
    bool pcm = false;  // integer PCM, plain or through the extensible header
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
};

// The fmt chunk's body read; false when it is too short to say anything.
bool readFmtChunk(const char* data, qint64 size, WavFormat* format);

// Why samples of this format cannot be read as 16-bit PCM; empty when they can.
QString unsupportedFormatReason(const WavFormat& format);

// The data chunk's size as written, when it can be trusted: streaming writers leave 0 or
// 0xFFFFFFFF there, meaning "to the end of the file".
bool dataSizeKnown(quint32 size);

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

// Raw signed 16-bit little-endian mono samples from a descriptor the caller keeps open.
std::unique_ptr<SampleSource> rawSource(int fd, int sampleRate);

// The WAV file at `path`, channel `channel` (from 1), and how many channels it has. Null with
// *error saying what was wrong (unreadable, not a WAV, not 16-bit PCM, no such channel) in
// words that name the file.
std::unique_ptr<SampleSource> openWav(const QString& path, int channel, QString* error,
                                      int* channels = nullptr);

} // namespace Pcm
