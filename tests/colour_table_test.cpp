// The colour count, built against a stand-in quantiser (below) that reduces
// every picture to at most 128 opaque colours plus transparency, so that
// every outcome of the probe and the decision can be seen.
#include "colour/colour_table.h"

#include <gtest/gtest.h>

#include <vector>

#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"

namespace kelpie {

// Stand-in for the network: red keeps its low seven bits, green and blue
// become 0, visible pixels become opaque, transparent ones stay transparent.
LearningFigures QuantiseImage(WorkImage& image, Quantiser&) {
  for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
    image.pixels[i] &= 0x7F;
    image.pixels[i + 1] = 0;
    image.pixels[i + 2] = 0;
    if (image.pixels[i + 3] != 0) image.pixels[i + 3] = 255;
  }
  return LearningFigures{32, 0.5};
}

namespace {

constexpr Argb kClear = 0x00000000;

// Colour number n (0 to 65535) as a distinct opaque pixel.
Argb Colour(int n) {
  return MakeArgb(255, n & 0xFF, (n >> 8) & 0xFF, 0x5A);
}

// n distinct colours starting at colour `first`, after the pixels `before`.
std::vector<Argb> Colours(int n, int first = 0, std::vector<Argb> before = {}) {
  for (int i = 0; i < n; ++i) before.push_back(Colour(first + i));
  return before;
}

class ColourTableTest : public ::testing::Test {
 protected:
  // Loads `pixels` (row by row, `width` per row) and counts its colours.
  ColourCount Count(int width, const std::vector<Argb>& pixels) {
    const int height = width == 0 ? 0 : static_cast<int>(pixels.size()) / width;
    ArgbBitmap bitmap(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) bitmap.SetPixel(x, y, pixels[y * width + x]);
    LoadPixels(bitmap, image_);
    return CountColours(image_, table_, quantiser_);
  }

  WorkImage image_;
  ColourTable table_;
  Quantiser quantiser_;
};

TEST_F(ColourTableTest, EntriesInOrderOfFirstAppearance) {
  const Argb blue = 0xFF0000FF, white = 0xFFFFFFFF, grey = 0xFF808080;
  // Transparent background (with colour bytes), then blue, white, grey first
  // appear in that order although grey is the most frequent.
  ColourCount count =
      Count(4, {0x00FFFFFF, kClear, blue, white, grey, grey, grey, grey, grey, kClear, grey, blue});
  EXPECT_TRUE(count.ok);
  EXPECT_FALSE(count.quantised);
  ASSERT_EQ(count.entryCount, 3);
  EXPECT_EQ(table_.blue[0], 0xFF);
  EXPECT_EQ(table_.red[0], 0);
  EXPECT_EQ(table_.red[1], 0xFF);
  EXPECT_EQ(table_.green[1], 0xFF);
  EXPECT_EQ(table_.red[2], 0x80);
  EXPECT_EQ(FindColour(table_, image_.rows[0] + 8), 0);
  const std::uint8_t missing[4] = {1, 2, 3, 4};
  EXPECT_EQ(FindColour(table_, missing), -1);

  // Colours that differ in alpha alone are two entries; a smaller table
  // clears the bytes of the previous picture's entries.
  EXPECT_EQ(Count(2, {0x40102030, 0x41102030}).entryCount, 2);
  EXPECT_EQ(table_.alpha[0], 0x40);
  EXPECT_EQ(table_.alpha[1], 0x41);
  EXPECT_EQ(table_.red[2], 0);
  // Transparent and empty pictures have no colours.
  EXPECT_EQ(Count(3, {kClear, kClear, 0x00FF0000}).entryCount, 0);
  EXPECT_TRUE(Count(0, {}).ok);
}

// Every row of the decision table, plus the boundaries of the probe.
TEST_F(ColourTableTest, DecisionOutcomes) {
  std::vector<Argb> fullThenClearRow = Colours(256);
  fullThenClearRow.insert(fullThenClearRow.end(), 16, kClear);
  // The probe finishes the row in which the table filled: a transparent
  // pixel later in that row still counts...
  std::vector<Argb> clearInFillingRow = Colours(256);
  clearInFillingRow.push_back(Colour(3));
  clearInFillingRow.push_back(kClear);
  clearInFillingRow = Colours(258, 1000, clearInFillingRow);
  // ... but it stops at a 257th colour of that row, before a transparent
  // pixel that follows it.
  std::vector<Argb> overflowBeforeClear = Colours(257);
  overflowBeforeClear.push_back(kClear);

  struct Case {
    const char* what;
    int width;
    std::vector<Argb> pixels;
    bool ok;
    bool quantised;
    int entryCount;
  };
  const Case cases[] = {
      {"255 colours and transparency", 16, Colours(255, 0, {kClear}), true, false, 255},
      {"256 colours, none transparent", 16, Colours(256), true, false, 256},
      {"300 colours after a transparent pixel", 301, Colours(300, 0, {kClear}), true, true, 128},
      {"256 colours, transparent first", 257, Colours(256, 0, {kClear}), true, true, 128},
      {"over 256 colours, none transparent", 300, Colours(300), false, false, 0},
      {"256 colours, transparent in a later row", 16, fullThenClearRow, false, false, 0},
      {"transparent later in the filling row", 258, clearInFillingRow, true, true, 128},
      {"257th colour before transparent", 258, overflowBeforeClear, false, false, 0},
  };
  for (const Case& c : cases) {
    const ColourCount count = Count(c.width, c.pixels);
    EXPECT_EQ(count.ok, c.ok) << c.what;
    EXPECT_EQ(count.quantised, c.quantised) << c.what;
    EXPECT_EQ(count.entryCount, c.entryCount) << c.what;
    if (c.quantised) {
      EXPECT_EQ(count.learning.initialRadius, 32) << c.what;
    }
    // After the colour error the table keeps the first 256 colours.
    if (!c.ok) {
      EXPECT_EQ(table_.entryCount, 256) << c.what;
    }
  }
}

}  // namespace
}  // namespace kelpie
