#include "render/shadow.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>
#include <vector>

#include "tests/pixel_helpers.h"

namespace kelpie {
namespace {

constexpr Argb kWhite = 0xFFFFFFFF;

// Both the plain and the fast effect, so that every known answer checks both.
const std::vector<std::pair<const char*, std::function<void(ArgbBitmap&)>>> kEffects = {
    {"reference", [](ArgbBitmap& text) { ApplyShadowReference(text); }},
    {"fast", [](ArgbBitmap& text) { ApplyShadow(text); }},
};

TEST(ShadowTest, SharpCopyOfWhiteAtAlpha224GivesTheDarkShadow) {
  // One pixel at (2, 2). Its sharp copy lands on (5, 5), which looks at work
  // pixel (15, 15): the blur puts 6 there (the copy at 10,10 is 3 pixels off
  // in both directions: 224 -> 13 -> 0; the one at 15,15 two: 224 -> 36 -> 5,
  // and 13 e^-1 + 36 over 6.14 gives 6), then (255 A + 6 (255 - A) + 127) /
  // 255 is 224 for A = 223, 225 (0xE1) for A = 224, 226 for A = 225. Only
  // 0xE1 in blue, or 0xFF in red or green, counts as dark: opaque blue
  // (0, 0, 255) gives the medium shadow.
  const std::pair<Argb, Argb> cases[] = {{MakeArgb(223, 255, 255, 255), kShadowMedium},
                                         {MakeArgb(224, 255, 255, 255), kShadowDark},
                                         {MakeArgb(225, 255, 255, 255), kShadowMedium},
                                         {kWhite, kShadowDark},
                                         {0xFF0000FF, kShadowMedium}};
  for (const auto& [name, effect] : kEffects) {
    for (const auto& [pixel, expected] : cases) {
      ArgbBitmap text(8, 8);
      text.SetPixel(2, 2, pixel);
      effect(text);
      EXPECT_EQ(text.Pixel(5, 5), expected) << name << " " << std::hex << pixel;
      EXPECT_EQ(text.Pixel(2, 2), pixel) << name;
      EXPECT_EQ(text.Pixel(3, 3), kShadowFaint) << name;
    }
  }
}

// Text-like pictures: visible pixels of one kind of ink, opaque or
// anti-aliased, over transparent pixels of other colours. The inks take each
// way the channels can agree: white, grey, one channel zero and two equal
// (yellow), all different (fixed and random), black, and 0xE1 grey.
ArgbBitmap RandomText(int width, int height, int kind, std::mt19937& random) {
  std::uniform_int_distribution<unsigned> byte(0, 255);
  ArgbBitmap text(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned roll = byte(random);
      const Argb alpha = roll < 60 ? 255 : roll < 90 ? byte(random) : 0;
      const Argb v = byte(random);
      const Argb inks[] = {0xFFFFFF, v * 0x10101, v * 0x10100, 0xC86432, v << 16 | byte(random),
                           0,        0xE1E1E1};
      text.SetPixel(x, y, alpha << 24 | (alpha != 0 || roll % 2 == 0 ? inks[kind] : v << 8));
    }
  }
  return text;
}

TEST(ShadowTest, FastEffectGivesTheReferenceBytesOnEverySet) {
  for (InstructionSet set : testing::SupportedSets()) {
    SCOPED_TRACE(InstructionSetName(set));
    std::mt19937 random(3);
    ShadowScratch scratch;  // reused across pictures that grow and shrink
    scratch.instructionSet = set;
    std::vector<std::pair<int, int>> sizes = {{301, 67}, {5, 3}, {180, 40}, {0, 4}, {3, 0}};
    for (int height = 1; height <= 20; ++height) {
      for (int width = 1; width <= 40; ++width) sizes.push_back({width, height});
    }
    for (std::size_t k = 0; k < sizes.size(); ++k) {
      const auto [width, height] = sizes[k];
      const int kind = static_cast<int>(k % 7);
      ArgbBitmap fast = RandomText(width, height, kind, random);
      const ArgbBitmap drawn = fast;
      ArgbBitmap reference = fast;
      ArgbBitmap told = fast;
      ApplyShadow(fast, scratch);
      ApplyShadowReference(reference);
      ASSERT_TRUE(testing::SamePixels(fast, reference))
          << width << "x" << height << " kind " << kind;
      // Within a part of the picture: the same pixels there, none changed
      // elsewhere.
      std::uniform_int_distribution<int> column(-2, width + 2);
      std::uniform_int_distribution<int> row(-2, height + 2);
      const PixelRect within{column(random), row(random), column(random), row(random)};
      ArgbBitmap part = drawn;
      ApplyShadow(part, scratch, std::nullopt, within);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          const bool inside = x >= within.x0 && x < within.x1 && y >= within.y0 && y < within.y1;
          ASSERT_EQ(part.Pixel(x, y), inside ? reference.Pixel(x, y) : drawn.Pixel(x, y))
              << width << "x" << height << " at " << x << "," << y;
        }
      }
      // The kinds of one ink, with the ink told (its alpha left as it comes).
      const std::optional<Argb> inks[] = {0x12FFFFFF, {}, {}, 0xC86432, {}, 0xFF000000, 0xE1E1E1};
      if (inks[kind].has_value()) {
        ApplyShadow(told, scratch, inks[kind]);
        ASSERT_TRUE(testing::SamePixels(told, reference)) << width << "x" << height << " told";
      }
    }
  }
}

}  // namespace
}  // namespace kelpie
