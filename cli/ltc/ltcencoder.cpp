#include "ltc/ltcencoder.h"

#include "timecode.h"

#include <ltc.h>

#include <cmath>
#include <cstring>

namespace {

LTC_TV_STANDARD standardFor(quint8 type)
{
    // The standard places the binary group flags and the polarity bit: 25 fps differs.
    switch (type) {
    case Timecode::kFilm:
        return LTC_TV_FILM_24;
    case Timecode::kEbu:
        return LTC_TV_625_50;
    default:
        return LTC_TV_525_60;
    }
}

} // namespace

bool supportedEncodeRate(int sampleRate)
{
    return sampleRate == 44100 || sampleRate == 48000 || sampleRate == 96000;
}

LtcEncoder::LtcEncoder(quint8 type, int sampleRate, double levelDb)
    : encoder(ltc_encoder_create(double(sampleRate), Timecode::nominalRate(type), standardFor(type),
                                 0)),
      // libltc writes 8-bit samples around 128; at 0 dBFS they swing by 127. The level is
      // applied when they are widened to 16 bits, which keeps low levels finely shaped.
      gain(32767.0 / 127.0 * std::pow(10.0, qBound(kMinimumLevel, levelDb, 0.0) / 20.0)),
      bitLength(size_t(std::ceil(sampleRate / Timecode::nominalRate(type) / 80)))
{
    if (!encoder)
        qFatal("out of memory for the LTC encoder");
    ltc_encoder_set_volume(encoder, 0.0);
}

LtcEncoder::~LtcEncoder()
{
    ltc_encoder_free(encoder);
}

void LtcEncoder::encode(const TimecodeRecord& time, std::vector<qint16>* samples)
{
    SMPTETimecode smpte;
    std::memset(&smpte, 0, sizeof smpte);
    std::strcpy(smpte.timezone, "+0000");
    smpte.hours = time.hours;
    smpte.mins = time.minutes;
    smpte.secs = time.seconds;
    smpte.frame = time.frames;
    // Only the time fields and the parity change; the drop-frame flag was set when the encoder
    // was made for 29.97 fps, and the user bits stay as made, 0.
    ltc_encoder_set_timecode(encoder, &smpte);
    ltc_encoder_encode_frame(encoder);
    take(samples);
}

void LtcEncoder::finish(std::vector<qint16>* samples)
{
    ltc_encoder_end_encode(encoder);
    std::vector<qint16> closing;
    take(&closing);
    // The edge comes first; libltc follows it with a whole frame's length of steady level, of
    // which one bit's length is all a reader needs.
    samples->insert(samples->end(), closing.begin(),
                    closing.begin() + long(qMin(closing.size(), bitLength)));
}

void LtcEncoder::take(std::vector<qint16>* samples)
{
    ltcsnd_sample_t* buffer = nullptr;
    const int count = ltc_encoder_get_bufferptr(encoder, &buffer, 1);
    samples->reserve(samples->size() + size_t(count));
    for (int i = 0; i < count; ++i)
        samples->push_back(qint16(std::lrint((int(buffer[i]) - 128) * gain)));
}
