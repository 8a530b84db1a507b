// Audio out: 16-bit mono samples to a WAV file, or raw signed 16-bit little-endian to a
// descriptor (a pipe to aplay or pw-play, which sets the pace by how fast it takes them).
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>

namespace Pcm {

// The 44-byte header of a mono 16-bit PCM WAV holding dataBytes bytes of samples.
QByteArray wavHeader(int sampleRate, quint32 dataBytes);

class SampleSink
{
public:
    enum Result { Written, Interrupted, Failed };

    virtual ~SampleSink();

    // Writes all the samples, waiting while a pipe is full. Interrupted: a signal came before
    // all were written; the rest is dropped.
    Result write(const qint16* samples, int count);

    // Completes the output (a WAV file's header gets its sizes) and closes what the sink
    // opened; false with errorText() when that failed.
    virtual bool finish();

    QString errorText() const { return error; }
    // The reader of a pipe went away (EPIPE).
    bool readerGone() const { return gone; }

protected:
    explicit SampleSink(int fd) : fd(fd) {}
    int fd;
    qint64 bytesWritten = 0;
    QString error;
    bool gone = false;
};

// Raw samples to a descriptor the caller keeps open.
std::unique_ptr<SampleSink> rawSink(int fd);

// A new WAV file at `path` (replacing one that is there). Its header says "to the end of the
// file" until finish() writes the real sizes, so a file cut short still reads. Null with *error
// when it cannot be created.
std::unique_ptr<SampleSink> createWav(const QString& path, int sampleRate, QString* error);

} // namespace Pcm
