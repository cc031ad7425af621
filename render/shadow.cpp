#include "render/shadow.h"

namespace kelpie {

// Placeholder until the shadow lands: leaves the picture unchanged.
void ApplyShadow(ArgbBitmap&) {}
void BlurRgb(RgbBitmap&) {}

}  // namespace kelpie
