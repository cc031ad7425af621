#include "render/blur.h"

#include <gtest/gtest.h>
#include "tests/pixel_helpers.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace kelpie {
namespace {

using testing::SupportedSets;

// One-row picture with the same value in all three channels.
RgbBitmap GreyRow(const std::vector<int>& values) {
  RgbBitmap picture(static_cast<int>(values.size()), 1);
  for (std::size_t x = 0; x < values.size(); ++x) {
    for (int c = 0; c < 3; ++c) picture.Row(0)[3 * x + c] = static_cast<std::uint8_t>(values[x]);
  }
  return picture;
}

std::vector<int> RedChannel(const RgbBitmap& picture, int y) {
  std::vector<int> values;
  for (int x = 0; x < picture.width(); ++x) values.push_back(picture.Row(y)[3 * x]);
  return values;
}

std::vector<std::uint8_t> Bytes(const RgbBitmap& picture) {
  if (picture.height() == 0) return {};
  const std::uint8_t* begin = picture.Row(0);
  return std::vector<std::uint8_t>(begin, begin + picture.stride() * picture.height());
}

TEST(BlurTest, KernelWeightsAreCorrectlyRoundedExponentials) {
  // q = k * k / 8 in integers: 0, 0, 0, 1, 2, 3, 4 (not the continuous k * k / 8).
  EXPECT_EQ(kBlurWeights[0], 1.0);
  EXPECT_EQ(kBlurWeights[1], 1.0);
  EXPECT_EQ(kBlurWeights[2], 1.0);
  EXPECT_EQ(kBlurWeights[3], 0x1.78b56362cef38p-2);
  EXPECT_EQ(kBlurWeights[3], std::exp(-1.0));
  EXPECT_EQ(kBlurWeights[4], std::exp(-2.0));
  EXPECT_EQ(kBlurWeights[5], std::exp(-3.0));
  EXPECT_EQ(kBlurWeights[6], std::exp(-4.0));
}

TEST(BlurTest, SingleBrightPixelSpreadsByKnownValues) {
  // Inside a row: 255 * w(k) / 6.1426 (five taps of weight 1, e^-1 .. e^-4 twice).
  std::vector<int> values(31, 0);
  values[15] = 255;
  RgbBitmap picture = GreyRow(values);
  BlurRgbReference(picture);
  const std::vector<int> out = RedChannel(picture, 0);
  EXPECT_EQ(std::vector<int>(out.begin() + 9, out.begin() + 22),
            (std::vector<int>{0, 2, 5, 15, 41, 41, 41, 41, 41, 15, 5, 2, 0}));

  // At the left edge the weights of the missing taps are left out of the
  // divisor: 255 / 3.5713 = 71, 255 / 4.5713 = 55, 255 / 5.5713 = 45, ...
  std::fill(values.begin(), values.end(), 0);
  values[0] = 255;
  picture = GreyRow(values);
  BlurRgbReference(picture);
  const std::vector<int> edge = RedChannel(picture, 0);
  EXPECT_EQ(std::vector<int>(edge.begin(), edge.begin() + 8),
            (std::vector<int>{71, 55, 45, 15, 5, 2, 0, 0}));
}

TEST(BlurTest, EdgesAreNotDarkened) {
  // A uniform 200 keeps its value at the edge up to the truncation (without
  // the renormalisation the first pixel would be 200 * 3.57 / 6.14 = 116).
  // The two ends differ: the sums run left to right at both.
  RgbBitmap picture = GreyRow(std::vector<int>(30, 200));
  BlurRgbReference(picture);
  EXPECT_EQ(RedChannel(picture, 0),
            (std::vector<int>{199, 199, 200, 199, 200, 200, 200, 200, 200, 200,
                              200, 200, 200, 200, 200, 200, 200, 200, 200, 200,
                              200, 200, 200, 200, 200, 199, 199, 200, 200, 200}));
}

TEST(BlurTest, TruncationLowersSomeUniformValuesByOnePerPass) {
  // Inside a line, the double-precision mean of a uniform v falls just below
  // v for exactly these 28 values, which truncation then lowers by one.
  const std::vector<int> lowered = {15,  27,  30,  54,  60,  87,  91,  93,  99,  101,
                                    108, 109, 111, 120, 174, 182, 186, 195, 198, 202,
                                    203, 216, 218, 219, 222, 237, 239, 240};
  std::vector<int> found;
  for (int v = 0; v < 256; ++v) {
    RgbBitmap picture = GreyRow(std::vector<int>(30, v));
    BlurRgbReference(picture);
    if (picture.Row(0)[3 * 15] != v) {
      EXPECT_EQ(picture.Row(0)[3 * 15], v - 1) << v;
      found.push_back(v);
    }
  }
  EXPECT_EQ(found, lowered);

  // In a picture both passes truncate: 109 -> 108 -> 107, 203 -> 202 -> 201,
  // while 100 and 240 -> 239 -> 238 show none and both losses.
  RgbBitmap square(30, 30);
  square.Clear(MakeArgb(255, 109, 203, 240));
  BlurRgbReference(square);
  EXPECT_EQ(square.Pixel(15, 15), MakeArgb(255, 107, 201, 238));
  square.Clear(MakeArgb(255, 100, 0, 255));
  BlurRgbReference(square);
  EXPECT_EQ(square.Pixel(15, 15), MakeArgb(255, 100, 0, 255));
}

TEST(BlurTest, ChannelsAreBlurredSeparately) {
  RgbBitmap picture(13, 1);
  picture.Row(0)[3 * 6 + 1] = 255;  // green only
  BlurRgbReference(picture);
  EXPECT_EQ(picture.Pixel(6, 0), MakeArgb(255, 0, 41, 0));
  EXPECT_EQ(picture.Pixel(3, 0), MakeArgb(255, 0, 15, 0));
}

// Random pictures of a few kinds: noise, sparse dots on black (the all-zero
// windows), and flat blocks (means that are exact integers in real
// arithmetic, where only the exact order of additions gives the right byte).
RgbBitmap RandomPicture(int width, int height, int kind, std::mt19937& random) {
  RgbBitmap picture(width, height);
  std::uniform_int_distribution<int> byte(0, 255);
  const int blockValue = byte(random);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = picture.Row(y);
    for (int i = 0; i < 3 * width; ++i) {
      switch (kind) {
        case 0:
          row[i] = static_cast<std::uint8_t>(byte(random));
          break;
        case 1:
          row[i] = byte(random) < 8 ? static_cast<std::uint8_t>(byte(random)) : 0;
          break;
        default:
          row[i] =
              ((i / 3) / 7 + y / 5) % 3 == 0 ? 0 : static_cast<std::uint8_t>(blockValue + i % 3);
          break;
      }
    }
  }
  return picture;
}

