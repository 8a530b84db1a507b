// Audio out: mono samples to a WAV file written through libsndfile (16-bit, or 24-bit), or raw
// signed 16-bit little-endian to a descriptor (a pipe to aplay or pw-play, which sets the pace
// by how fast it takes them).
#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

namespace Pcm {

class SampleSink
{
public:
    enum Result { Written, Interrupted, Failed };

    virtual ~SampleSink();

    // Writes all the samples, waiting while a pipe is full. Interrupted: a signal came before
    // all were written; the rest is dropped.
    virtual Result write(const qint16* samples, int count) = 0;

    // Completes the output (a WAV file's header gets its sizes) and closes what the sink
    // opened; false with errorText() when that failed.
    virtual bool finish();

    QString errorText() const { return error; }
    // The reader of a pipe went away (EPIPE).
    bool readerGone() const { return gone; }

protected:
    QString error;
    bool gone = false;
};

// Raw samples to a descriptor the caller keeps open.
std::unique_ptr<SampleSink> rawSink(int fd);

// The sample widths a WAV file is written with.
bool supportedWavBits(int bits);

// A new mono WAV file of `bits` (16 or 24) bit samples at `path`, replacing one that is there.
// Null with *error when it cannot be created.
std::unique_ptr<SampleSink> createWav(const QString& path, int sampleRate, int bits,
                                      QString* error);

} // namespace Pcm
