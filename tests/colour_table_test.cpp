// The colour count, built against a stand-in quantiser (below) that reduces
// every picture to at most 128 opaque colours plus transparency, so that
// every outcome of the probe and the decision can be seen; and the hashed
// look-up and fast scan against their linear forms.
#include "colour/colour_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"
#include "tests/pixel_helpers.h"

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

// n distinct opaque colours, numbered from `first` (up to 65535), between the
// pixels `before` and `after`.
std::vector<Argb> Colours(int n, int first = 0, std::vector<Argb> before = {},
                          const std::vector<Argb>& after = {}) {
  for (int i = first; i < first + n; ++i) before.push_back(MakeArgb(255, i & 0xFF, i >> 8, 0x5A));
  before.insert(before.end(), after.begin(), after.end());
  return before;
}

// `pixels` (row by row, `width` per row) loaded for the instruction set `set`.
WorkImage Load(int width, const std::vector<Argb>& pixels, InstructionSet set) {
  ArgbBitmap bitmap(width, width == 0 ? 0 : static_cast<int>(pixels.size()) / width);
  for (std::size_t i = 0; i < pixels.size(); ++i) bitmap.SetPixel(i % width, i / width, pixels[i]);
  WorkImage image;
  image.instructionSet = set;
  LoadPixels(bitmap, image);
  return image;
}

// Counts the colours of `pixels` into `table`.
ColourCount Count(int width, const std::vector<Argb>& pixels, ColourTable& table) {
  WorkImage image = Load(width, pixels, InstructionSet::kBest);
  return CountColours(image, table, *std::make_unique<Quantiser>());
}

TEST(ColourTableTest, EntriesInOrderOfFirstAppearance) {
  // Transparent background (with colour bytes), then blue, white, grey first
  // appear in that order although grey is the most frequent.
  ColourTable table;
  const Argb blue = 0xFF0000FF, white = 0xFFFFFFFF, grey = 0xFF808080;
  Count(4, {0x00FFFFFF, kClear, blue, white, grey, grey, grey, grey, grey, kClear, grey, blue},
        table);
  EXPECT_EQ(std::tuple(table.blue[0], table.red[0], table.red[1], table.green[1], table.red[2]),
            std::tuple(0xFF, 0, 0xFF, 0xFF, 0x80));
  const std::uint8_t blueBytes[] = {0, 0, 255, 255}, missing[] = {1, 2, 3, 4};
  EXPECT_EQ(std::pair(FindColour(table, blueBytes), FindColour(table, missing)), std::pair(0, -1));
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
      {"two colours differing in alpha alone", 2, {0x40102030, 0x41102030}, true, false, 2},
      {"300 colours after a transparent pixel", 301, Colours(300, 0, {kClear}), true, true, 128},
      {"256 colours, transparent first", 257, Colours(256, 0, {kClear}), true, true, 128},
      {"over 256 colours, none transparent", 300, Colours(300), false, false, 0},
      {"transparent in a later row", 16, Colours(256, 0, {}, std::vector(16, kClear)), false, false,
       0},
      {"transparent later in the filling row", 258,
       Colours(258, 1000, Colours(256, 0, {}, Colours(1, 3, {}, {kClear}))), true, true, 128},
      {"257th colour before transparent", 258, Colours(257, 0, {}, {kClear}), false, false, 0},
      {"only transparent pixels", 3, {kClear, kClear, 0x00FF0000}, true, false, 0},
      {"no pixels", 0, {}, true, false, 0},
  };
  ColourTable table;
  for (const auto& [what, width, pixels, ok, quantised, entries] : cases) {
    const ColourCount count = Count(width, pixels, table);
    EXPECT_EQ(std::tuple(count.ok, count.quantised, count.entryCount, table.entryCount),
              std::tuple(ok, quantised, entries, ok ? entries : 256))
        << what;
  }
}

// Runs (mostly short, some long) of `colours` visible colours, pairs of
// which differ in alpha alone, and of transparent pixels with any colour
// bytes; every width to 40 in up to 4 rows, then larger pictures in which the
// table fills or overflows part-way. (The hashed look-up is checked against
// the linear search through the encoder, in rle_encoder_test.)
TEST(ScanColoursTest, FastScanGivesThePlainTableAndResultOnEverySet) {
  std::mt19937 random(12);
  for (InstructionSet set : testing::SupportedSets()) {
    for (int round = 0; round < 800; ++round) {
      const int colours = std::array{1, 19, 255, 256, 300}[round % 5];
      const int width = round < 656 ? round % 41 : 100 + random() % 600;
      const std::size_t size = width * (round < 656 ? round / 41 % 5 : 1 + random() % 60);
      std::vector<Argb> pixels;
      for (unsigned next = 0; pixels.size() < size;) {
        // New colours in turn, now and then one seen before.
        const bool clear = random() % 100 < round % 3 * 30u;
        const unsigned k = (clear || random() % 8 == 0 ? random() % (next + 1) : next++) % colours;
        const Argb value = clear ? random() % 3 * 0x123456 : MakeArgb(1 + k % 255, k / 2, 0, 7);
        const std::size_t length = 1 + random() % (random() % 10 == 0 ? 400 : 3);
        pixels.insert(pixels.end(), std::min(length, size - pixels.size()), value);
      }
      const WorkImage image = Load(width, pixels, set);
      for (const bool probe : {true, false}) {
        ColourTable fast, plain;
        const ScanResult a = ScanColours(image, fast, probe);
        const ScanResult b = ScanColoursReference(image, plain, probe);
        ASSERT_EQ(std::tuple(a.end, a.transparent, std::memcmp(&fast, &plain, sizeof fast)),
                  std::tuple(b.end, b.transparent, 0))
            << InstructionSetName(set) << " round " << round;
      }
    }
  }
}

}  // namespace
}  // namespace kelpie
