#include "ltc/pcminput.h"
#include "ltc/ltctext.h"

#include <QFile>

#include <sndfile.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace Pcm {

namespace {

quint32 le32(const char* p, int bytes)
{
    quint32 value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= quint32(quint8(p[i])) << (8 * i);
    return value;
}

// Interleaved frames of raw samples from a descriptor, one channel kept. Bytes of a frame split
// across two reads (a pipe hands out what it has) wait for the rest.
class DescriptorSource : public SampleSource
{
public:
    DescriptorSource(int fd, int sampleRate, RawFormat format, const std::atomic<bool>* stop)
        : fd(fd), format(format), frameBytes(rawSampleBytes(format)), stop(stop),
          buffer(size_t(frameBytes) * kMaxBlock)
    {
        rate = sampleRate;
    }

    int read(qint16* samples, int maxSamples) override
    {
        const qint64 wanted = qint64(qBound(1, maxSamples, kMaxBlock)) * frameBytes;
        for (;;) {
            if (!waitForInput())
                return kInterrupted;
            const ssize_t n = ::read(fd, buffer.data() + pending, size_t(wanted - pending));
            if (n < 0 && errno == EINTR)
                return kInterrupted;
            if (n < 0) {
                error = systemError();
                return kFailed;
            }
            if (n == 0)
                return kEnd; // a frame cut short by the end is left out
            const qint64 have = pending + n;
            const int frames = int(have / frameBytes);
            pending = have - qint64(frames) * frameBytes;
            if (frames == 0)
                continue;
            const char* frame = buffer.data();
            for (int i = 0; i < frames; ++i, frame += frameBytes)
                samples[i] = rawSample(frame, format);
            std::memmove(buffer.data(), buffer.data() + qint64(frames) * frameBytes,
                         size_t(pending));
            return frames;
        }
    }

private:
    // With the stop signals held back, the flag is looked at and then the wait lets them in
    // atomically (ppoll), so one that comes between the two still ends the wait. False when
    // a signal came or the flag is up.
    bool waitForInput()
    {
        if (!stop)
            return true;
        sigset_t held;
        sigset_t before;
        sigemptyset(&held);
        sigaddset(&held, SIGINT);
        sigaddset(&held, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &held, &before);
        bool ready = !stop->load();
        if (ready) {
            pollfd input{fd, POLLIN, 0};
            ready = ppoll(&input, 1, nullptr, &before) >= 0 || errno != EINTR;
        }
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        return ready && !stop->load();
    }

    int fd;
    RawFormat format;
    int frameBytes;
    const std::atomic<bool>* stop = nullptr;
    qint64 pending = 0; // bytes of an incomplete frame at the buffer's start
    std::vector<char> buffer;
};

// A file libsndfile reads. Every sample type is asked for as float, full scale ±1.0: libsndfile
// scales integers of any width to that, while float files it would hand out as shorts
// unscaled.
class SoundFileSource : public SampleSource
{
public:
    SoundFileSource(SNDFILE* file, int sampleRate, int channels, int channel)
        : file(file), channels(channels), channel(channel), buffer(size_t(channels) * kMaxBlock)
    {
        rate = sampleRate;
    }
    ~SoundFileSource() override { sf_close(file); }

    int read(qint16* samples, int maxSamples) override
    {
        const sf_count_t frames =
            sf_readf_float(file, buffer.data(), sf_count_t(qBound(1, maxSamples, kMaxBlock)));
        if (frames <= 0) {
            if (sf_error(file) == SF_ERR_NO_ERROR)
                return kEnd;
            error = QString::fromLocal8Bit(sf_strerror(file));
            return kFailed;
        }
        for (sf_count_t i = 0; i < frames; ++i)
            samples[i] = floatSample(buffer[size_t(i * channels + channel)]);
        return int(frames);
    }

private:
    SNDFILE* file = nullptr;
    int channels;
    int channel; // from 0
    std::vector<float> buffer;
};

} // namespace

bool readableSampleRate(int sampleRate)
{
    return sampleRate >= kLowestSampleRate && sampleRate <= kHighestSampleRate;
}

bool parseRawFormat(const QString& text, RawFormat* format)
{
    static const struct
    {
        const char* name;
        RawFormat format;
    } names[] = {{"s16", RawFormat::S16},
                 {"s24", RawFormat::S24},
                 {"s32", RawFormat::S32},
                 {"f32", RawFormat::F32}};
    for (const auto& name : names) {
        if (text == QLatin1String(name.name)) {
            *format = name.format;
            return true;
        }
    }
    return false;
}

int rawSampleBytes(RawFormat format)
{
    switch (format) {
    case RawFormat::S16:
        return 2;
    case RawFormat::S24:
        return 3;
    case RawFormat::S32:
    case RawFormat::F32:
        return 4;
    }
    return 2;
}

qint16 rawSample(const char* data, RawFormat format)
{
    switch (format) {
    case RawFormat::S16:
        return qint16(quint16(le32(data, 2)));
    case RawFormat::S24:
        // The top 16 of 24 bits; the sign comes with the top byte.
        return qint16(quint16(le32(data + 1, 2)));
    case RawFormat::S32:
        return qint16(quint16(le32(data + 2, 2)));
    case RawFormat::F32: {
        const quint32 bits = le32(data, 4);
        float value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return floatSample(value);
    }
    }
    return 0;
}

qint16 floatSample(float value)
{
    if (!(value == value)) // NaN
        return 0;
    return qint16(std::lrint(qBound(-32768.0f, value * 32768.0f, 32767.0f)));
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

SampleSource::~SampleSource() = default;

std::unique_ptr<SampleSource> rawSource(int fd, int sampleRate, RawFormat format,
                                        const std::atomic<bool>* stop)
{
    return std::make_unique<DescriptorSource>(fd, sampleRate, format, stop);
}

std::unique_ptr<SampleSource> openFile(const QString& path, int channel, QString* error,
                                       int* channels)
{
    // Opened here, so that a missing file is told apart from one libsndfile cannot read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = LtcText::tr("cannot read %1: %2").arg(path, systemError());
        return nullptr;
    }
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (!file) {
        *error = LtcText::tr("%1 is not a sound file that can be read: %2")
                     .arg(path, QString::fromLocal8Bit(sf_strerror(nullptr)));
        return nullptr;
    }
    if (!readableSampleRate(info.samplerate)) {
        *error = LtcText::tr("%1 is sampled at %2 Hz; LTC is read at %3 to %4 Hz")
                     .arg(path)
                     .arg(info.samplerate)
                     .arg(kLowestSampleRate)
                     .arg(kHighestSampleRate);
        sf_close(file);
        return nullptr;
    }
    if (channel > info.channels) {
        *error =
            info.channels == 1
                ? LtcText::tr("%1 has one channel; there is no channel %2").arg(path).arg(channel)
                : LtcText::tr("%1 has %2 channels; there is no channel %3")
                      .arg(path)
                      .arg(info.channels)
                      .arg(channel);
        sf_close(file);
        return nullptr;
    }
    if (channels)
        *channels = info.channels;
    return std::make_unique<SoundFileSource>(file, info.samplerate, info.channels, channel - 1);
}

} // namespace Pcm
