// The colour count, built against a stand-in quantiser (below) that reduces
// every picture to at most 128 opaque colours plus transparency, so that
// every outcome of the probe and the decision can be seen.
#include "colour/colour_table.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"

namespace kelpie {

// Stand-in for the network: red keeps its low seven bits, green and blue
// become 0, visible pixels become opaque, transparent ones stay transparent.
LearningFigures QuantiseImage(WorkImage& image, Quantiser&) {
  for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
    image.pixels[i] &= 0x7F;
    image.pixels[i + 1] = image.pixels[i + 2] = 0;
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

// n distinct colours starting at colour `first`, between the pixels `before`
// and `after`.
std::vector<Argb> Colours(int n, int first = 0, std::vector<Argb> before = {},
                          const std::vector<Argb>& after = {}) {
  for (int i = 0; i < n; ++i) before.push_back(Colour(first + i));
  before.insert(before.end(), after.begin(), after.end());
  return before;
}

// Loads `pixels` (row by row, `width` per row) and counts its colours into
// `table`.
ColourCount Count(int width, const std::vector<Argb>& pixels, ColourTable& table) {
  const int height = width == 0 ? 0 : static_cast<int>(pixels.size()) / width;
  ArgbBitmap bitmap(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) bitmap.SetPixel(x, y, pixels[y * width + x]);
  WorkImage image;
  LoadPixels(bitmap, image);
  return CountColours(image, table, *std::make_unique<Quantiser>());
}

TEST(ColourTableTest, EntriesInOrderOfFirstAppearance) {
  ColourTable table;
  const Argb blue = 0xFF0000FF, white = 0xFFFFFFFF, grey = 0xFF808080;
  // Transparent background (with colour bytes), then blue, white, grey first
  // appear in that order although grey is the most frequent.
  ColourCount count =
      Count(4, {0x00FFFFFF, kClear, blue, white, grey, grey, grey, grey, grey, kClear, grey, blue},
            table);
  EXPECT_EQ(std::tuple(count.ok, count.quantised, count.entryCount), std::tuple(true, false, 3));
  EXPECT_EQ(std::tuple(table.blue[0], table.red[0], table.red[1], table.green[1], table.red[2]),
            std::tuple(0xFF, 0, 0xFF, 0xFF, 0x80));
  const std::uint8_t blueBytes[] = {0, 0, 255, 255}, missing[] = {1, 2, 3, 4};
  EXPECT_EQ(std::pair(FindColour(table, blueBytes), FindColour(table, missing)), std::pair(0, -1));
  // Colours that differ in alpha alone are two entries; a smaller table
  // clears the bytes of the previous picture's entries. Transparent and
  // empty pictures have no colours.
  EXPECT_EQ(Count(2, {0x40102030, 0x41102030}, table).entryCount, 2);
  EXPECT_EQ(std::tuple(table.alpha[0], table.alpha[1], table.red[2]), std::tuple(0x40, 0x41, 0));
  EXPECT_EQ(Count(3, {kClear, kClear, 0x00FF0000}, table).entryCount, 0);
  EXPECT_TRUE(Count(0, {}, table).ok);
}

// Every row of the decision table, plus the boundaries of the probe. After
// the colour error the table keeps the first 256 colours.
TEST(ColourTableTest, DecisionOutcomes) {
  // The probe finishes the row in which the table filled: a transparent
  // pixel later in that row still counts, but it stops at a 257th colour of
  // that row, before a transparent pixel that follows it.
  // What, width, pixels; then ok, quantised, entries.
  const std::tuple<const char*, int, std::vector<Argb>, bool, bool, int> cases[] = {
      {"255 colours and transparency", 16, Colours(255, 0, {kClear}), true, false, 255},
      {"256 colours, none transparent", 16, Colours(256), true, false, 256},
      {"300 colours after a transparent pixel", 301, Colours(300, 0, {kClear}), true, true, 128},
      {"256 colours, transparent first", 257, Colours(256, 0, {kClear}), true, true, 128},
      {"over 256 colours, none transparent", 300, Colours(300), false, false, 0},
      {"256 colours, transparent in a later row", 16, Colours(256, 0, {}, std::vector(16, kClear)),
       false, false, 0},
      {"transparent later in the filling row", 258,
       Colours(258, 1000, Colours(256, 0, {}, {Colour(3), kClear})), true, true, 128},
      {"257th colour before transparent", 258, Colours(257, 0, {}, {kClear}), false, false, 0},
  };
  ColourTable table;
  for (const auto& [what, width, pixels, ok, quantised, entries] : cases) {
    const ColourCount count = Count(width, pixels, table);
    EXPECT_EQ(std::tuple(count.ok, count.quantised, count.entryCount, table.entryCount),
              std::tuple(ok, quantised, entries, ok ? entries : 256))
        << what;
  }
}

}  // namespace
}  // namespace kelpie
