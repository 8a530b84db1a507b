#include "ltc/pcmoutput.h"
#include "common/console.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace Pcm {

namespace {

constexpr int kWavHeaderSize = 44;
constexpr int kRiffSizeOffset = 4;
constexpr int kDataSizeOffset = 40;
constexpr quint32 kUnknownSize = 0xFFFFFFFF;

void putLe16(char* p, quint16 value)
{
    p[0] = char(value & 0xFF);
    p[1] = char(value >> 8);
}

void putLe32(char* p, quint32 value)
{
    putLe16(p, quint16(value & 0xFFFF));
    putLe16(p + 2, quint16(value >> 16));
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

class WavSink : public SampleSink
{
public:
    WavSink(int fd, QString path) : SampleSink(fd), path(std::move(path)) {}
    ~WavSink() override
    {
        if (fd >= 0)
            ::close(fd);
    }

    bool finish() override
    {
        // 4 GiB of samples is as far as the header's fields count; a longer file keeps the
        // "to the end" marks, which readers of streamed WAV understand.
        const quint32 data = bytesWritten <= qint64(kUnknownSize) - kWavHeaderSize
                                 ? quint32(bytesWritten)
                                 : kUnknownSize;
        const quint32 riff = data == kUnknownSize ? kUnknownSize : data + kWavHeaderSize - 8;
        char field[4];
        bool ok = true;
        // A path that is a pipe cannot seek: its reader keeps the "to the end" marks.
        if (lseek(fd, kRiffSizeOffset, SEEK_SET) == kRiffSizeOffset) {
            putLe32(field, riff);
            ok = writeAll(fd, field, 4) && lseek(fd, kDataSizeOffset, SEEK_SET) == kDataSizeOffset;
            putLe32(field, data);
            ok = ok && writeAll(fd, field, 4);
        }
        if (!ok)
            error = CliText::tr("cannot complete %1: %2").arg(path, systemError());
        if (::close(fd) != 0 && ok) {
            error = CliText::tr("cannot complete %1: %2").arg(path, systemError());
            ok = false;
        }
        fd = -1;
        return ok;
    }

private:
    QString path;
};

class RawSink : public SampleSink
{
public:
    explicit RawSink(int fd) : SampleSink(fd) {}
};

} // namespace

QByteArray wavHeader(int sampleRate, quint32 dataBytes)
{
    QByteArray header(kWavHeaderSize, '\0');
    char* p = header.data();
    std::memcpy(p, "RIFF", 4);
    putLe32(p + kRiffSizeOffset,
            dataBytes == kUnknownSize ? kUnknownSize : dataBytes + kWavHeaderSize - 8);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    putLe32(p + 16, 16);                      // fmt chunk size
    putLe16(p + 20, 1);                       // PCM
    putLe16(p + 22, 1);                       // channels
    putLe32(p + 24, quint32(sampleRate));     // samples per second
    putLe32(p + 28, quint32(sampleRate) * 2); // bytes per second
    putLe16(p + 32, 2);                       // bytes per frame
    putLe16(p + 34, 16);                      // bits per sample
    std::memcpy(p + 36, "data", 4);
    putLe32(p + kDataSizeOffset, dataBytes);
    return header;
}

SampleSink::~SampleSink() = default;

SampleSink::Result SampleSink::write(const qint16* samples, int count)
{
    // Little-endian on the wire whatever the machine.
    QByteArray bytes(qsizetype(count) * 2, Qt::Uninitialized);
    for (int i = 0; i < count; ++i)
        putLe16(bytes.data() + 2 * i, quint16(samples[i]));
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            return Interrupted;
        if (n < 0) {
            gone = errno == EPIPE;
            error = systemError();
            return Failed;
        }
        data += n;
        left -= n;
        bytesWritten += n;
    }
    return Written;
}

bool SampleSink::finish()
{
    return true;
}

std::unique_ptr<SampleSink> rawSink(int fd)
{
    return std::make_unique<RawSink>(fd);
}

std::unique_ptr<SampleSink> createWav(const QString& path, int sampleRate, QString* error)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = CliText::tr("cannot write %1: %2").arg(path, systemError());
        return nullptr;
    }
    const QByteArray header = wavHeader(sampleRate, kUnknownSize);
    if (!writeAll(fd, header.constData(), header.size())) {
        *error = CliText::tr("cannot write %1: %2").arg(path, systemError());
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<WavSink>(fd, path);
}

} // namespace Pcm
