// The colour count, built against a stand-in quantiser (below) that counts
// its calls and reduces every picture to at most 128 opaque colours plus
// transparency, so that every outcome of the probe and the decision can be
// seen.
#include "colour/colour_table.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"

namespace kelpie {

namespace {
int quantiseCalls = 0;
int keyWaits = 0;
void CountKeyWait() {
  ++keyWaits;
}
}  // namespace

// Stand-in for the network: red keeps its low seven bits, green and blue
// become 0, visible pixels become opaque, transparent ones stay transparent.
void QuantiseImage(WorkImage& image, Quantiser&, Console&) {
  ++quantiseCalls;
  for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
    image.pixels[i] &= 0x7F;
    image.pixels[i + 1] = 0;
    image.pixels[i + 2] = 0;
    if (image.pixels[i + 3] != 0) image.pixels[i + 3] = 255;
  }
}

namespace {

constexpr std::uint32_t kClear = 0x00000000;

// Colour number n (0 to 65535) as a distinct opaque pixel.
Argb Colour(int n) {
  return MakeArgb(255, n & 0xFF, (n >> 8) & 0xFF, 0x5A);
}

// Captures the console's two streams and counts key waits.
class ColourTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    quantiseCalls = 0;
    keyWaits = 0;
    out_ = std::tmpfile();
    err_ = std::tmpfile();
    console_.out = out_;
    console_.err = err_;
    console_.waitForKey = CountKeyWait;
  }
  void TearDown() override {
    std::fclose(out_);
    std::fclose(err_);
  }

  static std::string Read(std::FILE* file) {
    std::fflush(file);
    std::string text;
    std::rewind(file);
    int c;
    while ((c = std::fgetc(file)) != EOF) text.push_back(static_cast<char>(c));
    std::rewind(file);
    if (ftruncate(fileno(file), 0) != 0) std::abort();
    return text;
  }
  std::string Out() { return Read(out_); }

  // Loads `pixels` (row by row, `width` per row) and counts its colours.
  ColourCount Count(int width, const std::vector<Argb>& pixels) {
    const int height = width == 0 ? 0 : static_cast<int>(pixels.size()) / width;
    ArgbBitmap bitmap(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) bitmap.SetPixel(x, y, pixels[y * width + x]);
    LoadPixels(bitmap, image_);
    return CountColours(image_, table_, quantiser_, imageNumber_, console_);
  }

  std::FILE* out_ = nullptr;
  std::FILE* err_ = nullptr;
  Console console_;
  WorkImage image_;
  ColourTable table_;
  Quantiser quantiser_;
  std::int32_t imageNumber_ = 0;
};

// n distinct colours starting at colour `first`.
std::vector<Argb> Colours(int n, int first = 0) {
  std::vector<Argb> pixels;
  for (int i = 0; i < n; ++i) pixels.push_back(Colour(first + i));
  return pixels;
}

