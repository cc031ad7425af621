#include "render/shadow.h"

#include <gtest/gtest.h>
#include "tests/pixel_helpers.h"

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace kelpie {
namespace {

using testing::SamePixels;
using testing::SupportedSets;

constexpr Argb kWhite = 0xFFFFFFFF;

// Both the plain and the fast effect, so that every known answer checks both.
const std::vector<std::pair<const char*, std::function<void(ArgbBitmap&)>>>& Effects() {
  static const std::vector<std::pair<const char*, std::function<void(ArgbBitmap&)>>> effects = {
      {"reference", [](ArgbBitmap& text) { ApplyShadowReference(text); }},
      {"fast", [](ArgbBitmap& text) { ApplyShadow(text); }},
  };
  return effects;
}

// The picture as one character per pixel: '.' transparent black, 'a', 'b'
// and 'C' the faint, medium and dark shadow, '#' anything else.
std::vector<std::string> Map(const ArgbBitmap& picture) {
  std::vector<std::string> rows;
  for (int y = 0; y < picture.height(); ++y) {
    std::string row;
    for (int x = 0; x < picture.width(); ++x) {
      switch (picture.Pixel(x, y)) {
        case 0:
          row += '.';
          break;
        case kShadowFaint:
          row += 'a';
          break;
        case kShadowMedium:
          row += 'b';
          break;
        case kShadowDark:
          row += 'C';
          break;
        default:
          row += '#';
      }
    }
    rows.push_back(row);
  }
  return rows;
}

void FillRect(ArgbBitmap& picture, int x0, int y0, int x1, int y1, Argb colour) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) picture.SetPixel(x, y, colour);
}

TEST(ShadowTest, SharpCopyOfWhiteAtAlpha224GivesTheDarkShadow) {
  // One white pixel at (2, 2) of alpha A. Its sharp copy lands on (5, 5),
  // which looks at work pixel (15, 15): the blur puts 6 there (the copy at
  // 10,10 is 3 pixels off in both directions: 224 -> 13 -> 0; the one at
  // 15,15 two: 224 -> 36 -> 5, and 13 e^-1 + 36 over 6.14 gives 6), then
  // (255 A + 6 (255 - A) + 127) / 255 is 224 for A = 223, 225 (0xE1) for
  // A = 224, 226 for A = 225. Only 0xE1 in blue counts as dark.
  const std::pair<unsigned, Argb> cases[] = {
      {223, kShadowMedium}, {224, kShadowDark}, {225, kShadowMedium}, {255, kShadowDark}};
  for (const auto& [name, effect] : Effects()) {
    for (const auto& [alpha, expected] : cases) {
      ArgbBitmap text(8, 8);
      text.SetPixel(2, 2, MakeArgb(alpha, 255, 255, 255));
      effect(text);
      EXPECT_EQ(text.Pixel(5, 5), expected) << name << " alpha " << alpha;
      EXPECT_EQ(text.Pixel(2, 2), MakeArgb(alpha, 255, 255, 255)) << name;
      EXPECT_EQ(text.Pixel(3, 3), kShadowFaint) << name;
    }
  }
}

TEST(ShadowTest, ColourDecidesTheDarkShadowAndBlackCastsNone) {
  for (const auto& [name, effect] : Effects()) {
    // Opaque pure blue: the sharp copy is (0, 0, 255), neither 0xFF in red
    // or green nor 0xE1 in blue, so medium; white gives dark.
    ArgbBitmap blue(8, 8);
    blue.SetPixel(2, 2, 0xFF0000FF);
    effect(blue);
    EXPECT_EQ(blue.Pixel(5, 5), kShadowMedium) << name;
    ArgbBitmap white(8, 8);
    white.SetPixel(2, 2, kWhite);
    effect(white);
    EXPECT_EQ(white.Pixel(5, 5), kShadowDark) << name;

    // Black text leaves the work picture black: no pixel changes.
    ArgbBitmap black(20, 12);
    FillRect(black, 3, 3, 9, 8, 0xFF000000);
    black.SetPixel(10, 4, 0x80000000);
    const ArgbBitmap before = black;
    effect(black);
    EXPECT_EQ(Map(black), Map(before)) << name;
  }
}

