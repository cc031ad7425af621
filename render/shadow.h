// The soft dark surround of a text picture: fully transparent pixels near the
// text become black at one of three opacities, read from a blurred, offset
// copy of the text on an opaque black work picture. The picture keeps its
// size, so shadow falling beyond its right and bottom edges is lost.
#ifndef KELPIE_RENDER_SHADOW_H_
#define KELPIE_RENDER_SHADOW_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/bitmap.h"
#include "render/blur.h"

namespace kelpie {

// The three shadow pixels written into the text picture (black, straight alpha).
inline constexpr Argb kShadowFaint = 0x40000000;
inline constexpr Argb kShadowMedium = 0x80000000;
inline constexpr Argb kShadowDark = 0xF8000000;

// How far a text pixel's shadow reads: it depends on the text in the columns
// from kShadowReachBefore before it to kShadowReachAfter after it (the
// blurred copies lie 10 and 15 pixels off, the blur reaches 6 pixels each
// way), on the picture's height, and, in the last column, on the picture
// ending there. The same holds for rows.
inline constexpr int kShadowReachBefore = 11;
inline constexpr int kShadowReachAfter = 6;

// Work memory of the fast effect, owned by the caller and reused across calls.
struct ShadowScratch {
  // The copy of the fast effect, and of its blur, that runs.
  InstructionSet instructionSet = InstructionSet::kBest;
  std::vector<std::int32_t> firstCopy;  // a row of the first copy over black
  std::vector<std::int32_t> zeroRow;    // stands in for a channel that stays black
  BlurScratch blur;                     // given the instruction set above
};

// Gives `text` its shadow. Changes only pixels whose alpha is 0. `ink`, when
// given, tells that every visible pixel of `text` has its red, green and
// blue (its alpha does not matter), which spares a look at every pixel.
void ApplyShadow(ArgbBitmap& text);
void ApplyShadow(ArgbBitmap& text, ShadowScratch& scratch, std::optional<Argb> ink = std::nullopt);
// The same for the pixels `within` alone (clipped to the picture): the
// others are read as they are and left unchanged.
void ApplyShadow(ArgbBitmap& text, ShadowScratch& scratch, std::optional<Argb> ink,
                 PixelRect within);

// The plain effect: an RGB work picture, the graphics layer's drawing, the
// plain blur and one pixel at a time. The fast one gives the same bytes.
void ApplyShadowReference(ArgbBitmap& text);

}  // namespace kelpie

#endif  // KELPIE_RENDER_SHADOW_H_
