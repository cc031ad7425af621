// The subtitle font as installed by tools/setup.sh: DejaVu Sans (the generic
// sans-serif family, with Hebrew and Arabic), IPAGothic for Japanese, Loma for
// Thai, and no font for Ol Chiki or Tangut.
#include "platform/text_face.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "platform/font_finder.h"

namespace kelpie {
namespace {

class TextFaceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(face_, nullptr) << error_; }

  // Draws `text` into a transparent bitmap of its truncated box.
  ArgbBitmap DrawBox(const std::string& text, Argb colour) {
    const TextBox box = face_->Measure(text);
    ArgbBitmap bitmap(static_cast<int>(box.width), static_cast<int>(box.height));
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

  std::string error_;  // why the font did not open
  std::unique_ptr<TextFace> face_ = TextFace::OpenSubtitleFont(error_);
};

// FNV-1a of the picture's size and pixel bytes.
std::uint64_t Fingerprint(const ArgbBitmap& b) {
  std::vector<std::uint32_t> words = {static_cast<std::uint32_t>(b.width()),
                                      static_cast<std::uint32_t>(b.height())};
  for (int y = 0; y < b.height(); ++y)
    for (int x = 0; x < b.width(); ++x) words.push_back(b.Pixel(x, y));
  std::uint64_t h = 14695981039346656037u;
  for (std::uint32_t v : words)
    for (int k = 0; k < 4; ++k) h = (h ^ ((v >> (8 * k)) & 0xFF)) * 1099511628211u;
  return h;
}

// Lines without right-to-left text are drawn exactly as before bidirectional
// layout came in: white text is pinned, other colours follow from it.
TEST_F(TextFaceTest, LeftToRightLinesKeepTheirSizeAndPixelsInAnyColour) {
  // 48 pixels to the em and margins of 8 pixels: full-width characters from
  // the fallback font advance one em each, and the line keeps the subtitle
  // font's spacing. Trailing spaces are not counted (the reader's " \n"
  // leaves one at the end of each line but the last). No visible glyph: 0 x 0.
  const TextBox hello = face_->Measure("Hello");
  const TextBox japanese = face_->Measure("今日は天気がいいですね。");
  EXPECT_EQ(std::pair(japanese.width, japanese.height), std::pair(12 * 48 + 16.0f, hello.height));
  EXPECT_EQ(face_->Measure("Hello \nHi").width, hello.width);
  for (const char* empty : {"", " \n ", "\t", "\r"}) EXPECT_EQ(face_->Measure(empty).width, 0);
  // Layouts kept from measuring, with others measured in between, draw the
  // same pixels (the first two pictures below come from kept layouts).
  face_->KeepLayout("Hello, world");
  face_->KeepLayout("Wg潮");
  face_->Measure("Hello");
  const TextBox helloWorld = face_->Measure("Hello, world");
  EXPECT_EQ(Fingerprint(DrawBox("Hello, world", 0xFFFFFFFF)), 0xe941895d9827746du);
  const ArgbBitmap coverage = DrawBox("Wg潮", 0xFFFFFFFF);
  EXPECT_EQ(Fingerprint(coverage), 0xeb178d11d46c31c5u);
  // So does a text prepared for drawing before the face rendered hundreds of
  // new glyphs (U+4E00 on, three UTF-8 bytes each) and drawn after.
  const TextDrawing later = face_->Prepare("Hello, world", 0xFFFFFFFF, 0, 0);
  std::string ideographs;
  for (char32_t c = 0x4E00; c < 0x4E00 + 400; ++c) {
    ideographs += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
                   static_cast<char>(0x80 | (c & 0x3F))};
  }
  DrawBox(ideographs, 0xFFFFFFFF);
  ArgbBitmap drawnLater(static_cast<int>(helloWorld.width), static_cast<int>(helloWorld.height));
  EXPECT_TRUE(later.DrawOn(drawnLater));
  EXPECT_EQ(Fingerprint(drawnLater), 0xe941895d9827746du);
  // Drawing tells whether every pixel went over a transparent one.
  ArgbBitmap twice(coverage.width(), coverage.height());
  EXPECT_TRUE(face_->DrawAt("Hi", 0x80FF0000, twice, 0, 0));
  EXPECT_FALSE(face_->DrawAt("Hi", 0x80FF0000, twice, 0, 0));
  // Drawn over any picture, transparent white (the single-event clear) among
  // its pixels, each pixel is BlendOver of the alpha (c * a + 127) / 255 from
  // the coverage c (the alpha of white) and the colour's alpha a, also with
  // another text measured in between.
  std::mt19937 random(21);
  for (const Argb colour : {0x80FF0000u, 0x0A00FFFFu}) {
    ArgbBitmap over(coverage.width(), coverage.height());
    for (int y = 0; y < over.height(); ++y)
      for (int x = 0; x < over.width(); ++x)
        over.SetPixel(x, y, random() % 3 ? random() : 0xFFFFFF);
    const ArgbBitmap under = over;
    face_->Measure("something else entirely");
    face_->Draw("Wg潮", colour, over);
    for (int y = 0; y < over.height(); ++y) {
      for (int x = 0; x < over.width(); ++x) {
        const Argb alpha = (AlphaOf(coverage.Pixel(x, y)) * AlphaOf(colour) + 127) / 255;
        ASSERT_EQ(over.Pixel(x, y),
                  BlendOver(alpha << 24 | (colour & 0xFFFFFF), under.Pixel(x, y)));
      }
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
  // glyphs in the same order (after "Arabic ", 7 glyphs from the left, 7
  // characters typed before it; after "שלום ", at the left end, 5 before
  // it), and the initial meem is not the isolated one.
  const auto alone = face_->Glyphs("مرحبا").at(0);
  const std::tuple<const char*, int, int> mixes[] = {{"Arabic مرحبا", 7, 7}, {"שלום مرحبا", 0, 5}};
  for (const auto& [text, at, before] : mixes) {
    const auto mixed = face_->Glyphs(text).at(0);
    ASSERT_EQ(mixed.size(), before + alone.size()) << text;
    for (std::size_t i = 0; i < alone.size(); ++i)
      EXPECT_EQ(std::pair(mixed[at + i].glyph, mixed[at + i].cluster - before),
                std::pair(alone[i].glyph, alone[i].cluster));
  }
  EXPECT_EQ(alone.back().cluster, 0);
  EXPECT_NE(alone.back().glyph, face_->Glyphs("م").at(0).at(0).glyph);
}

TEST_F(TextFaceTest, OverhangHoldsEveryDrawnPixel) {
  // Which sides (above, below, left, right) each text reaches beyond: a
  // stacked capital and Thai tone marks over vowels rise above the line
  // spacing (on a second line they stay inside the box), a Devanagari vowel
  // sign hangs below it, and a double breve (U+0361) with nothing to join
  // sticks out past the 8-pixel margin. The overhang is exactly how far the
  // ink reaches, drawn far inside a large target.
  const std::pair<const char*, std::vector<bool>> cases[] = {
      {"Hello", {0, 0, 0, 0}},   {"Hello\nẤ", {0, 0, 0, 0}}, {"Ấ Ở", {1, 0, 0, 0}},
      {"ที่นี่", {1, 0, 0, 0}},      {"दु", {0, 1, 0, 0}},        {"\u0361ab", {0, 0, 1, 0}},
      {"ab\u0361", {0, 0, 0, 1}}};
  for (const auto& [text, sides] : cases) {
    const TextBox box = face_->Measure(text);
    ArgbBitmap all(static_cast<int>(box.width) + 200, static_cast<int>(box.height) + 200);
    face_->DrawAt(text, 0xFFFFFFFF, all, 100, 100);
    // How far the ink reaches past each side of the box: above, below, left, right.
    std::vector<int> reach(4);
    for (int y = 0; y < all.height(); ++y)
      for (int x = 0; x < all.width(); ++x) {
        const int ink[4] = {100 - y, y + 101 - all.height(), 100 - x, x + 101 - all.width()};
        for (int k = 0; k < 4; ++k) reach[k] = std::max(reach[k], all.Pixel(x, y) ? ink[k] : 0);
      }
    const TextOverhang over = face_->Overhang(text);
    EXPECT_EQ((std::vector<int>{over.above, over.below, over.left, over.right}), reach) << text;
    EXPECT_EQ((std::vector<bool>(reach.begin(), reach.end())), sides) << text;
  }
  // A small target with the text partly outside, left, right and below,
  // gets the part that lands on it.
  const std::string text = "Wide text\n潮が満ちてきた。";
  const ArgbBitmap full = DrawBox(text, 0xFFFFFFFF);
  ArgbBitmap shifted(40, 30);
  face_->DrawAt(text, 0xFFFFFFFF, shifted, -30, 20);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      EXPECT_EQ(shifted.Pixel(x, y), y < 20 ? 0u : full.Pixel(x + 30, y - 20)) << x << "," << y;
}

// Ol Chiki and Tangut have no installed font; fontconfig's nearest match is
// never taken for a character that is not there.
TEST_F(TextFaceTest, MissingCharactersAreToldOncePerScript) {
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

// The finder asks fontconfig once for all characters that the same fonts
// have; each answer is what a finder that never saw another character gives.
TEST(FontFinderTest, CharactersOfTheSameFontsShareFontconfigsAnswer) {
  FontFinder finder;
  for (char32_t c : {U'日', U'é', U'本', U'語', U'한', U'ก', U'ข', U'א', U'ب', U'ᱚ', U'ᱛ', U'A'}) {
    const std::optional<FontFile> shared = finder.FindFontWithChar(c);
    const std::optional<FontFile> own = FontFinder().FindFontWithChar(c);
    ASSERT_EQ(shared.has_value(), own.has_value()) << static_cast<unsigned>(c);
    if (own.has_value()) {
      EXPECT_EQ(std::tie(shared->path, shared->index), std::tie(own->path, own->index))
          << static_cast<unsigned>(c);
    }
  }
}

}  // namespace
}  // namespace kelpie