TEST(ShadowTest, PictureWithoutVisiblePixelsIsUnchanged) {
  for (const auto& [name, effect] : Effects()) {
    ArgbBitmap text(21, 9);
    text.Clear(0x00FFFFFF);  // transparent white, as the compositor clears
    text.SetPixel(4, 4, 0x00FF0000);
    text.SetPixel(5, 4, 0x00000000);
    const ArgbBitmap before = text;
    effect(text);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 21; ++x) ASSERT_EQ(text.Pixel(x, y), before.Pixel(x, y)) << name;
  }
}

TEST(ShadowTest, OnlyFullyTransparentPixelsChange) {
  for (const auto& [name, effect] : Effects()) {
    // A white bar, and below it white pixels of every alpha from 1 to 254
    // in the middle of its shadow.
    ArgbBitmap text(64, 14);
    FillRect(text, 5, 4, 60, 7, kWhite);
    for (unsigned a = 1; a < 255; ++a) {
      text.SetPixel(static_cast<int>(a % 64), 8 + static_cast<int>(a / 64),
                    MakeArgb(a, 255, 255, 255));
    }
    const ArgbBitmap before = text;
    effect(text);
    int changed = 0;
    for (int y = 0; y < text.height(); ++y) {
      for (int x = 0; x < text.width(); ++x) {
        if (AlphaOf(before.Pixel(x, y)) != 0) {
          ASSERT_EQ(text.Pixel(x, y), before.Pixel(x, y)) << name << " at " << x << "," << y;
        } else {
          changed += text.Pixel(x, y) != before.Pixel(x, y);
        }
      }
    }
    EXPECT_GT(changed, 100) << name;
  }
}

TEST(ShadowTest, WhiteSquareGetsDarkCopyMediumBandAndFaintHalo) {
  // A 4 x 4 white square at (5..8, 5..8). Its sharp copy covers (8..11,
  // 8..11): dark wherever that is transparent. The faint halo reaches about
  // six pixels around both blurred copies (at +0 and +5); the medium band
  // lies where the blur exceeds 0x3F without being a sharp copy.
  const std::vector<std::string> expected = {
      "....aaaaaa..............",  //
      "...aaaaaaaa.............",  //
      "..aaaaaaaaaa............",  //
      ".aaaaaaaaaaaa...........",  //
      ".aaaaabbaaaaaa..........",  //
      "aaaaa####aaaaaa.........",  //
      "aaaab####baaaaaa........",  //
      "aaaab####baaaaaaa.......",  //
      "aaaaa####CCCaaaaaa......",  //
      ".aaaaabbCCCCbaaaaa......",  //
      ".aaaaaaaCCCCbbaaaaa.....",  //
      "..aaaaaaCCCCbbbaaaa.....",  //
      "...aaaaaabbbbbbaaaa.....",  //
      "....aaaaaabbbbaaaaa.....",  //
      ".....aaaaaabbaaaaa......",  //
      "......aaaaaaaaaaaa......",  //
      ".......aaaaaaaaaa.......",  //
      "........aaaaaaaa........",  //
      ".........aaaaaa.........",  //
      "........................",  //
      "........................",  //
      "........................",  //
      "........................",  //
      "........................",  //
  };
  for (const auto& [name, effect] : Effects()) {
    ArgbBitmap text(24, 24);
    FillRect(text, 5, 5, 9, 9, kWhite);
    effect(text);
    EXPECT_EQ(Map(text), expected) << name;
  }
}

