// The shadow is read off a work picture 15 pixels wider and taller than the
// text, opaque black, with the text blended onto it twice (at 10,10 and
// 15,15), blurred, and blended once more, sharp, at 13,13. Each fully
// transparent text pixel (x, y) then looks at work pixel (x + 10, y + 10):
// black leaves it alone, a dark grey gives the faint shadow, a sharp copy of
// white text (a channel at 0xFF, or blue at 0xE1 where white at alpha 224
// blends over the blur) the dark one, anything else the medium one.
//
// The fast effect keeps the work picture as one plane per channel and builds
// only the planes that can differ: every step treats the channels alike, so
// a channel equal to another in every visible text pixel stays equal to it
// throughout, and one that is 0 in every visible text pixel stays black
// (black text, or no visible pixel at all, casts no shadow). White or grey
// text thus needs one plane.
#include "render/shadow.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#include <immintrin.h>

namespace kelpie {

namespace {

constexpr int kMargin = 15;      // the work picture is this much wider and taller
constexpr int kFirstCopy = 10;   // offset of the first blurred copy
constexpr int kSecondCopy = 15;  // offset of the second blurred copy
constexpr int kSharpCopy = 13;   // offset of the sharp copy
constexpr int kLookOffset = 10;  // text pixel (x, y) reads work pixel (x + 10, y + 10)
constexpr int kSharpShift = kSharpCopy - kLookOffset;  // text pixel (x, y) sees the sharp
                                                       // copy of (x - 3, y - 3)
constexpr unsigned kFaintBelow = 0x40;
constexpr unsigned kFull = 0xFF;
constexpr unsigned kBlueOfWhiteAt224 = 0xE1;  // 225: kept as is, not 0xFF
static_assert(kSecondCopy <= kMargin && kSharpCopy <= kMargin,
              "every copy lies wholly inside the work picture");

// The shadow pixel for work colour (r, g, b), or 0 for none.
inline Argb ShadowFor(unsigned r, unsigned g, unsigned b) {
  const bool none = (r | g | b) == 0;
  const bool faint = r < kFaintBelow && g < kFaintBelow && b < kFaintBelow;
  const bool dark = g == kFull || b == kBlueOfWhiteAt224 || r == kFull;
  return none ? 0 : faint ? kShadowFaint : dark ? kShadowDark : kShadowMedium;
}

// Channel c (0 red, 1 green, 2 blue) of a pixel.
inline unsigned ChannelOf(Argb pixel, int c) {
  return (pixel >> (16 - 8 * c)) & 0xFF;
}

// Text pixel `pixel`, which sees the sharp copy of `sharp` blended over the
// blurred work pixel (red, green, blue): its value after the shadow.
inline Argb ShadowPixel(Argb pixel, Argb sharp, unsigned red, unsigned green, unsigned blue) {
  const unsigned a = AlphaOf(sharp);
  const Argb shadow = ShadowFor(BlendChannelOpaque(RedOf(sharp), red, a),
                                BlendChannelOpaque(GreenOf(sharp), green, a),
                                BlendChannelOpaque(BlueOf(sharp), blue, a));
  return AlphaOf(pixel) == 0 && shadow != 0 ? shadow : pixel;
}

// The fast effect, compiled once for each instruction set. Its vector
// helpers are always inlined, so the ABI of vectors passed by value does not
// matter.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
#define KELPIE_INSTRUCTION_SET_BODY "render/shadow_body.inc"
#include "platform/instruction_set_copies.inc"

}  // namespace

void ApplyShadowReference(ArgbBitmap& text) {
  const int width = text.width();
  const int height = text.height();
  RgbBitmap work(width + kMargin, height + kMargin);
  work.Clear(0xFF000000);
  work.DrawOver(text, kFirstCopy, kFirstCopy);
  work.DrawOver(text, kSecondCopy, kSecondCopy);
  BlurRgbReference(work);
  work.DrawOver(text, kSharpCopy, kSharpCopy);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (AlphaOf(text.Pixel(x, y)) != 0) continue;
      const Argb c = work.Pixel(x + kLookOffset, y + kLookOffset);
      const Argb shadow = ShadowFor(RedOf(c), GreenOf(c), BlueOf(c));
      if (shadow != 0) text.SetPixel(x, y, shadow);
    }
  }
}

void ApplyShadow(ArgbBitmap& text, ShadowScratch& scratch, std::optional<Argb> ink) {
  ApplyShadow(text, scratch, ink, PixelRect{0, 0, text.width(), text.height()});
}

void ApplyShadow(ArgbBitmap& text, ShadowScratch& scratch, std::optional<Argb> ink,
                 PixelRect within) {
  within.x0 = std::clamp(within.x0, 0, text.width());
  within.x1 = std::clamp(within.x1, within.x0, text.width());
  within.y0 = std::clamp(within.y0, 0, text.height());
  within.y1 = std::clamp(within.y1, within.y0, text.height());
  if (within.x0 == within.x1 || within.y0 == within.y1) return;
  scratch.blur.instructionSet = scratch.instructionSet;
  KELPIE_INSTRUCTION_SET_COPY(scratch.instructionSet, ShadowText)(text, scratch, ink, within);
}

void ApplyShadow(ArgbBitmap& text) {
  ShadowScratch scratch;
  ApplyShadow(text, scratch);
}

}  // namespace kelpie
