// Measuring (with wrapping), line pictures and their composition, in the
// subtitle face where pixels matter and with boxes given where only geometry
// does.
#include "render/compositor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ranges>
#include <string>
#include <tuple>
#include <vector>

#include "render/text_wrap.h"

namespace kelpie {
namespace {

TEST(TextWrapTest, FewestLinesThatFitAtBreakOpportunities) {
  std::string error;
  const std::unique_ptr<TextFace> face = TextFace::OpenSubtitleFont(error);
  if (face == nullptr) GTEST_SKIP() << error;
  const auto width = [&](const std::string& s) {
    return static_cast<std::int64_t>(std::trunc(face->Measure(s).width));
  };
  // The text, what a break replaced, and the bytes of the next line's first
  // piece (0 for a word).
  const std::tuple<std::string, std::string, std::size_t> cases[] = {
      {"She always said that she felt as if she were missing something important", " ", 0},
      {"今日は天気がいいですね。東京駅で会いましょう。どうしてそんなことを言うのですか", "", 3},
      // No opportunity in a long run of letters: it breaks between letters.
      {"Pneumonoultramicroscopicsilicovolcanoconiosisandthensomemoreletters", "", 1},
  };
  for (const auto& [text, joiner, piece] : cases) {
    const std::string wrapped = WrapText(text, *face, 640);
    std::vector<std::string> lines;
    for (const auto line : std::views::split(wrapped, '\n'))
      lines.emplace_back(line.begin(), line.end());
    ASSERT_GT(lines.size(), 1u) << text;
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      // Each line fits, without the space at its break.
      EXPECT_TRUE(width(lines[i]) <= 640 && !lines[i].ends_with(" ")) << lines[i];
      joined += (i > 0 ? joiner : "") + lines[i];
      // As few lines as fit: the next line's first piece would not fit on
      // this one.
      const std::string next = i + 1 < lines.size() ? lines[i + 1] : "";
      const std::string first = next.substr(0, piece > 0 ? piece : next.find(' '));
      EXPECT_TRUE(next.empty() || width(lines[i] + joiner + first) > 640) << lines[i];
    }
    EXPECT_EQ(joined, text);
  }
  // A text that fits is left exactly as it is, line feeds and spaces too.
  EXPECT_EQ(WrapText("Short \nlines", *face, 640), "Short \nlines");
}

TEST(CompositorTest, MarksAboveTheLineGrowTheBox) {
  std::string error;
  const std::unique_ptr<TextFace> face = TextFace::OpenSubtitleFont(error);
  if (face == nullptr) GTEST_SKIP() << error;
  SubtitleEvent plain;
  std::tie(plain.x, plain.y, plain.text) = std::tuple(700, 1000, "AO");
  SubtitleEvent marked = plain;
  marked.text = "ẤỞ";
  const MeasuredLine a = MeasureLine(plain, *face);
  const MeasuredLine b = MeasureLine(marked, *face);
  // The measured box is centred on x (its width halved with truncation) with
  // its bottom at y; the grown one sticks out above it by exactly the rows it
  // adds.
  EXPECT_EQ(std::tuple(a.left, a.top, a.textY), std::tuple(700 - a.width / 2, 1000 - a.height, 0));
  EXPECT_EQ(std::tuple(b.top + b.textY, b.height - b.textY, b.textY > 0),
            std::tuple(1000 - a.height, a.height, true));
  // Every drawn pixel of the marks is in the picture: its top row has ink.
  Placement box{0, 0, static_cast<std::int32_t>(b.width), static_cast<std::int32_t>(b.height)};
  ShadowScratch scratch;
  LinePicture line;
  LayOutLineText(marked, b, box, *face, line);
  FinishLine(line, scratch);
  unsigned ink = 0;
  for (int x = 0; x < line.Picture().width(); ++x) ink += AlphaOf(line.Picture().Pixel(x, 0));
  EXPECT_GT(ink, 0u);
}

TEST(CompositorTest, TopAndBottomSplit) {
  const Placement sign{100, 40, 300, 56}, dialogue{700, 2000, 900, 112}, beside{500, 60, 100, 56};
  const std::vector<Placement> three = {dialogue, sign, beside}, two = {dialogue, sign};
  EXPECT_EQ(SplitTopAndBottom(three), (std::vector<int>{1, 0, 0}));
  // Boxes that share rows cannot be split.
  EXPECT_TRUE(SplitTopAndBottom(std::vector<Placement>{sign, beside}).empty());
  const Placement s = SpanOf(two);
  EXPECT_EQ(std::tuple(s.left, s.top, s.width, s.height), std::tuple(100, 40, 1500, 2072));
}

TEST(CompositorTest, ComposedByHand) {
  // Box a (3 x 2 at 0,0) and box b (2 x 2 at 2,1) share the canvas pixel
  // (2, 1); row 3 lies under no box. Pixels with alpha 0 come out 0
  // whatever their colour; b is blended over a where both are.
  ArgbBitmap a(3, 2), b(2, 2);
  a.Clear(0x00FFFFFF);
  a.SetPixel(1, 0, 0xFF102030);
  a.SetPixel(2, 1, 0xFF0000FF);
  b.Clear(0x00ABCDEF);
  b.SetPixel(0, 0, 0x80FF0000);
  b.SetPixel(1, 1, 0xC0FFFFFF);
  const PlacedPicture lines[] = {{&a, {10, 20, 3, 2}}, {&b, {12, 21, 2, 2}}};
  ArgbBitmap canvas(1, 1);
  canvas.Clear(0xDEADBEEF);  // what an earlier picture left
  std::vector<std::uint8_t> rowUsed;
  ComposePicture(lines, Placement{10, 20, 4, 4}, canvas, rowUsed);
  EXPECT_EQ(rowUsed[3], 0);
  ClearUnusedRows(rowUsed, canvas);
  const Argb want[4][4] = {{0, 0xFF102030, 0, 0},
                           {0, 0, BlendOver(0x80FF0000, 0xFF0000FF), 0},
                           {0, 0, 0, 0xC0FFFFFF},
                           {0, 0, 0, 0}};
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(canvas.Pixel(x, y), want[y][x]) << x << "," << y;
  }
}

}  // namespace
}  // namespace kelpie
