#include "ltc/pcmoutput.h"
#include "ltc/ltctext.h"
#include "ltc/pcminput.h"

#include <QByteArray>
#include <QFile>

#include <sndfile.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace Pcm {

namespace {

class WavSink : public SampleSink
{
public:
    WavSink(SNDFILE* file, QString path) : file(file), path(std::move(path)) {}
    ~WavSink() override
    {
        if (file)
            sf_close(file);
    }

    Result write(const qint16* samples, int count) override
    {
        // libsndfile widens 16-bit samples to 24 bits exactly.
        if (sf_writef_short(file, samples, count) == count)
            return Written;
        error = QString::fromLocal8Bit(sf_strerror(file));
        return Failed;
    }

    bool finish() override
    {
        // Closing writes the header's sizes.
        const int result = sf_close(file);
        file = nullptr;
        if (result != 0) {
            error = LtcText::tr("cannot complete %1: %2")
                        .arg(path, QString::fromLocal8Bit(sf_error_number(result)));
            return false;
        }
        return true;
    }

private:
    SNDFILE* file = nullptr;
    QString path;
};

class RawSink : public SampleSink
{
public:
    explicit RawSink(int fd) : fd(fd) {}

    Result write(const qint16* samples, int count) override
    {
        // Little-endian on the wire whatever the machine.
        QByteArray bytes(qsizetype(count) * 2, Qt::Uninitialized);
        for (int i = 0; i < count; ++i) {
            bytes[2 * i] = char(quint16(samples[i]) & 0xFF);
            bytes[2 * i + 1] = char(quint16(samples[i]) >> 8);
        }
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
        }
        return Written;
    }

private:
    int fd;
};

} // namespace

SampleSink::~SampleSink() = default;

bool SampleSink::finish()
{
    return true;
}

std::unique_ptr<SampleSink> rawSink(int fd)
{
    return std::make_unique<RawSink>(fd);
}

bool supportedWavBits(int bits)
{
    return bits == 16 || bits == 24;
}

std::unique_ptr<SampleSink> createWav(const QString& path, int sampleRate, int bits, QString* error)
{
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | (bits == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16);
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file) {
        *error = LtcText::tr("cannot write %1: %2")
                     .arg(path, QString::fromLocal8Bit(sf_strerror(nullptr)));
        return nullptr;
    }
    return std::make_unique<WavSink>(file, path);
}

} // namespace Pcm
