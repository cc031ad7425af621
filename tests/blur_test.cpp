#include "render/blur.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "tests/pixel_helpers.h"

namespace kelpie {
namespace {

// Values [from, to) of row 0 of the plain blur of a one-row grey picture.
std::vector<int> BlurredRow(const std::vector<int>& values, int from, int to) {
  RgbBitmap picture(static_cast<int>(values.size()), 1);
  for (std::size_t i = 0; i < 3 * values.size(); ++i) {
    picture.Row(0)[i] = static_cast<std::uint8_t>(values[i / 3]);
  }
  BlurRgbReference(picture);
  std::vector<int> out;
  for (int x = from; x < to; ++x) out.push_back(picture.Row(0)[3 * x]);
  return out;
}

std::vector<std::uint8_t> Bytes(const RgbBitmap& picture) {
  if (picture.height() == 0) return {};
  return std::vector<std::uint8_t>(picture.Row(0),
                                   picture.Row(0) + picture.stride() * picture.height());
}

TEST(BlurTest, WeightsAndMeansByHand) {
  // w(k) = exp(-q), q = k * k / 8 in integers: 0, 0, 0, 1, 2, 3, 4.
  EXPECT_EQ(kBlurWeights[2], 1.0);
  EXPECT_EQ(kBlurWeights[3], std::exp(-1.0));
  EXPECT_EQ(kBlurWeights[4], std::exp(-2.0));
  EXPECT_EQ(kBlurWeights[5], std::exp(-3.0));
  EXPECT_EQ(kBlurWeights[6], std::exp(-4.0));

  // Inside a row: 255 * w(k) / 6.1426 (five taps of weight 1, e^-1 .. e^-4
  // twice). At the left edge the missing taps leave the divisor: 255 /
  // 3.5713 = 71, 255 / 4.5713 = 55, 255 / 5.5713 = 45, ...
  std::vector<int> dot(31, 0);
  dot[15] = 255;
  EXPECT_EQ(BlurredRow(dot, 9, 22),
            (std::vector<int>{0, 2, 5, 15, 41, 41, 41, 41, 41, 15, 5, 2, 0}));
  std::swap(dot[0], dot[15]);
  EXPECT_EQ(BlurredRow(dot, 0, 8), (std::vector<int>{71, 55, 45, 15, 5, 2, 0, 0}));
}

TEST(BlurTest, TruncationLowersSomeUniformValuesByOne) {
  // Inside a line the double-precision mean of a uniform v falls just below
  // v for 28 values, among them 15, 109 and 240, which truncation lowers by
  // one; 16, 110 and 241 stay.
  const int lowered[][2] = {{15, 14}, {16, 16}, {109, 108}, {110, 110}, {240, 239}, {241, 241}};
  for (const auto& [v, mean] : lowered) {
    EXPECT_EQ(BlurredRow(std::vector<int>(30, v), 15, 16)[0], mean) << v;
  }
}

// Random pictures of four kinds: noise, sparse dots on black (the all-zero
// windows), flat blocks (means that are whole numbers in real arithmetic,
// where only the exact order of the additions gives the byte), and grey
// blocks of every value in turn (one channel blurred, two copied).
RgbBitmap RandomPicture(int width, int height, int kind, std::mt19937& random) {
  RgbBitmap picture(width, height);
  std::uniform_int_distribution<int> byte(0, 255);
  const int blockValue = byte(random);
  for (int y = 0; y < height; ++y) {
    for (int i = 0; i < 3 * width; ++i) {
      const int value = kind == 0   ? byte(random)
                        : kind == 1 ? (byte(random) < 8 ? byte(random) : 0)
                        : kind == 2 ? (i / 3 / 7 + y / 5) % 3 * (blockValue + i % 3)
                                    : y / 13 * 16 + i / 3 / 13;
      picture.Row(y)[i] = static_cast<std::uint8_t>(value);
    }
  }
  return picture;
}

// The three channels of a picture as planes made and taken a row at a time:
// each row must be asked for once, and each blurred row handed over after
// every row it reads.
class ChannelRows final : public BlurRows {
 public:
  ChannelRows(const RgbBitmap& in, RgbBitmap& out, PixelRect rect)
      : in_(in), out_(out), rect_(rect), asked_(3 * in.height(), 0) {}
  void MakeRow(int plane, int y, int begin, int end, float* values) override {
    EXPECT_EQ(asked_[3 * y + plane]++, 0) << "row " << y << " asked for twice";
    for (int x = begin; x < end; ++x) values[x - begin] = in_.Row(y)[3 * x + plane];
  }
  void TakeRow(int y, const std::int32_t* const* means, const std::uint8_t*) override {
    for (int t = std::max(0, y - kBlurRadius); t <= std::min(in_.height() - 1, y + kBlurRadius);
         ++t) {
      EXPECT_EQ(asked_[3 * t], 1) << "row " << y << " handed over before row " << t;
    }
    for (int x = rect_.x0; x < rect_.x1; ++x) {
      for (int c = 0; c < 3; ++c) {
        out_.Row(y)[3 * x + c] = static_cast<std::uint8_t>(means[c][x - rect_.x0]);
      }
    }
  }

 private:
  const RgbBitmap& in_;
  RgbBitmap& out_;
  PixelRect rect_;
  std::vector<int> asked_;
};

TEST(BlurTest, FastBlurGivesTheReferenceBytesOnEverySet) {
  for (InstructionSet set : testing::SupportedSets()) {
    SCOPED_TRACE(InstructionSetName(set));
    std::mt19937 random(5);
    BlurScratch scratch;  // reused across sizes, as the shadow reuses it
    scratch.instructionSet = set;
    std::vector<std::pair<int, int>> sizes = {{100, 37}, {257, 19}, {33, 120}, {208, 208}};
    for (int height = 0; height <= 20; ++height) {
      for (int width = 0; width <= 24; ++width) sizes.push_back({width, height});
    }
    for (const auto& [width, height] : sizes) {
      for (int kind = 0; kind < 4; ++kind) {
        RgbBitmap fast = RandomPicture(width, height, kind, random);
        RgbBitmap reference = fast;
        BlurRgbReference(reference);
        // All three planes a row at a time, from the bottom up, inside a
        // rectangle 3 pixels in from each edge (or the whole picture).
        const PixelRect rect = width > 6 && height > 6 ? PixelRect{3, 3, width - 3, height - 3}
                                                       : PixelRect{0, 0, width, height};
        RgbBitmap byRows = fast;
        ChannelRows rows(fast, byRows, rect);
        BlurPlaneRows(width, height, rect, 3, /*upwards=*/true, rows, scratch);
        for (int y = rect.y0; y < rect.y1; ++y) {
          for (int i = 3 * rect.x0; i < 3 * rect.x1; ++i) {
            ASSERT_EQ(byRows.Row(y)[i], reference.Row(y)[i])
                << width << "x" << height << " kind " << kind << " upwards at " << i / 3 << ","
                << y;
          }
        }
        BlurRgb(fast, scratch);
        ASSERT_EQ(Bytes(fast), Bytes(reference)) << width << "x" << height << " kind " << kind;
      }
    }
  }
}

}  // namespace
}  // namespace kelpie