TEST(BlurTest, FastBlurGivesTheReferenceBytesForAllSmallSizes) {
  for (InstructionSet set : SupportedSets()) {
    std::mt19937 random(5);
    BlurScratch scratch;
    scratch.instructionSet = set;
    for (int height = 1; height <= 24; ++height) {
      for (int width = 1; width <= 24; ++width) {
        for (int kind = 0; kind < 3; ++kind) {
          RgbBitmap fast = RandomPicture(width, height, kind, random);
          RgbBitmap reference = fast;
          BlurRgb(fast, scratch);
          BlurRgbReference(reference);
          ASSERT_EQ(Bytes(fast), Bytes(reference))
              << width << "x" << height << " kind " << kind << " set " << static_cast<int>(set);
        }
      }
    }
  }
}

TEST(BlurTest, FastBlurGivesTheReferenceBytesOnLargerPictures) {
  for (InstructionSet set : SupportedSets()) {
    std::mt19937 random(7);
    BlurScratch scratch;  // reused across sizes, as the shadow reuses it
    scratch.instructionSet = set;
    const int sizes[][2] = {{100, 37}, {257, 19}, {33, 120}, {915, 75}};
    for (const auto& size : sizes) {
      for (int kind = 0; kind < 3; ++kind) {
        RgbBitmap fast = RandomPicture(size[0], size[1], kind, random);
        RgbBitmap reference = fast;
        BlurRgb(fast, scratch);
        BlurRgbReference(reference);
        ASSERT_EQ(Bytes(fast), Bytes(reference)) << size[0] << "x" << size[1] << " kind " << kind;
      }
    }
    // Every uniform value, where the rounding of the sums decides the byte;
    // grey, so the fast blur computes one channel and copies it.
    RgbBitmap fast(16 * 13, 16 * 13);
    for (int y = 0; y < fast.height(); ++y) {
      for (int x = 0; x < fast.width(); ++x) {
        const int v = (y / 13) * 16 + x / 13;
        for (int c = 0; c < 3; ++c) fast.Row(y)[3 * x + c] = static_cast<std::uint8_t>(v);
      }
    }
    RgbBitmap reference = fast;
    BlurRgb(fast, scratch);
    BlurRgbReference(reference);
    ASSERT_EQ(Bytes(fast), Bytes(reference));
  }
}

TEST(BlurTest, PlaneRectBlursOnlyItsPixelsWithTheReferenceBytes) {
  std::mt19937 random(11);
  std::uniform_int_distribution<int> coordinate(-3, 30);
  BlurScratch scratch;
  for (int round = 0; round < 600; ++round) {
    const int width = 1 + round % 27;
    const int height = 1 + round % 23;
    RgbBitmap reference = RandomPicture(width, height, round % 3, random);
    const int channel = round % 3;
    ChannelPlane original;
    original.Reset(width, height);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) original.Row(y)[x] = reference.Row(y)[3 * x + channel];
    }
    BlurRgbReference(reference);
    PixelRect rect{coordinate(random), coordinate(random), coordinate(random), coordinate(random)};
    ChannelPlane fast = original;
    BlurPlaneRect(fast, rect, scratch);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const bool inside = x >= rect.x0 && x < rect.x1 && y >= rect.y0 && y < rect.y1;
        ASSERT_EQ(fast.Row(y)[x], inside ? reference.Row(y)[3 * x + channel] : original.Row(y)[x])
            << width << "x" << height << " at " << x << "," << y;
      }
    }
  }
}

TEST(BlurTest, EmptyPicturesAreLeftAlone) {
  RgbBitmap empty(0, 4);
  BlurRgb(empty);
  BlurRgbReference(empty);
  RgbBitmap flat(4, 0);
  BlurRgb(flat);
  BlurRgbReference(flat);
  EXPECT_EQ(flat.width(), 4);
}

}  // namespace
}  // namespace kelpie
