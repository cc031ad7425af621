// The subtitle font as installed by tools/setup.sh: DejaVu Sans (the generic
// sans-serif family, with Hebrew and Arabic), IPAGothic for Japanese, Loma for
// Thai, and no font for Ol Chiki or Tangut.
#include "platform/text_face.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

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

  // The characters each glyph of the one-line `text` comes from, left to right.
  std::vector<int> Clusters(const std::string& text) {
    std::vector<int> clusters;
    const auto lines = face_->Glyphs(text);
    for (const auto& glyph : lines.at(0)) clusters.push_back(glyph.cluster);
    return clusters;
  }

  std::unique_ptr<TextFace> face_;
};

// FNV-1a of the picture's size and pixel bytes.
std::uint64_t Fingerprint(const ArgbBitmap& b) {
  std::uint64_t h = 14695981039346656037u;
  auto add = [&h](std::uint32_t v) {
    for (int k = 0; k < 4; ++k) h = (h ^ ((v >> (8 * k)) & 0xFF)) * 1099511628211u;
  };
  add(static_cast<std::uint32_t>(b.width()));
  add(static_cast<std::uint32_t>(b.height()));
  for (int y = 0; y < b.height(); ++y)
    for (int x = 0; x < b.width(); ++x) add(b.Pixel(x, y));
  return h;
}

int CountInk(const ArgbBitmap& b) {
  int count = 0;
  for (int y = 0; y < b.height(); ++y)
    for (int x = 0; x < b.width(); ++x) count += b.Pixel(x, y) != 0;
  return count;
}

TEST(FontFinderTest, MissingFamilyIsNotSubstituted) {
  FontFinder finder;
  ASSERT_TRUE(finder.ok());
  EXPECT_FALSE(finder.FindFamily("No Such Family Kelpie").has_value());
  const auto sans = finder.FindGeneric("sans-serif");
  ASSERT_TRUE(sans.has_value());
  EXPECT_TRUE(finder.FindFamily(sans->family.c_str()).has_value());
  EXPECT_TRUE(finder.FindFontWithChar(U'潮').has_value());
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
  // Two lines: twice the height, the width of the wider line.
  const TextBox two = face_->Measure("Hi\nHello");
  EXPECT_EQ(two.height, 2 * hello.height);
  EXPECT_EQ(two.width, hello.width);
  // A line feed at the end does not start a line; one before it does.
  EXPECT_EQ(face_->Measure("Hello\n").height, hello.height);
  EXPECT_EQ(face_->Measure("\nHello").height, 2 * hello.height);
  // Trailing spaces are not counted, leading ones are; the reader's " \n"
  // line break leaves a space at the end of each line but the last.
  EXPECT_EQ(face_->Measure("Hello   ").width, hello.width);
  EXPECT_GT(face_->Measure("  Hello").width, hello.width);
  EXPECT_EQ(face_->Measure("Hello \nHi").width, hello.width);
  EXPECT_EQ(face_->Measure("שלום \nHi").width, face_->Measure("שלום").width);
  // No visible glyph: 0 x 0, nothing drawn.
  for (const char* empty : {"", " ", "   ", "\n", " \n ", "\t", "\r"}) {
    const TextBox box = face_->Measure(empty);
    EXPECT_EQ(box.width, 0.0f) << '"' << empty << '"';
    EXPECT_EQ(box.height, 0.0f) << '"' << empty << '"';
  }
  ArgbBitmap target(20, 20);
  face_->Draw("  \n ", 0xFFFFFFFF, target);
  EXPECT_EQ(CountInk(target), 0);
  // A control character takes no room; malformed UTF-8 is drawn as U+FFFD.
  EXPECT_EQ(face_->Measure("Hel\rlo").width, hello.width);
  EXPECT_GT(face_->Measure("\xFF").width, 16.0f);
  // Every one of these twelve full-width characters comes from the fallback
  // font and advances one em; the line keeps the subtitle font's spacing.
  const TextBox japanese = face_->Measure("今日は天気がいいですね。");
  EXPECT_EQ(japanese.width, 12 * 48.0f + 16.0f);
  EXPECT_EQ(japanese.height, hello.height);
  EXPECT_EQ(face_->Measure("Hello潮").width, hello.width + 48.0f);
}

