// The subtitle font as installed on the build machine: DejaVu Sans (the
// generic sans-serif family) with IPAGothic as fallback for Japanese.
#include "platform/text_face.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/font_finder.h"

namespace kelpie {
namespace {

class TextFaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    face_ = TextFace::OpenSubtitleFont(&error);
    ASSERT_NE(face_, nullptr) << error;
  }

  // Draws `text` into a bitmap of its truncated box, pre-filled with `fill`.
  ArgbBitmap DrawBox(const std::string& text, Argb colour, Argb fill = 0) {
    const TextBox box = face_->Measure(text);
    ArgbBitmap bitmap(static_cast<int>(box.width), static_cast<int>(box.height));
    bitmap.Clear(fill);
    face_->Draw(text, colour, bitmap);
    return bitmap;
  }

  std::unique_ptr<TextFace> face_;
};

// Ink extent of a bitmap: pixels that differ from `background`.
struct Ink {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // right/bottom inclusive
  int count = 0;
};
Ink FindInk(const ArgbBitmap& b, Argb background = 0, int y0 = 0, int y1 = -1) {
  Ink ink;
  if (y1 < 0) y1 = b.height();
  for (int y = y0; y < y1; ++y) {
    for (int x = 0; x < b.width(); ++x) {
      if (b.Pixel(x, y) == background) continue;
      ++ink.count;
      ink.left = std::min(ink.left, x);
      ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y);
      ink.bottom = std::max(ink.bottom, y);
    }
  }
  return ink;
}

TEST(FontFinderTest, MissingFamilyIsNotSubstituted) {
  FontFinder finder;
  ASSERT_TRUE(finder.ok());
  EXPECT_FALSE(finder.FindFamily("No Such Family Kelpie").has_value());
  const auto sans = finder.FindGeneric("sans-serif");
  ASSERT_TRUE(sans.has_value());
  EXPECT_TRUE(finder.FindFamily(sans->family.c_str()).has_value());
  const auto japanese = finder.FindFontWithChar(U'潮');
  ASSERT_TRUE(japanese.has_value());
  EXPECT_FALSE(finder.FindFontWithChar(0x10FFFD).has_value());  // private use, no font
}

TEST_F(TextFaceTest, MeasuresLinesMarginsAndTrailingSpaces) {
  const TextBox hello = face_->Measure("Hello");
  // 48 pixels to the em: a line spacing a little above the em, and "Hello"
  // wider than the two margins of 8 pixels.
  EXPECT_GE(hello.height, 48.0f);
  EXPECT_LE(hello.height, 72.0f);
  EXPECT_GT(hello.width, 16.0f + 4 * 24.0f);
  EXPECT_LT(hello.width, 16.0f + 5 * 48.0f);
  // 26.6 values: every measure is a multiple of 1/64.
  EXPECT_EQ(hello.width * 64, std::trunc(hello.width * 64));

  // Two lines: twice the height, the width of the wider line.
  const TextBox two = face_->Measure("Hi\nHello");
  EXPECT_EQ(two.height, 2 * hello.height);
  EXPECT_EQ(two.width, hello.width);
  // A line feed at the end does not start a line; one before it does.
  const TextBox trailing = face_->Measure("Hello\n");
  EXPECT_EQ(trailing.width, hello.width);
  EXPECT_EQ(trailing.height, hello.height);
  EXPECT_EQ(face_->Measure("Hello\n\n").height, 2 * hello.height);
  EXPECT_EQ(face_->Measure("\nHello").height, 2 * hello.height);
  // Trailing spaces are not counted, leading ones are; the reader's " \n"
  // line break leaves a space at the end of each line but the last.
  EXPECT_EQ(face_->Measure("Hello   ").width, hello.width);
  EXPECT_GT(face_->Measure("  Hello").width, hello.width);
  EXPECT_EQ(face_->Measure("Hello \nHi").width, hello.width);
  // No visible glyph: 0 x 0.
  for (const char* empty : {"", " ", "   ", "\n", " \n ", "\t", "\r"}) {
    const TextBox box = face_->Measure(empty);
    EXPECT_EQ(box.width, 0.0f) << '"' << empty << '"';
    EXPECT_EQ(box.height, 0.0f) << '"' << empty << '"';
  }
  // A control character takes no room.
  EXPECT_EQ(face_->Measure("Hel\rlo").width, hello.width);
}

TEST_F(TextFaceTest, MeasuresJapaneseInFallbackFont) {
  const TextBox hello = face_->Measure("Hello");
  // The sans-serif font has no kanji or kana; every one of these twelve
  // full-width characters comes from the fallback font and advances one em.
  const TextBox line = face_->Measure("今日は天気がいいですね。");
  EXPECT_EQ(line.width, 12 * 48.0f + 16.0f);
  EXPECT_EQ(line.height, hello.height);  // the subtitle font's line spacing
  // One missing character alone still has width and draws pixels.
  const TextBox one = face_->Measure("潮");
  EXPECT_EQ(one.width, 48.0f + 16.0f);
  const ArgbBitmap drawn = DrawBox("潮", 0xFFFFFFFF);
  const Ink ink = FindInk(drawn);
  EXPECT_GT(ink.count, 100);
  // Mixed runs: the widths add up.
  EXPECT_EQ(face_->Measure("Hello潮").width, hello.width + 48.0f);
  // Malformed UTF-8 is drawn as replacement characters, not dropped.
  EXPECT_GT(face_->Measure("\xFF").width, 16.0f);
}

