// The soft dark surround of a text picture: fully transparent pixels near the
// text become black at one of three opacities, read from a blurred, offset
// copy of the text on an opaque black work picture.
#ifndef KELPIE_RENDER_SHADOW_H_
#define KELPIE_RENDER_SHADOW_H_

#include "platform/bitmap.h"

namespace kelpie {

// Changes only pixels of `text` whose alpha is 0.
void ApplyShadow(ArgbBitmap& text);

// Separable 13-tap blur of a 24-bit picture in place, renormalised at edges.
void BlurRgb(RgbBitmap& picture);

}  // namespace kelpie

#endif  // KELPIE_RENDER_SHADOW_H_
