// Measuring (with wrapping), line pictures and their composition, in the
// subtitle face where pixels matter and with boxes given where only geometry
// does.
#include "render/compositor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "render/text_wrap.h"

namespace kelpie {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(TextWrapTest, FewestLinesThatFitAtBreakOpportunities) {
  std::string error;
  const std::unique_ptr<TextFace> face = TextFace::OpenSubtitleFont(error);
  if (face == nullptr) GTEST_SKIP() << error;
  const auto width = [&](const std::string& s) {
    return static_cast<std::int64_t>(std::trunc(face->Measure(s).width));
  };
  struct Case {
    std::string text;
    std::string joiner;  // what a break replaced
    std::size_t piece;   // bytes of the next line's first piece, 0 for a word
  };
  const Case cases[] = {
      {"She always said that she felt as if she were missing something important", " ", 0},
      {"今日は天気がいいですね。東京駅で会いましょう。どうしてそんなことを言うのですか", "", 3},
      // No opportunity in a long run of letters: it breaks between letters.
      {"Pneumonoultramicroscopicsilicovolcanoconiosisandthensomemoreletters", "", 1},
  };
  for (const Case& c : cases) {
    const std::string wrapped = WrapText(c.text, *face, 640);
    const std::vector<std::string> lines = Lines(wrapped);
    ASSERT_GT(lines.size(), 1u) << c.text;
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_LE(width(lines[i]), 640) << lines[i];
      EXPECT_FALSE(lines[i].ends_with(" ")) << "a space at a break is dropped: " << lines[i];
      joined += (i > 0 ? c.joiner : "") + lines[i];
      // As few lines as fit: the next line's first piece would not fit on
      // this one.
      if (i + 1 < lines.size()) {
        const std::string& next = lines[i + 1];
        const std::string piece = next.substr(0, c.piece > 0 ? c.piece : next.find(' '));
        EXPECT_GT(width(lines[i] + c.joiner + piece), 640) << lines[i];
      }
    }
    EXPECT_EQ(joined, c.text);
  }
  // A text that fits is left exactly as it is, line feeds and spaces too.
  EXPECT_EQ(WrapText("Short \nlines", *face, 640), "Short \nlines");
}

TEST(CompositorTest, MarksAboveTheLineGrowTheBox) {
  std::string error;
  const std::unique_ptr<TextFace> face = TextFace::OpenSubtitleFont(error);
  if (face == nullptr) GTEST_SKIP() << error;
  SubtitleEvent plain;
  plain.x = 700;
  plain.y = 1000;
  plain.text = "AO";
  SubtitleEvent marked = plain;
  marked.text = "ẤỞ";
  const MeasuredLine a = MeasureLine(plain, *face);
  const MeasuredLine b = MeasureLine(marked, *face);
  // The measured box stays where the anchor puts it; the grown one sticks
  // out above it by exactly the rows it adds.
  EXPECT_EQ(a.textY, 0);
  EXPECT_GT(b.textY, 0);
  EXPECT_EQ(b.top + b.textY + (a.height), 1000);
  EXPECT_EQ(b.height, a.height + b.textY);
  // Every drawn pixel of the marks is in the picture: its top row has ink.
  Placement box{0, 0, static_cast<std::int32_t>(b.width), static_cast<std::int32_t>(b.height)};
  ShadowScratch scratch;
  LinePicture line;
  DrawLineText(marked, b, box, *face, line);
  FinishLine(line, scratch);
  const ArgbBitmap& picture = line.Picture();
  bool ink = false;
  for (int x = 0; x < picture.width(); ++x) ink |= AlphaOf(picture.Pixel(x, 0)) > 0;
  EXPECT_TRUE(ink);
}

TEST(CompositorTest, TopAndBottomSplit) {
  const Placement sign{100, 40, 300, 56};
  const Placement dialogue{700, 2000, 900, 112};
  const Placement beside{500, 60, 100, 56};
  EXPECT_EQ(SplitTopAndBottom(std::vector<Placement>{dialogue, sign, beside}),
            (std::vector<int>{1, 0, 0}));
  // Boxes that share rows cannot be split.
  EXPECT_TRUE(SplitTopAndBottom(std::vector<Placement>{sign, beside}).empty());
  const Placement span = SpanOf(std::vector<Placement>{dialogue, sign});
  EXPECT_EQ(span.left, 100);
  EXPECT_EQ(span.top, 40);
  EXPECT_EQ(span.width, 1500);
  EXPECT_EQ(span.height, 2072);
}

}  // namespace
}  // namespace kelpie