// Lines without right-to-left text are drawn exactly as before bidirectional
// layout came in: white text is pinned, other colours follow from it.
TEST_F(TextFaceTest, LeftToRightLinesKeepTheirPixelsInAnyColour) {
  EXPECT_EQ(Fingerprint(DrawBox("Hello, world", 0xFFFFFFFF)), 0xe941895d9827746du);
  EXPECT_EQ(Fingerprint(DrawBox("Hi\nHello, world", 0xFFFFFFFF)), 0xca0eff348d789e1cu);
  const std::string text = "Wg潮";
  const ArgbBitmap coverage = DrawBox(text, 0xFFFFFFFF);
  EXPECT_EQ(Fingerprint(coverage), 0xeb178d11d46c31c5u);
  // Half-transparent red over transparent white (the single-event clear) and
  // over opaque blue: alpha (c * 0x80 + 127) / 255 from the coverage c (the
  // alpha of white), then BlendOver.
  const Argb red = 0x80FF0000;
  const ArgbBitmap overClear = DrawBox(text, red, 0x00FFFFFF);
  const ArgbBitmap overBlue = DrawBox(text, red, 0xFF0000FF);
  for (int y = 0; y < coverage.height(); ++y) {
    for (int x = 0; x < coverage.width(); ++x) {
      const unsigned c = AlphaOf(coverage.Pixel(x, y));
      const unsigned a = (c * 0x80 + 127) / 255;
      const Argb source = (Argb{a} << 24) | 0xFF0000;
      ASSERT_EQ(overClear.Pixel(x, y), a == 0 ? 0x00FFFFFFu : source) << x << "," << y;
      ASSERT_EQ(overBlue.Pixel(x, y), BlendOver(source, 0xFF0000FF)) << x << "," << y;
    }
  }
}