TEST_F(TextFaceTest, DrawsCoverageTimesColourOverTransparentAndOpaque) {
  const std::string text = "Wg潮";
  // Opaque white over transparent black: the alpha is the coverage, the
  // colour the brush's, wherever there is any coverage.
  const ArgbBitmap coverage = DrawBox(text, 0xFFFFFFFF);
  int full = 0, partial = 0;
  for (int y = 0; y < coverage.height(); ++y) {
    for (int x = 0; x < coverage.width(); ++x) {
      const Argb p = coverage.Pixel(x, y);
      if (p == 0) continue;
      EXPECT_EQ(p & 0x00FFFFFF, 0x00FFFFFFu);
      if (AlphaOf(p) == 255)
        ++full;
      else
        ++partial;
    }
  }
  EXPECT_GT(full, 200);
  EXPECT_GT(partial, 50);  // anti-aliased edges

  // Over transparent white (the single-event clear) nothing changes.
  const ArgbBitmap onWhite = DrawBox(text, 0xFFFFFFFF, 0x00FFFFFF);
  for (int y = 0; y < coverage.height(); ++y) {
    for (int x = 0; x < coverage.width(); ++x) {
      const Argb p = coverage.Pixel(x, y);
      EXPECT_EQ(onWhite.Pixel(x, y), p == 0 ? 0x00FFFFFFu : p);
    }
  }

  // Half-transparent red over transparent and over opaque blue: alpha
  // (c * 0x80 + 127) / 255 from the coverage c found above, then BlendOver.
  const Argb red = 0x80FF0000;
  const ArgbBitmap overClear = DrawBox(text, red);
  const ArgbBitmap overBlue = DrawBox(text, red, 0xFF0000FF);
  for (int y = 0; y < coverage.height(); ++y) {
    for (int x = 0; x < coverage.width(); ++x) {
      const unsigned c = AlphaOf(coverage.Pixel(x, y));
      const unsigned a = (c * 0x80 + 127) / 255;
      const Argb source = (Argb{a} << 24) | 0xFF0000;
      ASSERT_EQ(overClear.Pixel(x, y), a == 0 ? 0u : source) << x << "," << y;
      ASSERT_EQ(overBlue.Pixel(x, y), BlendOver(source, 0xFF0000FF)) << x << "," << y;
    }
  }
}

TEST_F(TextFaceTest, LinesAreCentredAndInsideTheBox) {
  const TextBox box = face_->Measure("Hi\nHello, world");
  const int lineHeight = static_cast<int>(box.height) / 2;
  const ArgbBitmap drawn = DrawBox("Hi\nHello, world", 0xFFFFFFFF);
  const Ink first = FindInk(drawn, 0, 0, lineHeight);
  const Ink second = FindInk(drawn, 0, lineHeight, drawn.height());
  ASSERT_GT(first.count, 0);
  ASSERT_GT(second.count, 0);
  // The first line's ink starts below the top edge (its ascender room).
  EXPECT_GT(first.top, 0);
  // Each line's ink is centred in the box within a few pixels (side bearings).
  const double centre = box.width / 2;
  EXPECT_NEAR((first.left + first.right + 1) / 2.0, centre, 3.0);
  EXPECT_NEAR((second.left + second.right + 1) / 2.0, centre, 3.0);
  // The widest line spans the box less its 8-pixel margins (give or take the
  // bearings of 'H' and 'd').
  EXPECT_NEAR(second.left, 8, 4);
  EXPECT_NEAR(drawn.width() - 1 - second.right, 8, 4);
  // Two identical lines are drawn identically, one line spacing apart.
  const ArgbBitmap twice = DrawBox("Hello\nHello", 0xFFFFFFFF);
  for (int y = 0; y < lineHeight; ++y)
    for (int x = 0; x < twice.width(); ++x)
      ASSERT_EQ(twice.Pixel(x, y), twice.Pixel(x, y + lineHeight));
}

TEST_F(TextFaceTest, DrawingIsClippedToTheTarget) {
  const std::string text = "Wide text that does not fit\n潮が満ちてきた。";
  ArgbBitmap small(7, 5);
  face_->Draw(text, 0xFFFFFFFF, small);
  ArgbBitmap none;
  face_->Draw(text, 0xFFFFFFFF, none);
  // The part that lands in the small target equals the same corner of a full draw.
  const ArgbBitmap full = DrawBox(text, 0xFFFFFFFF);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(small.Pixel(x, y), full.Pixel(x, y));
  // Nothing is drawn for a text without a visible glyph.
  ArgbBitmap target(20, 20);
  face_->Draw("  \n ", 0xFFFFFFFF, target);
  EXPECT_EQ(FindInk(target).count, 0);
}

}  // namespace
}  // namespace kelpie
