#include "pixels.h"
#include "artnet.h"

#include <QColor>

namespace DmxRules {

void writePixels(QColor* pixels, quint32 count, const quint8* data, quint16 length)
{
    for (quint32 i = 0; i < count; ++i) {
        const quint32 byte = 3 * i;
        QColor& pixel = pixels[i];
        pixel.setRed(data[byte]);
        if (byte + 1 < length)
            pixel.setGreen(data[byte + 1]);
        if (byte + 2 < length)
            pixel.setBlue(data[byte + 2]);
    }
}

} // namespace DmxRules

namespace {

void writeColours(void* pixels, quint64 first, quint32 count, const quint8* data, quint16 length)
{
    DmxRules::writePixels(static_cast<QColor*>(pixels) + first, count, data, length);
}

} // namespace

void artnet::setPixelBuffer(QColor* colors, quint32 count, quint16 channelsPerPort)
{
    setPixelTarget(colors, writeColours, count, channelsPerPort);
}