// Characters are numbered from 0 in typed order; the expected orders are
// those of the bidirectional algorithm worked out by hand.
TEST_F(TextFaceTest, RightToLeftRunsStandInDisplayOrder) {
  // "Hebrew " then a Hebrew run (7 to 15) read from the right.
  EXPECT_EQ(Clusters("Hebrew שלום עולם"),
            (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 15, 14, 13, 12, 11, 10, 9, 8, 7}));
  // A Hebrew line runs right to left, its final "?" at the left end; "12"
  // keeps its own order inside it.
  EXPECT_EQ(Clusters("שלום, מה?"), (std::vector<int>{8, 7, 6, 5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(Clusters("עמוד 12"), (std::vector<int>{5, 6, 4, 3, 2, 1, 0}));
  // A line that starts in Arabic runs right to left: the Latin word stands
  // at the left, in its own order.
  EXPECT_EQ(Clusters("مرحبا Arabic"), (std::vector<int>{6, 7, 8, 9, 10, 11, 5, 4, 3, 2, 1, 0}));
  // Arabic after Latin or Hebrew is shaped as it is alone: the same joined
  // glyphs in the same order (after "Arabic ", 7 glyphs from the left; after
  // "שלום ", at the left end), and the initial meem is not the isolated one.
  struct Mixed {
    const char* text;
    std::size_t at;  // drawing position of the Arabic word's first glyph
    int before;      // characters typed before it
  };
  const auto alone = face_->Glyphs("مرحبا").at(0);
  for (const Mixed m : {Mixed{"Arabic مرحبا", 7, 7}, Mixed{"שלום مرحبا", 0, 5}}) {
    const auto mixed = face_->Glyphs(m.text).at(0);
    ASSERT_EQ(mixed.size(), m.before + alone.size()) << m.text;
    for (std::size_t i = 0; i < alone.size(); ++i) {
      EXPECT_EQ(mixed[m.at + i].glyph, alone[i].glyph) << m.text;
      EXPECT_EQ(mixed[m.at + i].cluster, alone[i].cluster + m.before) << m.text;
    }
  }
  EXPECT_EQ(alone.back().cluster, 0);
  EXPECT_NE(alone.back().glyph, face_->Glyphs("م").at(0).at(0).glyph);
}

TEST_F(TextFaceTest, OverhangHoldsEveryDrawnPixel) {
  // Which sides (above, below, left, right) each text reaches beyond: a
  // stacked capital and Thai tone marks over vowels rise above the line
  // spacing (on a second line they stay inside the box), a Devanagari vowel
  // sign hangs below it, and a double breve (U+0361) with nothing to join
  // sticks out past the 8-pixel margin.
  const struct {
    const char* text;
    bool sides[4];
  } cases[] = {
      {"Hello", {false, false, false, false}},   {"Hello\nẤ", {false, false, false, false}},
      {"Ấ Ở", {true, false, false, false}},      {"ที่นี่", {true, false, false, false}},
      {"दु", {false, true, false, false}},        {"\u0361ab", {false, false, true, false}},
      {"ab\u0361", {false, false, false, true}},
  };
  for (const auto& c : cases) {
    const TextBox box = face_->Measure(c.text);
    const TextOverhang over = face_->Overhang(c.text);
    const int reach[4] = {over.above, over.below, over.left, over.right};
    // Far inside a large target nothing is clipped.
    const int width = static_cast<int>(box.width), height = static_cast<int>(box.height);
    ArgbBitmap all(width + 200, height + 200);
    face_->DrawAt(c.text, 0xFFFFFFFF, all, 100, 100);
    // The picture the overhang asks for holds all of it, and is no larger:
    // exactly the sides that overhang have ink on their edge.
    ArgbBitmap tight(over.left + width + over.right, over.above + height + over.below);
    face_->DrawAt(c.text, 0xFFFFFFFF, tight, over.left, over.above);
    EXPECT_EQ(CountInk(tight), CountInk(all)) << c.text;
    for (int y = 0; y < tight.height(); ++y)
      for (int x = 0; x < tight.width(); ++x)
        ASSERT_EQ(tight.Pixel(x, y), all.Pixel(x + 100 - over.left, y + 100 - over.above));
    int edgeInk[4] = {};
    for (int x = 0; x < tight.width(); ++x) {
      edgeInk[0] += tight.Pixel(x, 0) != 0;
      edgeInk[1] += tight.Pixel(x, tight.height() - 1) != 0;
    }
    for (int y = 0; y < tight.height(); ++y) {
      edgeInk[2] += tight.Pixel(0, y) != 0;
      edgeInk[3] += tight.Pixel(tight.width() - 1, y) != 0;
    }
    for (int side = 0; side < 4; ++side) {
      EXPECT_EQ(reach[side] > 0, c.sides[side]) << c.text << " side " << side;
      if (reach[side] > 0) {
        EXPECT_GT(edgeInk[side], 0) << c.text << " side " << side;
      }
    }
  }
  // A small target or one with the text partly outside gets the part that
  // lands on it; (0, 0) is Draw.
  const std::string text = "Wide text\n潮が満ちてきた。";
  const ArgbBitmap full = DrawBox(text, 0xFFFFFFFF);
  ArgbBitmap corner(7, 5), shifted(40, 30), none;
  face_->DrawAt(text, 0xFFFFFFFF, corner, 0, 0);
  face_->DrawAt(text, 0xFFFFFFFF, shifted, -30, 20);
  face_->Draw(text, 0xFFFFFFFF, none);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(corner.Pixel(x, y), full.Pixel(x, y));
  for (int y = 20; y < 30; ++y)
    for (int x = 0; x < 40; ++x) EXPECT_EQ(shifted.Pixel(x, y), full.Pixel(x + 30, y - 20));
  for (int y = 0; y < 20; ++y) EXPECT_EQ(shifted.Pixel(5, y), 0u);
}

// Ol Chiki and Tangut have no installed font.
TEST_F(TextFaceTest, MissingCharactersAreToldOncePerScript) {
  EXPECT_TRUE(face_->TakeMissingCharacters().empty());
  face_->Measure("ᱚᱛ 𗀀 ᱜ Hello");
  EXPECT_EQ(face_->TakeMissingCharacters(), (std::vector<char32_t>{0x1C5A, 0x17000}));
  EXPECT_TRUE(face_->TakeMissingCharacters().empty());
  face_->Measure("ᱝ 𗀁 Thai ก");  // scripts already told; Thai has a font
  EXPECT_TRUE(face_->TakeMissingCharacters().empty());
  EXPECT_GT(face_->Measure("ᱚ").width, 16.0f);  // drawn as the font's box

  EXPECT_EQ(MissingFontMessage(0x0E01),
            "no installed font has U+0E01 (Thai); drawn as a box; install a font for it, for "
            "instance fonts-thai-tlwg");
  EXPECT_EQ(MissingFontMessage(0x1C5A),
            "no installed font has U+1C5A (Olck); drawn as a box; install a font for it");
}

}  // namespace
}  // namespace kelpie
