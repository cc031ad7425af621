// Every fast path of a whole conversion against its plain form, on random
// data with fixed seeds: colour look-up, colour scan, run-length coding, the
// one-pass count and code, loading pixels, reused pictures and scratch
// memory, and the blur's estimate in uniform areas. Each must give the same
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
using testing::SupportedSets;

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

TEST(PixelRunsTest, EverySetSplitsRowsWhereThePixelsChange) {
  Random random(10);
  for (InstructionSet set : SupportedSets()) {
    PixelRuns runs(set);
    // Rows of every width up to a few blocks, then longer ones; pixels drawn
    // from few values, with long stretches, and differing in a single byte.
    for (int round = 0; round < 2000; ++round) {
      const int width = round < 200 ? round / 4 : Uniform(random, 0, 2000);
      const int values = Uniform(random, 1, 4);
      const int repeat = Uniform(random, 0, 40);
      std::vector<std::uint32_t> row(static_cast<std::size_t>(width));
      for (int x = 0; x < width; ++x) {
        const bool same = x > 0 && Uniform(random, 0, 40) < repeat;
        row[x] = same ? row[x - 1]
                      : static_cast<std::uint32_t>(Uniform(random, 0, values - 1))
                            << (8 * Uniform(random, 0, 3));
      }
      std::vector<std::int32_t> expected;
      for (int x = 0; x < width; ++x) {
        if (x == 0 || row[x] != row[x - 1]) expected.push_back(x);
      }
      const int count = runs.Split(reinterpret_cast<const std::uint8_t*>(row.data()), width);
      ASSERT_EQ(count, static_cast<int>(expected.size())) << "width " << width;
      for (int i = 0; i < count; ++i) ASSERT_EQ(runs.Start(i), expected[i]) << "run " << i;
      ASSERT_EQ(runs.Start(count), width);
    }
  }
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

TEST(LoadPixelsTest, FastLoadGivesThePlainBytesAndReusesNothingStale) {
  Random random(15);
  WorkImage fast;  // reused across pictures of every size, large and small
  for (int round = 0; round < 300; ++round) {
    const int width = round < 200 ? round % 37 : Uniform(random, 0, 400);
    const int height = round < 200 ? round % 5 : Uniform(random, 0, 30);
    ArgbBitmap picture(width, height);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        picture.SetPixel(x, y, static_cast<Argb>(random()));
      }
    }
    WorkImage plain;
    LoadPixels(picture, fast);
    LoadPixelsReference(picture, plain);
    ASSERT_EQ(fast.width, plain.width);
    ASSERT_EQ(fast.height, plain.height);
    ASSERT_EQ(fast.pixels, plain.pixels) << width << "x" << height;
    ASSERT_EQ(fast.rows.size(), static_cast<std::size_t>(height));
    for (int r = 0; r < height; ++r) {
      ASSERT_EQ(fast.rows[r], fast.pixels.data() + 4 * static_cast<std::size_t>(width) * r);
    }
  }
}

TEST(BitmapTest, ResetGivesANewClearedBitmap) {
  Random random(16);
  ArgbBitmap reused;
  for (int round = 0; round < 100; ++round) {
    const int width = Uniform(random, 0, 50);
    const int height = Uniform(random, 0, 20);
    const Argb value = static_cast<Argb>(random());
    reused.Reset(width, height, value);
    ArgbBitmap fresh(width, height);
    fresh.Clear(value);
    ASSERT_EQ(reused.width(), width);
    ASSERT_EQ(reused.height(), height);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) ASSERT_EQ(reused.Pixel(x, y), fresh.Pixel(x, y));
    }
    // Leave something behind for the next round to overwrite.
    if (width > 0 && height > 0) reused.SetPixel(width - 1, height - 1, 0x12345678);
  }
}

TEST(BitmapTest, DrawOverGivesBlendOverOfEveryPixel) {
  Random random(20);
  for (int round = 0; round < 300; ++round) {
    // Sources with transparent, partly and fully opaque pixels, drawn over
    // pictures that are transparent (a fresh canvas) or partly drawn on, at
    // offsets that clip on every side.
    ArgbBitmap source(Uniform(random, 0, 40), Uniform(random, 0, 6));
    for (int y = 0; y < source.height(); ++y) {
      for (int x = 0; x < source.width(); ++x) {
        const int kind = Uniform(random, 0, 3);
        const Argb alpha = kind == 0 ? 0 : kind == 1 ? 255 : Uniform(random, 1, 254);
        source.SetPixel(x, y, alpha << 24 | (static_cast<Argb>(random()) & 0xFFFFFF));
      }
    }
    ArgbBitmap canvas(Uniform(random, 0, 50), Uniform(random, 0, 8));
    if (round % 2 == 1) {
      for (int k = 0; k < 20 && canvas.width() > 0 && canvas.height() > 0; ++k) {
        canvas.SetPixel(Uniform(random, 0, canvas.width() - 1),
                        Uniform(random, 0, canvas.height() - 1), static_cast<Argb>(random()));
      }
    }
    const int x = Uniform(random, -45, 55);
    const int y = Uniform(random, -7, 9);
    ArgbBitmap expected = canvas;
    for (int sy = 0; sy < source.height(); ++sy) {
      for (int sx = 0; sx < source.width(); ++sx) {
        const int cx = x + sx;
        const int cy = y + sy;
        if (cx < 0 || cy < 0 || cx >= canvas.width() || cy >= canvas.height()) continue;
        expected.SetPixel(cx, cy, BlendOver(source.Pixel(sx, sy), expected.Pixel(cx, cy)));
      }
    }
    canvas.DrawOver(source, x, y);
    for (int cy = 0; cy < canvas.height(); ++cy) {
      for (int cx = 0; cx < canvas.width(); ++cx) {
        ASSERT_EQ(canvas.Pixel(cx, cy), expected.Pixel(cx, cy)) << "round " << round;
      }
    }
  }
}