TEST(ShadowTest, ShadowBeyondTheRightAndBottomEdgesIsLost) {
  // A white block in the bottom-right corner. In a larger picture its dark
  // sharp copy and more halo lie right of and below it; here the picture
  // keeps its size, and every pixel it has matches the larger picture's.
  const std::vector<std::string> expected = {
      "................",  //
      ".........aaaaaaa",  //
      "........aaaaaaaa",  //
      ".......aaaaaaaaa",  //
      "......aaaaaaaaaa",  //
      "......aaaaabbbba",  //
      ".....aaaaa######",  //
      ".....aaaab######",  //
      ".....aaaab######",  //
      ".....aaaab######",  //
      ".....aaaab######",  //
      ".....aaaaa######",  //
  };
  for (const auto& [name, effect] : Effects()) {
    ArgbBitmap text(16, 12);
    FillRect(text, 10, 6, 16, 12, kWhite);
    effect(text);
    EXPECT_EQ(Map(text), expected) << name;

    ArgbBitmap larger(26, 22);
    FillRect(larger, 10, 6, 16, 12, kWhite);
    effect(larger);
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 16; ++x) ASSERT_EQ(larger.Pixel(x, y), text.Pixel(x, y)) << name;
    EXPECT_EQ(larger.Pixel(16, 9), kShadowDark) << name;
    EXPECT_EQ(larger.Pixel(13, 14), kShadowDark) << name;
  }
}

TEST(ShadowTest, EmptyPicturesAreLeftAlone) {
  for (const auto& [name, effect] : Effects()) {
    ArgbBitmap empty(0, 3);
    effect(empty);
    EXPECT_EQ(empty.height(), 3) << name;
    ArgbBitmap flat(5, 0);
    effect(flat);
    EXPECT_EQ(flat.width(), 5) << name;
  }
}

// Random text-like pictures: runs of visible pixels of one colour with
// anti-aliased ends over transparent pixels of assorted colours. The colour
// kinds exercise each way the channels can agree: white, grey, one channel
// zero with two equal (yellow), all different, and a mixture.
ArgbBitmap RandomText(int width, int height, int kind, std::mt19937& random) {
  std::uniform_int_distribution<unsigned> byte(0, 255);
  auto colour = [&]() -> Argb {
    switch (kind) {
      case 0:
        return 0xFFFFFF;
      case 1: {
        const unsigned v = byte(random);
        return MakeArgb(0, v, v, v);
      }
      case 2: {
        const unsigned v = byte(random);
        return MakeArgb(0, v, v, 0);
      }
      case 3:
        return MakeArgb(0, 200, 100, 50);
      default:
        return MakeArgb(0, byte(random), byte(random), byte(random));
    }
  };
  ArgbBitmap text(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned roll = byte(random);
      Argb alpha = 0;
      if (roll < 60) {
        alpha = 255;
      } else if (roll < 90) {
        alpha = byte(random);
      }
      const Argb rgb = alpha != 0 || roll % 2 == 0 ? colour() : 0;
      text.SetPixel(x, y, alpha << 24 | (rgb & 0xFFFFFF));
    }
  }
  return text;
}

TEST(ShadowTest, FastEffectGivesTheReferenceBytes) {
  for (InstructionSet set : SupportedSets()) {
    std::mt19937 random(3);
    ShadowScratch scratch;  // reused across pictures, as a caller may
    scratch.blur.instructionSet = set;
    for (int height = 1; height <= 20; ++height) {
      for (int width = 1; width <= 40; ++width) {
        const int kind = (width + height) % 5;
        ArgbBitmap fast = RandomText(width, height, kind, random);
        ArgbBitmap reference = fast;
        ApplyShadow(fast, scratch);
        ApplyShadowReference(reference);
        ASSERT_TRUE(SamePixels(fast, reference))
            << width << "x" << height << " kind " << kind << " set " << static_cast<int>(set);
      }
    }
    for (int kind = 0; kind < 5; ++kind) {
      ArgbBitmap fast = RandomText(301, 67, kind, random);
      ArgbBitmap reference = fast;
      ApplyShadow(fast, scratch);
      ApplyShadowReference(reference);
      ASSERT_TRUE(SamePixels(fast, reference)) << "kind " << kind;
    }
  }
}

}  // namespace
}  // namespace kelpie
