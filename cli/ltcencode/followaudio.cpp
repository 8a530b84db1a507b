#include "ltcencode/followaudio.h"

#include "ltc/ltcencoder.h"
#include "ltc/pcmoutput.h"

namespace Follow {

std::vector<qint16> fitLength(const std::vector<qint16>& samples, qint64 length)
{
    const qint64 count = qint64(samples.size());
    if (count == length || count == 0)
        return count == 0 ? std::vector<qint16>(size_t(length), 0) : samples;
    std::vector<qint16> fitted(static_cast<size_t>(length));
    // Sample i of the result is the one of the frame nearest the same share of its length.
    for (qint64 i = 0; i < length; ++i)
        fitted[size_t(i)] = samples[size_t((2 * i * count + count) / (2 * length))];
    return fitted;
}

SampleWriter::SampleWriter(Pcm::SampleSink& sink, qint64 limit)
    : sink(sink), queue(limit, [this](std::vector<qint16>& samples) {
          if (failed.load())
              return false;
          if (this->sink.write(samples.data(), int(samples.size())) != Pcm::SampleSink::Written)
              failed = true;
          return !failed.load();
      })
{
}

SampleWriter::~SampleWriter() = default;

bool SampleWriter::push(std::vector<qint16> samples)
{
    const qint64 count = qint64(samples.size());
    return queue.push(std::move(samples), count);
}

FollowAudio::FollowAudio(const Settings& settings, double levelDb, Deliver deliver, Tell tell)
    : settings(settings), levelDb(levelDb), deliver(std::move(deliver)),
      // Encoding runs on the follower's thread without its lock, so an arrival never waits for
      // it.
      follower(
          settings, [this](const Block& block) { this->deliver(block, encode(block)); },
          std::move(tell))
{
}

FollowAudio::~FollowAudio()
{
    follower.stop();
}

std::vector<qint16> FollowAudio::encode(const Block& block)
{
    if (block.kind != Block::Frame)
        return std::vector<qint16>(size_t(block.samples), 0);
    // The rate and the drop-frame flag are the Type's: a sender that changes it gets a new
    // encoder.
    if (!encoder || encoderType != block.record.type) {
        encoder = std::make_unique<LtcEncoder>(block.record.type, settings.sampleRate, levelDb);
        encoderType = block.record.type;
    }
    std::vector<qint16> samples;
    encoder->encode(block.record, &samples);
    return fitLength(samples, block.samples);
}

} // namespace Follow