std::vector<Argb> Join(std::vector<Argb> a, const std::vector<Argb>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const char kColourError[] = "Error: the png file \"dummy\" has more than 256 colors\n";

TEST_F(ColourTableTest, LoadPixelsCopiesStraightBytesWithRowPointers) {
  ArgbBitmap bitmap(2, 3);
  bitmap.SetPixel(1, 2, 0x80FF0000);
  bitmap.SetPixel(0, 1, 0x01020304);
  LoadPixels(bitmap, image_);
  ASSERT_EQ(image_.width, 2);
  ASSERT_EQ(image_.height, 3);
  ASSERT_EQ(image_.pixels.size(), 24u);
  ASSERT_EQ(image_.rows.size(), 3u);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(image_.rows[r], image_.pixels.data() + 8 * r);
  const std::uint8_t* p = image_.rows[2] + 4;
  EXPECT_EQ(std::vector<int>(p, p + 4), (std::vector<int>{0xFF, 0x00, 0x00, 0x80}));
  p = image_.rows[1];
  EXPECT_EQ(std::vector<int>(p, p + 4), (std::vector<int>{0x02, 0x03, 0x04, 0x01}));

  const std::uint8_t raw[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  LoadRgbaPixels(1, 2, raw, image_);
  EXPECT_EQ(image_.rows[1][0], 5);
  EXPECT_EQ(image_.rows[1][3], 8);

  FreePixels(image_);
  EXPECT_TRUE(image_.pixels.empty());
  EXPECT_TRUE(image_.rows.empty());
  EXPECT_EQ(image_.width, 0);
}

TEST_F(ColourTableTest, EntriesInOrderOfFirstAppearance) {
  const Argb blue = 0xFF0000FF, white = 0xFFFFFFFF, grey = 0xFF808080;
  // Transparent background (with colour bytes), then blue, white, grey first
  // appear in that order although grey is the most frequent.
  const ColourCount count =
      Count(4, {0x00FFFFFF, kClear, blue, white, grey, grey, grey, grey, grey, kClear, grey, blue});
  EXPECT_TRUE(count.ok);
  EXPECT_EQ(count.entryCount, 3);
  ASSERT_EQ(table_.entryCount, 3);
  EXPECT_EQ(table_.blue[0], 0xFF);
  EXPECT_EQ(table_.red[0], 0);
  EXPECT_EQ(table_.red[1], 0xFF);
  EXPECT_EQ(table_.green[1], 0xFF);
  EXPECT_EQ(table_.red[2], 0x80);
  for (int i = 3; i < 256; ++i) {
    ASSERT_EQ(table_.red[i] | table_.green[i] | table_.blue[i] | table_.alpha[i], 0) << i;
  }
  EXPECT_EQ(Out(), "\tImage[0000] has 3 color(s); size: 4x3\n");
  EXPECT_EQ(FindColour(table_, image_.rows[0] + 8), 0);
  const std::uint8_t missing[4] = {1, 2, 3, 4};
  EXPECT_EQ(FindColour(table_, missing), -1);

  // Colours that differ in alpha alone are two entries; a smaller table
  // clears the bytes of the previous picture's entries.
  EXPECT_TRUE(Count(2, {0x40102030, 0x41102030}).ok);
  EXPECT_EQ(table_.entryCount, 2);
  EXPECT_EQ(table_.alpha[0], 0x40);
  EXPECT_EQ(table_.alpha[1], 0x41);
  EXPECT_EQ(table_.red[2], 0);
  EXPECT_EQ(Out(), "\tImage[0001] has 2 color(s); size: 2x1\n");
  EXPECT_EQ(quantiseCalls, 0);
  EXPECT_EQ(keyWaits, 0);
}

TEST_F(ColourTableTest, EmptyAndTransparentPicturesHaveNoColours) {
  EXPECT_TRUE(Count(3, {kClear, kClear, 0x00FF0000}).ok);
  EXPECT_EQ(table_.entryCount, 0);
  EXPECT_EQ(Out(), "\tImage[0000] has 0 color(s); size: 3x1\n");
  EXPECT_TRUE(Count(0, {}).ok);
  EXPECT_EQ(Out(), "\tImage[0001] has 0 color(s); size: 0x0\n");
  EXPECT_EQ(quantiseCalls, 0);
}

// Every row of the decision table, plus the boundaries of the probe.
TEST_F(ColourTableTest, DecisionOutcomes) {
  // At most 255 visible colours with transparency: exact, not quantised.
  ColourCount count = Count(16, Join({kClear}, Colours(255)));
  EXPECT_TRUE(count.ok);
  EXPECT_EQ(count.entryCount, 255);
  EXPECT_EQ(Out(), "\tImage[0000] has 255 color(s); size: 16x16\n");
  EXPECT_EQ(quantiseCalls, 0);

  // Exactly 256 visible colours, no transparent pixel: accepted as they are.
  count = Count(16, Colours(256));
  EXPECT_TRUE(count.ok);
  EXPECT_EQ(count.entryCount, 256);
  EXPECT_EQ(table_.red[255], 255);
  EXPECT_EQ(Out(), "\tImage[0001] has 256 color(s); size: 16x16\n");
  EXPECT_EQ(quantiseCalls, 0);

  // 300 visible colours after a transparent pixel: quantised once (the
  // stand-in leaves 128 reds), then accepted.
  count = Count(301, Join({kClear}, Colours(300)));
  EXPECT_TRUE(count.ok);
  EXPECT_EQ(count.entryCount, 128);
  EXPECT_EQ(quantiseCalls, 1);
  EXPECT_EQ(Out(), "\tImage[0002] has 128 color(s); size: 301x1\n");

  // Exactly 256 visible colours with a transparent pixel before the table
  // fills: also quantised.
  count = Count(257, Join({kClear}, Colours(256)));
  EXPECT_TRUE(count.ok);
  EXPECT_EQ(quantiseCalls, 2);
  EXPECT_EQ(Out(), "\tImage[0003] has 128 color(s); size: 257x1\n");
  EXPECT_EQ(keyWaits, 0);

  // More than 256 visible colours and no transparent pixel: colour error in
  // the counting pass, the table keeps the first 256 colours, the picture
  // number stays.
  count = Count(300, Colours(300));
  EXPECT_FALSE(count.ok);
  EXPECT_EQ(count.entryCount, 0);
  EXPECT_EQ(table_.entryCount, 256);
  EXPECT_EQ(table_.red[255], 255);
  EXPECT_EQ(table_.green[255], 0);
  EXPECT_EQ(Out(), kColourError);
  EXPECT_EQ(keyWaits, 1);
  EXPECT_EQ(quantiseCalls, 2);
  EXPECT_EQ(imageNumber_, 4);

  // Exactly 256 visible colours, the transparent pixel only in a row after
  // the one that filled the table: not quantised, error after counting.
  count = Count(16, Join(Colours(256), std::vector<Argb>(16, kClear)));
  EXPECT_FALSE(count.ok);
  EXPECT_EQ(table_.entryCount, 256);
  EXPECT_EQ(Out(), kColourError);
  EXPECT_EQ(keyWaits, 2);
  EXPECT_EQ(quantiseCalls, 2);

  // The probe finishes the row in which the table filled: a transparent
  // pixel later in that row still counts.
  count = Count(258, Join(Join(Colours(256), {Colour(3), kClear}), Colours(258, 1000)));
  EXPECT_TRUE(count.ok);
  EXPECT_EQ(quantiseCalls, 3);
  EXPECT_EQ(Out(), "\tImage[0004] has 128 color(s); size: 258x2\n");

  // ... but it stops at a 257th colour in that row, before a transparent
  // pixel that follows it: not quantised, colour error.
  count = Count(258, Join(Colours(257), {kClear}));
  EXPECT_FALSE(count.ok);
  EXPECT_EQ(quantiseCalls, 3);
  EXPECT_EQ(Out(), kColourError);
  EXPECT_EQ(keyWaits, 3);

  // The first passing picture after the errors takes the next number.
  EXPECT_TRUE(Count(1, {Colour(9)}).ok);
  EXPECT_EQ(Out(), "\tImage[0005] has 1 color(s); size: 1x1\n");
  EXPECT_EQ(Read(err_), "");
}

}  // namespace
}  // namespace kelpie
