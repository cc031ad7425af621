#include "colour/pixel_buffer.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tests/pixel_helpers.h"

namespace kelpie {
namespace {

TEST(PixelBufferTest, FastLoadGivesTheReferenceBytesOnEverySet) {
  for (InstructionSet set : testing::SupportedSets()) {
    std::mt19937 random(15);
    WorkImage fast;  // reused across pictures of every size, large and small
    fast.instructionSet = set;
    for (int round = 0; round < 300; ++round) {
      const int width = round < 200 ? round % 37 : static_cast<int>(random() % 400);
      const int height = round < 200 ? round % 5 : static_cast<int>(random() % 30);
      ArgbBitmap picture(width, height);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) picture.SetPixel(x, y, random());
      WorkImage reference;
      LoadPixels(picture, fast);
      LoadPixelsReference(picture, reference);
      ASSERT_EQ(fast.pixels, reference.pixels) << InstructionSetName(set) << " " << width;
      for (int r = 0; r < height; ++r) ASSERT_EQ(fast.rows[r], &fast.pixels[4 * width * r]);
    }
  }
  // The bytes in memory: a half-transparent red 0x80FF0000 is FF 00 00 80.
  ArgbBitmap red(1, 1);
  red.Clear(0x80FF0000);
  WorkImage image;
  LoadPixelsReference(red, image);
  EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{0xFF, 0x00, 0x00, 0x80}));
}

}  // namespace
}  // namespace kelpie