// Text-like pictures: grey or coloured glyph pixels at anti-aliased alphas
// over transparent pixels whose colour bytes differ (white, black, red), so
// that grey text meets sharp copies of transparent pixels of other colours.
ArgbBitmap TextLikePicture(Random& random, int width, int height, Argb ink, bool mixedBackground) {
  ArgbBitmap picture(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int roll = Uniform(random, 0, 99);
      Argb background = 0x00FFFFFF;
      if (mixedBackground) background = roll % 3 == 0 ? 0x00FF0000 : roll % 3 == 1 ? 0 : 0x00FFFFFF;
      Argb value = background;
      if (roll < 15) {
        value = ink | 0xFF000000;
      } else if (roll < 25) {
        value = (ink & 0x00FFFFFF) | Argb(Uniform(random, 1, 254)) << 24;
      }
      picture.SetPixel(x, y, value);
    }
  }
  return picture;
}

TEST(ShadowTest, ReusedScratchGivesThePlainBytesInAnyOrderOfSizes) {
  for (InstructionSet set : SupportedSets()) {
    Random random(17);
    ShadowScratch scratch;
    scratch.blur.instructionSet = set;
    const Argb inks[] = {0xFFFFFF, 0x808080, 0x00FFFF, 0x80FF80, 0x0000FF, 0x000000, 0xE1E1E1};
    for (int round = 0; round < 60; ++round) {
      // Sizes up and down, so that planes and rows shrink and grow.
      const int width = round % 2 == 0 ? Uniform(random, 60, 200) : Uniform(random, 1, 30);
      const int height = round % 3 == 0 ? Uniform(random, 30, 70) : Uniform(random, 1, 20);
      const Argb ink = inks[round % 7];
      ArgbBitmap fast = TextLikePicture(random, width, height, ink, round % 4 == 1);
      ArgbBitmap plain = fast;
      ApplyShadow(fast, scratch);
      ApplyShadowReference(plain);
      ASSERT_TRUE(SamePixels(fast, plain)) << width << "x" << height << " ink " << std::hex << ink
                                           << " set " << static_cast<int>(set);
    }
  }
}

std::vector<std::uint8_t> PictureBytes(const RgbBitmap& picture) {
  if (picture.height() == 0) return {};
  return std::vector<std::uint8_t>(picture.Row(0),
                                   picture.Row(0) + picture.stride() * picture.height());
}

TEST(BlurTest, UniformAndNearlyUniformAreasGiveThePlainBytes) {
  // Uniform areas give means that are whole numbers in real arithmetic,
  // which the estimate cannot decide and the exact path must; windows of 255
  // are decided by their own rule. Every value, in pictures large enough for
  // windows away from the edges, and the same with a few other values.
  for (InstructionSet set : SupportedSets()) {
    Random random(18);
    BlurScratch scratch;
    scratch.instructionSet = set;
    for (int v = 0; v < 256; ++v) {
      RgbBitmap plain(Uniform(random, 14, 60), Uniform(random, 14, 30));
      plain.Clear(MakeArgb(255, v, 255 - v, v == 255 ? 255 : v / 2));
      if (v % 3 == 0) {
        for (int k = 0; k < 4; ++k) {
          std::uint8_t* p = plain.Row(Uniform(random, 0, plain.height() - 1)) +
                            3 * Uniform(random, 0, plain.width() - 1);
          p[Uniform(random, 0, 2)] = static_cast<std::uint8_t>(Uniform(random, 0, 255));
        }
      }
      RgbBitmap fast = plain;
      BlurRgbReference(plain);
      BlurRgb(fast, scratch);
      ASSERT_EQ(PictureBytes(fast), PictureBytes(plain))
          << "value " << v << " set " << static_cast<int>(set);
    }
    // Only 0 and 255, as white text on black gives.
    for (int round = 0; round < 40; ++round) {
      RgbBitmap plain(Uniform(random, 1, 90), Uniform(random, 1, 40));
      const int share = Uniform(random, 0, 100);
      for (int y = 0; y < plain.height(); ++y) {
        for (int x = 0; x < plain.width(); ++x) {
          const std::uint8_t v = Uniform(random, 0, 99) < share ? 255 : 0;
          std::memset(plain.Row(y) + 3 * x, v, 3);
        }
      }
      RgbBitmap fast = plain;
      BlurRgbReference(plain);
      BlurRgb(fast, scratch);
      ASSERT_EQ(PictureBytes(fast), PictureBytes(plain)) << "round " << round;
    }
  }
}

TEST(TextFaceTest, DrawingOverAnyPictureBlendsEachGlyphPixel) {
  std::string error;
  const std::unique_ptr<TextFace> face = TextFace::OpenSubtitleFont(&error);
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
