#include "ltc/pcminput.h"
#include "common/console.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace Pcm {

namespace {

constexpr int kFormatPcm = 1;
constexpr int kFormatFloat = 3;
constexpr int kFormatExtensible = 0xFFFE;
constexpr qint64 kFmtBasicSize = 16;
constexpr qint64 kFmtExtensibleSize = 40;
constexpr qint64 kFmtSubFormatOffset = 24; // the GUID, whose first two bytes are the format tag
constexpr int kChunkHeaderSize = 8;        // four-letter id, little-endian size
constexpr int kRiffHeaderSize = 12;        // "RIFF", size, "WAVE"

quint16 le16(const char* p)
{
    return quint16(quint8(p[0]) | quint8(p[1]) << 8);
}

quint32 le32(const char* p)
{
    return quint32(le16(p)) | quint32(le16(p + 2)) << 16;
}

// Reads exactly `size` bytes unless the input ends first; the count read, -1 on an error.
qint64 readFully(int fd, char* data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

// Passes over a chunk's body: by seeking where the input allows it, else by reading.
bool skip(int fd, qint64 size)
{
    if (size == 0 || lseek(fd, off_t(size), SEEK_CUR) >= 0)
        return true;
    char scratch[4096];
    while (size > 0) {
        const qint64 n = readFully(fd, scratch, qMin<qint64>(size, sizeof scratch));
        if (n <= 0)
            return false;
        size -= n;
    }
    return true;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Interleaved 16-bit little-endian frames from a descriptor, one channel kept. Bytes of a frame
// split across two reads (a pipe hands out what it has) wait for the rest.
class DescriptorSource : public SampleSource
{
public:
    DescriptorSource(int fd, int sampleRate, int channels, int channel, qint64 dataBytes)
        : fd(fd), channels(channels), channel(channel), remaining(dataBytes),
          buffer(size_t(channels) * 2 * kMaxBlock)
    {
        rate = sampleRate;
    }

    int read(qint16* samples, int maxSamples) override
    {
        const int frameBytes = 2 * channels;
        const qint64 wanted = qint64(qBound(1, maxSamples, kMaxBlock)) * frameBytes;
        for (;;) {
            if (remaining == 0)
                return kEnd;
            qint64 request = wanted - pending;
            if (remaining > 0)
                request = qMin(request, remaining);
            const ssize_t n = ::read(fd, buffer.data() + pending, size_t(request));
            if (n < 0 && errno == EINTR)
                return kInterrupted;
            if (n < 0) {
                error = systemError();
                return kFailed;
            }
            if (n == 0)
                return kEnd; // a frame cut short by the end is left out
            if (remaining > 0)
                remaining -= n;
            const qint64 have = pending + n;
            const int frames = int(have / frameBytes);
            pending = have - qint64(frames) * frameBytes;
            if (frames == 0)
                continue;
            const char* frame = buffer.data() + 2 * channel;
            for (int i = 0; i < frames; ++i, frame += frameBytes)
                samples[i] = qint16(le16(frame));
            std::memmove(buffer.data(), buffer.data() + qint64(frames) * frameBytes,
                         size_t(pending));
            return frames;
        }
    }

private:
    int fd;
    int channels;
    int channel;        // from 0
    qint64 remaining;   // bytes of the data chunk not yet read; -1 up to the end of the input
    qint64 pending = 0; // bytes of an incomplete frame at the buffer's start
    std::vector<char> buffer;
};

// Owns the descriptor of a file it opened.
class FileSource : public DescriptorSource
{
public:
    FileSource(int fd, int sampleRate, int channels, int channel, qint64 dataBytes)
        : DescriptorSource(fd, sampleRate, channels, channel, dataBytes), owned(fd)
    {
    }
    ~FileSource() override { ::close(owned); }

private:
    int owned;
};

QString notWav(const QString& name, const QString& reason)
{
    return CliText::tr("%1 is not a 16-bit PCM WAV: %2").arg(name, reason);
}

struct WavData
{
    WavFormat format;
    qint64 dataBytes = -1;
};

// Reads the header up to the first sample; an empty string when all is well.
QString readHeader(int fd, const QString& name, int channel, WavData* wav)
{
    char riff[kRiffHeaderSize];
    if (readFully(fd, riff, kRiffHeaderSize) != kRiffHeaderSize ||
        (std::memcmp(riff, "RIFF", 4) != 0 && std::memcmp(riff, "RF64", 4) != 0) ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return notWav(name, CliText::tr("it does not begin as a WAV file does"));
    bool haveFormat = false;
    for (;;) {
        char header[kChunkHeaderSize];
        if (readFully(fd, header, kChunkHeaderSize) != kChunkHeaderSize)
            return notWav(name, haveFormat ? CliText::tr("it has no data chunk")
                                           : CliText::tr("it has no format chunk"));
        const quint32 size = le32(header + 4);
        // Chunks of odd size are followed by a pad byte.
        const qint64 padded = qint64(size) + (size & 1);
        if (std::memcmp(header, "fmt ", 4) == 0) {
            char body[kFmtExtensibleSize] = {};
            const qint64 wanted = qMin<qint64>(size, kFmtExtensibleSize);
            if (readFully(fd, body, wanted) != wanted || !readFmtChunk(body, wanted, &wav->format))
                return notWav(name, CliText::tr("its format chunk is cut short"));
            if (!skip(fd, padded - wanted))
                return notWav(name, CliText::tr("it has no data chunk"));
            haveFormat = true;
        } else if (std::memcmp(header, "data", 4) == 0) {
            if (!haveFormat)
                return notWav(name, CliText::tr("its samples come before their format"));
            const QString reason = unsupportedFormatReason(wav->format);
            if (!reason.isEmpty())
                return notWav(name, reason);
            if (channel > wav->format.channels)
                return wav->format.channels == 1
                           ? CliText::tr("%1 has one channel; there is no channel %2")
                                 .arg(name)
                                 .arg(channel)
                           : CliText::tr("%1 has %2 channels; there is no channel %3")
                                 .arg(name)
                                 .arg(wav->format.channels)
                                 .arg(channel);
            wav->dataBytes = dataSizeKnown(size) ? qint64(size) : -1;
            return QString();
        } else if (!skip(fd, padded)) {
            return notWav(name, CliText::tr("it has no data chunk"));
        }
    }
}

} // namespace

bool readFmtChunk(const char* data, qint64 size, WavFormat* format)
{
    if (size < kFmtBasicSize)
        return false;
    format->formatTag = le16(data);
    format->channels = le16(data + 2);
    format->sampleRate = int(qMin<quint32>(le32(data + 4), 0x7FFFFFFF));
    format->bitsPerSample = le16(data + 14);
    int tag = format->formatTag;
    if (tag == kFormatExtensible && size >= kFmtExtensibleSize)
        tag = le16(data + kFmtSubFormatOffset);
    format->pcm = tag == kFormatPcm;
    return true;
}

QString unsupportedFormatReason(const WavFormat& format)
{
    if (!format.pcm && (format.formatTag == kFormatFloat))
        return CliText::tr("it holds %1-bit floating-point samples").arg(format.bitsPerSample);
    if (!format.pcm)
        return CliText::tr("its samples are in format 0x%1, not PCM")
            .arg(format.formatTag, 4, 16, QLatin1Char('0'));
    if (format.bitsPerSample != 16)
        return CliText::tr("it holds %1-bit samples").arg(format.bitsPerSample);
    if (format.channels < 1 || format.sampleRate < 1)
        return CliText::tr("its header gives no channels or no sample rate");
    return QString();
}

bool dataSizeKnown(quint32 size)
{
    return size != 0 && size != 0xFFFFFFFF;
}

SampleSource::~SampleSource() = default;

std::unique_ptr<SampleSource> rawSource(int fd, int sampleRate)
{
    return std::make_unique<DescriptorSource>(fd, sampleRate, 1, 0, -1);
}

std::unique_ptr<SampleSource> openWav(const QString& path, int channel, QString* error,
                                      int* channels)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = CliText::tr("cannot read %1: %2").arg(path, systemError());
        return nullptr;
    }
    WavData wav;
    *error = readHeader(fd, path, channel, &wav);
    if (!error->isEmpty()) {
        ::close(fd);
        return nullptr;
    }
    if (channels)
        *channels = wav.format.channels;
    return std::make_unique<FileSource>(fd, wav.format.sampleRate, wav.format.channels, channel - 1,
                                        wav.dataBytes);
}

} // namespace Pcm
