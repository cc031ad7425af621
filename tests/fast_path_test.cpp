// Every fast path of a whole conversion against its plain form, on random
// data with fixed seeds: colour look-up, colour scan, run-length coding, the
// one-pass count and code, and reused pictures. Each must give the same
// bytes, results and console output.
#include <gtest/gtest.h>
#include "tests/pixel_helpers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "colour/colour_table.h"
#include "colour/pixel_buffer.h"
#include "colour/pixel_runs.h"
#include "colour/quantiser.h"
#include "pgs/rle_encoder.h"
#include "platform/bitmap.h"
#include "platform/text_face.h"
#include "render/blur.h"
#include "render/shadow.h"

namespace kelpie {
namespace {

using testing::SamePixels;

using Random = std::mt19937;

int Uniform(Random& random, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(random);
}

// A palette for random pictures: `visible` colours (alpha 1 to 255, some
// differing from others in alpha alone) and transparent colours with
// different colour bytes, 0 among them.
std::vector<Argb> Palette(Random& random, int visible) {
  std::vector<Argb> palette = {0x00000000, 0x00FFFFFF, 0x00123456};
  for (int i = 0; i < visible; ++i) {
    if (i > 0 && i % 7 == 0) {
      palette.push_back((palette.back() & 0x00FFFFFF) | Argb(Uniform(random, 1, 255)) << 24);
    } else {
      palette.push_back(MakeArgb(Uniform(random, 1, 255), Uniform(random, 0, 255),
                                 Uniform(random, 0, 255), Uniform(random, 0, 255)));
    }
  }
  return palette;
}

// A picture of runs of random lengths (mostly short, some long) drawn from
// `palette`; `transparentShare` in 0..100 is the share of transparent runs.
ArgbBitmap RandomPicture(Random& random, int width, int height, const std::vector<Argb>& palette,
                         int transparentShare) {
  ArgbBitmap picture(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width;) {
      const int kind = Uniform(random, 0, 9);
      const int length = kind < 6   ? Uniform(random, 1, 3)
                         : kind < 9 ? Uniform(random, 4, 70)
                                    : Uniform(random, 60, 400);
      const bool transparent = Uniform(random, 0, 99) < transparentShare;
      const Argb value = transparent
                             ? palette[Uniform(random, 0, 2)]
                             : palette[Uniform(random, 3, static_cast<int>(palette.size()) - 1)];
      for (int i = 0; i < length && x < width; ++i, ++x) picture.SetPixel(x, y, value);
    }
  }
  return picture;
}

WorkImage Loaded(const ArgbBitmap& picture) {
  WorkImage image;
  LoadPixelsReference(picture, image);
  return image;
}

std::vector<std::uint8_t> TableBytes(const ColourTable& table) {
  std::vector<std::uint8_t> bytes;
  for (const std::uint8_t* a : {table.red, table.green, table.blue, table.alpha}) {
    bytes.insert(bytes.end(), a, a + ColourTable::kMaxEntries);
  }
  bytes.push_back(static_cast<std::uint8_t>(table.entryCount));
  bytes.push_back(static_cast<std::uint8_t>(table.entryCount >> 8));
  return bytes;
}

std::vector<std::uint8_t> RleBytes(const RleBuffer& rle) {
  const int held = std::min(rle.rleLength, RleBuffer::kCapacity);
  return std::vector<std::uint8_t>(rle.bytes, rle.bytes + std::max(held, 0));
}

TEST(ColourIndexTest, FindsTheFirstEntryOfEveryVisibleColour) {
  Random random(11);
  auto index = std::make_unique<ColourIndex>();
  for (int round = 0; round < 200; ++round) {
    // Tables from empty to full, some with repeated colours and entries of
    // alpha 0, so that probing past occupied slots is exercised too.
    ColourTable table;
    table.entryCount = Uniform(random, 0, ColourTable::kMaxEntries);
    std::vector<Argb> colours;
    for (int i = 0; i < table.entryCount; ++i) {
      Argb c = MakeArgb(Uniform(random, 0, 3) == 0 ? 0 : Uniform(random, 1, 255),
                        Uniform(random, 0, 3), Uniform(random, 0, 255), Uniform(random, 0, 1));
      if (i > 0 && Uniform(random, 0, 9) == 0) c = colours[Uniform(random, 0, i - 1)];
      colours.push_back(c);
      table.red[i] = static_cast<std::uint8_t>(RedOf(c));
      table.green[i] = static_cast<std::uint8_t>(GreenOf(c));
      table.blue[i] = static_cast<std::uint8_t>(BlueOf(c));
      table.alpha[i] = static_cast<std::uint8_t>(AlphaOf(c));
    }
    index->Build(table);
    for (int probe = 0; probe < 300; ++probe) {
      std::uint8_t rgba[4];
      if (!colours.empty() && probe % 2 == 0) {
        const Argb c = colours[Uniform(random, 0, static_cast<int>(colours.size()) - 1)];
        rgba[0] = static_cast<std::uint8_t>(RedOf(c));
        rgba[1] = static_cast<std::uint8_t>(GreenOf(c));
        rgba[2] = static_cast<std::uint8_t>(BlueOf(c));
        rgba[3] = static_cast<std::uint8_t>(AlphaOf(c));
      } else {
        for (std::uint8_t& b : rgba) b = static_cast<std::uint8_t>(Uniform(random, 0, 3));
      }
      if (probe % 17 == 0) std::memset(rgba, 0, sizeof rgba);  // key 0, the empty slot's key
      const int expected = rgba[3] == 0 ? -1 : FindColour(table, rgba);
      ASSERT_EQ(index->Find(PixelKey(rgba)), expected) << "round " << round;
    }
  }
}

TEST(ScanColoursTest, FastScanGivesThePlainTableAndResult) {
  Random random(12);
  for (const int visible : {1, 4, 19, 255, 256, 300}) {
    for (const int transparentShare : {0, 30, 90}) {
      const std::vector<Argb> palette = Palette(random, visible);
      for (int height = 0; height <= 4; ++height) {
        for (int width = 0; width <= 40; ++width) {
          const WorkImage image =
              Loaded(RandomPicture(random, width, height, palette, transparentShare));
          for (const bool probe : {true, false}) {
            ColourTable fast;
            ColourTable plain;
            const ScanResult a = ScanColours(image, fast, probe);
            const ScanResult b = ScanColoursReference(image, plain, probe);
            ASSERT_EQ(a.end, b.end) << width << "x" << height << " visible " << visible;
            ASSERT_EQ(a.transparent, b.transparent) << width << "x" << height;
            ASSERT_EQ(TableBytes(fast), TableBytes(plain)) << width << "x" << height;
          }
        }
      }
      // Larger pictures, where the table fills or overflows part-way.
      for (int round = 0; round < 6; ++round) {
        const WorkImage image = Loaded(RandomPicture(
            random, Uniform(random, 100, 700), Uniform(random, 1, 60), palette, transparentShare));
        for (const bool probe : {true, false}) {
          ColourTable fast;
          ColourTable plain;
          const ScanResult a = ScanColours(image, fast, probe);
          const ScanResult b = ScanColoursReference(image, plain, probe);
          ASSERT_EQ(a.end, b.end);
          ASSERT_EQ(a.transparent, b.transparent);
          ASSERT_EQ(TableBytes(fast), TableBytes(plain));
        }
      }
    }
  }
}

TEST(ScanColoursTest, TransparencyAfterAnOverflowIsNotCounted) {
  // 257 colours in the first row, then a transparent pixel in the same row:
  // the scan stops at the 257th colour, before the transparent pixel.
  ArgbBitmap picture(300, 2);
  for (int x = 0; x < 257; ++x) picture.SetPixel(x, 0, MakeArgb(255, x & 0xFF, x >> 8, 7));
  picture.SetPixel(257, 0, 0);
  const WorkImage image = Loaded(picture);
  for (const bool probe : {true, false}) {
    ColourTable fast;
    ColourTable plain;
    const ScanResult a = ScanColours(image, fast, probe);
    const ScanResult b = ScanColoursReference(image, plain, probe);
    EXPECT_EQ(a.end, ScanEnd::kOverflow);
    EXPECT_FALSE(a.transparent);
    EXPECT_EQ(b.end, ScanEnd::kOverflow);
    EXPECT_FALSE(b.transparent);
    EXPECT_EQ(TableBytes(fast), TableBytes(plain));
  }
}

// Encodes `image` against `table` both ways and compares everything.
void ExpectSameCoding(const WorkImage& image, const ColourTable& table, const std::string& what) {
  auto fast = std::make_unique<RleBuffer>();
  auto plain = std::make_unique<RleBuffer>();
  const bool a = EncodeRle(image, table, *fast);
  const bool b = EncodeRleReference(image, table, *plain);
  ASSERT_EQ(a, b) << what;
  ASSERT_EQ(fast->rleLength, plain->rleLength) << what;
  ASSERT_EQ(RleBytes(*fast), RleBytes(*plain)) << what;
}

TEST(EncodeRleTest, FastEncoderGivesThePlainBytes) {
  Random random(13);
  for (const int visible : {1, 3, 19, 60, 255, 300}) {
    const std::vector<Argb> palette = Palette(random, visible);
    for (int height = 0; height <= 3; ++height) {
      for (int width = 0; width <= 40; ++width) {
        const WorkImage image = Loaded(RandomPicture(random, width, height, palette, 40));
        // The picture's own table, as the count leaves it (full after an
        // overflow, so that colours are missing from it) ...
        ColourTable table;
        ScanColoursReference(image, table, false);
        ExpectSameCoding(image, table, std::to_string(width) + "x" + std::to_string(height));
        // ... and a table in another order with repeated entries.
        ColourTable shuffled = table;
        for (int i = shuffled.entryCount - 1; i > 0; --i) {
          const int j = Uniform(random, 0, i);
          std::swap(shuffled.red[i], shuffled.red[j]);
          std::swap(shuffled.green[i], shuffled.green[j]);
          std::swap(shuffled.blue[i], shuffled.blue[j]);
          std::swap(shuffled.alpha[i], shuffled.alpha[j]);
        }
        if (shuffled.entryCount >= 2) {
          shuffled.red[1] = shuffled.red[0];
          shuffled.green[1] = shuffled.green[0];
          shuffled.blue[1] = shuffled.blue[0];
          shuffled.alpha[1] = shuffled.alpha[0];
        }
        ExpectSameCoding(image, shuffled, "shuffled " + std::to_string(width));
      }
    }
  }
  // Runs longer than 63 and than 16383 pixels, of index 0, of a direct
  // index and of a high one, and a picture too large for one object.
  const std::vector<Argb> palette = Palette(random, 100);
  for (const int width : {64, 300, 16383, 16384, 40000}) {
    ArgbBitmap picture(width, 3);
    for (int x = 0; x < width; ++x) {
      picture.SetPixel(x, 0, palette[3]);
      picture.SetPixel(x, 1, palette[3 + (x * 7 < width ? 0 : 60)]);
      picture.SetPixel(x, 2, x % 2 == 0 ? palette[3 + 20] : palette[1]);
    }
    const WorkImage image = Loaded(picture);
    ColourTable table;
    ScanColoursReference(image, table, false);
    ExpectSameCoding(image, table, "wide " + std::to_string(width));
  }
}

TEST(CountAndEncodeTest, OnePassGivesWhatTheTwoStagesGive) {
  Random random(14);
  auto quantiser = std::make_unique<Quantiser>();
  // Few colours; exactly 256 without transparency; more than 256 with
  // transparency (quantised) and without (the colour error).
  struct Case {
    int visible;
    int transparentShare;
  };
  for (const Case c : {Case{5, 30}, Case{19, 60}, Case{256, 0}, Case{400, 20}, Case{400, 0}}) {
    const std::vector<Argb> palette = Palette(random, c.visible);
    for (int round = 0; round < 8; ++round) {
      const ArgbBitmap picture = RandomPicture(random, Uniform(random, 1, 120),
                                               Uniform(random, 1, 40), palette, c.transparentShare);
      // One pass, as far as the probe goes; when it completes, the table
      // and the data are the final ones.
      ColourTable togetherTable;
      auto togetherRle = std::make_unique<RleBuffer>();
      const ScanResult scan = EncodeRleWhileCounting(picture, togetherTable, *togetherRle);
      // The two stages on the loaded picture.
      WorkImage apart;
      ColourTable apartTable;
      auto apartRle = std::make_unique<RleBuffer>();
      LoadPixelsReference(picture, apart);
      const ColourCount count = CountColours(apart, apartTable, *quantiser);
      const std::string what =
          "visible " + std::to_string(c.visible) + " round " + std::to_string(round);
      // The probe completes exactly when the table never fills.
      ASSERT_EQ(scan.end == ScanEnd::kComplete, !count.quantised && apartTable.entryCount < 256)
          << what;
      if (scan.end != ScanEnd::kComplete) continue;
      const bool encoded = count.ok && EncodeRle(apart, apartTable, *apartRle);
      const ColourCount judged = JudgeColourCount(togetherTable, scan);
      ASSERT_EQ(judged.ok, count.ok) << what;
      ASSERT_EQ(judged.entryCount, count.entryCount) << what;
      ASSERT_EQ(TableBytes(togetherTable), TableBytes(apartTable)) << what;
      if (encoded) {
        ASSERT_EQ(togetherRle->rleLength, apartRle->rleLength) << what;
        ASSERT_EQ(RleBytes(*togetherRle), RleBytes(*apartRle)) << what;
      }
    }
  }
}

TEST(TextFaceTest, DrawingOverAnyPictureBlendsEachGlyphPixel) {
  std::string error;
  const std::unique_ptr<TextFace> face = TextFace::OpenSubtitleFont(error);
  if (face == nullptr) GTEST_SKIP() << error;
  Random random(21);
  // One glyph, so that no pixel is covered twice: drawn over a picture, each
  // pixel must be BlendOver of what the glyph gives over transparent black.
  // The layout of a text measured before another one must not leak into it.
  for (const char* text : {"O", "g", "W"}) {
    const TextBox box = face->Measure(text);
    face->Measure("something else entirely");
    const int width = static_cast<int>(box.width);
    const int height = static_cast<int>(box.height);
    for (const Argb colour : {0xFFFFFFFFu, 0x80FF8000u, 0x0A00FFFFu}) {
      ArgbBitmap alone(width, height);
      face->Draw(text, colour, alone);
      ArgbBitmap over(width, height);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          if (Uniform(random, 0, 2) != 0) over.SetPixel(x, y, static_cast<Argb>(random()));
        }
      }
      ArgbBitmap expected = over;
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          if (AlphaOf(alone.Pixel(x, y)) != 0) {
            expected.SetPixel(x, y, BlendOver(alone.Pixel(x, y), over.Pixel(x, y)));
          }
        }
      }
      face->Measure("and another");
      face->Draw(text, colour, over);
      ASSERT_TRUE(SamePixels(over, expected)) << text << " " << std::hex << colour;
    }
  }
}

}  // namespace
}  // namespace kelpie
