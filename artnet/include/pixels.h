// The colour rule of DMX input: received data set on the caller's QColor pixels. A library of its
// own, chronolume_artnet_pixels, the one part of the node that needs Qt GUI; it also defines
// artnet::setPixelBuffer, which hands the rule to the node with the pixels.
#pragma once

#include <QtGlobal>

class QColor;

namespace DmxRules {

// Sets `count` pixels from length data bytes, as placePixels counted them: three bytes each, red
// first; a last incomplete triple sets red, or red and green.
void writePixels(QColor* pixels, quint32 count, const quint8* data, quint16 length);

} // namespace DmxRules
