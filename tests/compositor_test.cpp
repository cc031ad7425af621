// Picture geometry of event groups, with a fake font whose boxes are given,
// so every size and position is known exactly.
#include "render/compositor.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <map>
#include <string>

namespace kelpie {
namespace {

// Measures each text as listed; draws by filling the whole box with the
// colour, except for the text "blank", which has a box but draws nothing.
// A picture filled to its edges gets no shadow, so the shadow stage leaves
// these pictures as they are.
class FakeFace : public TextFace {
 public:
  std::map<std::string, TextBox, std::less<>> boxes = {
      {"A", {100.9f, 40.5f}},     {"B", {80.0f, 30.0f}},     {"Long", {300.0f, 60.0f}},
      {"Short", {100.0f, 40.0f}}, {"blank", {10.9f, 10.9f}}, {"", {0.0f, 0.0f}},
  };
  TextBox Measure(std::string_view text) override {
    auto it = boxes.find(text);
    return it == boxes.end() ? TextBox{} : it->second;
  }
  void Draw(std::string_view text, Argb colour, ArgbBitmap& target) override {
    ++draws;
    if (text == "blank") return;
    for (int y = 0; y < target.height(); ++y)
      for (int x = 0; x < target.width(); ++x)
        target.SetPixel(x, y, BlendOver(colour, target.Pixel(x, y)));
  }
  int draws = 0;
};

SubtitleEvent Event(const char* text, std::int32_t x, std::int32_t y, Argb colour = 0xFFFFFFFF) {
  SubtitleEvent e;
  e.start = 1500;
  e.end = 3000;
  e.x = x;
  e.y = y;
  e.colour = colour;
  e.text = text;
  return e;
}

constexpr Argb kRed = 0xFFFF0000;
constexpr Argb kGreen = 0xFF00FF00;
using Kind = GroupPicture::Kind;

void ExpectRect(const ArgbBitmap& b, int left, int top, int width, int height, Argb value) {
  for (int y = top; y < top + height; ++y)
    for (int x = left; x < left + width; ++x) ASSERT_EQ(b.Pixel(x, y), value) << x << "," << y;
}

TEST(CompositorTest, SingleEventGeometry) {
  FakeFace face;
  const PlayRes res;  // 1440 x 1080
  // 100.9 x 40.5 at the default anchor: 100 x 40, x + trunc(-50.45) = 670.
  GroupPicture p = RenderGroup({Event("A", 720, 1080, kRed)}, face, res);
  ASSERT_EQ(p.kind, Kind::kPicture);
  EXPECT_EQ(p.picture.width(), 100);
  EXPECT_EQ(p.picture.height(), 40);
  EXPECT_EQ(p.posX, 670);
  EXPECT_EQ(p.posY, 1040);
  ExpectRect(p.picture, 0, 0, 100, 40, kRed);

  // Wider than twice its x, and taller than its y: raised to 0, not cropped.
  p = RenderGroup({Event("Long", 100, 20)}, face, res);
  EXPECT_EQ(p.posX, 0);
  EXPECT_EQ(p.posY, 0);
  EXPECT_EQ(p.picture.width(), 300);

  // The text picture starts as transparent white.
  p = RenderGroup({Event("blank", 50, 50)}, face, res);
  ASSERT_EQ(p.kind, Kind::kPicture);
  EXPECT_EQ(p.posX, 45);  // 50 + trunc(-5.45)
  EXPECT_EQ(p.posY, 40);  // 50 - trunc(10.9)
  ExpectRect(p.picture, 0, 0, 10, 10, 0x00FFFFFF);

  // Nothing visible: no picture, the anchor as position.
  face.draws = 0;
  p = RenderGroup({Event("", 300, 400)}, face, res);
  EXPECT_EQ(p.kind, Kind::kNothing);
  EXPECT_EQ(p.posX, 300);
  EXPECT_EQ(p.posY, 400);
  EXPECT_EQ(face.draws, 0);
}

TEST(CompositorTest, GroupGeometry) {
  FakeFace face;
  const PlayRes res;
  // A at (200, 100): box (150, 60)-(250, 100); B at (600, 700): (560, 670)-(640, 700).
  GroupPicture p =
      RenderGroup({Event("A", 200, 100, kRed), Event("B", 600, 700, kGreen)}, face, res);
  ASSERT_EQ(p.kind, Kind::kPicture);
  EXPECT_EQ(p.posX, 150);
  EXPECT_EQ(p.posY, 60);
  ASSERT_EQ(p.picture.width(), 490);
  ASSERT_EQ(p.picture.height(), 640);
  ExpectRect(p.picture, 0, 0, 100, 40, kRed);
  ExpectRect(p.picture, 410, 610, 80, 30, kGreen);
  ExpectRect(p.picture, 100, 0, 390, 610, 0);  // transparent black between
  ExpectRect(p.picture, 0, 40, 410, 600, 0);

  // Both at the default anchor: a canvas as large as the larger text, the
  // later one drawn over the earlier.
  p = RenderGroup({Event("Long", 720, 1080, kRed), Event("Short", 720, 1080, kGreen)}, face, res);
  EXPECT_EQ(p.posX, 570);
  EXPECT_EQ(p.posY, 1020);
  ASSERT_EQ(p.picture.width(), 300);
  ASSERT_EQ(p.picture.height(), 60);
  ExpectRect(p.picture, 100, 20, 100, 40, kGreen);
  ExpectRect(p.picture, 0, 0, 100, 60, kRed);
  ExpectRect(p.picture, 100, 0, 100, 20, kRed);
  // In the other order the short text is hidden.
  p = RenderGroup({Event("Short", 720, 1080, kGreen), Event("Long", 720, 1080, kRed)}, face, res);
  ExpectRect(p.picture, 0, 0, 300, 60, kRed);

  // Neither canvas nor text pictures are cleared: a text that draws nothing
  // leaves transparent black.
  p = RenderGroup({Event("blank", 200, 100), Event("B", 600, 700)}, face, res);
  EXPECT_EQ(p.posX, 195);
  EXPECT_EQ(p.posY, 90);
  ExpectRect(p.picture, 0, 0, 10, 10, 0);

  // The box starts at the screen's corner (PlayResX, PlayResY) and (0, 0):
  // a text right of the screen still stretches the canvas back to x = 1440,
  // and one above y = 0 down to y = 0.
  p = RenderGroup({Event("A", 1600, 20, kRed), Event("", 0, 0)}, face, res);
  EXPECT_EQ(p.posX, 1440);
  EXPECT_EQ(p.posY, 0);  // top -20 raised to 0
  ASSERT_EQ(p.picture.width(), 210);
  ASSERT_EQ(p.picture.height(), 40);
  ExpectRect(p.picture, 110, 0, 100, 40, kRed);
  ExpectRect(p.picture, 0, 0, 110, 40, 0);

  // Repair: an empty text adds nothing (without it, the anchor (0, 0) would
  // stretch the canvas to the screen's corner).
  p = RenderGroup({Event("A", 200, 100, kRed), Event("", 0, 0)}, face, res);
  EXPECT_EQ(p.posX, 150);
  EXPECT_EQ(p.posY, 60);
  EXPECT_EQ(p.picture.width(), 100);
  EXPECT_EQ(p.picture.height(), 40);

  // Nothing to draw at all.
  face.draws = 0;
  p = RenderGroup({Event("", 200, 100), Event(" unknown ", 600, 700)}, face, res);
  EXPECT_EQ(p.kind, Kind::kNothing);
  EXPECT_EQ(p.posX, 0);
  EXPECT_EQ(p.posY, 0);
  EXPECT_EQ(face.draws, 0);
}

TEST(CompositorTest, PicturesThatDoNotFitTheStream) {
  FakeFace face;
  const PlayRes res;
  face.boxes["wide"] = {65535.9f, 1.5f};
  face.boxes["wider"] = {65536.0f, 1.5f};
  face.boxes["huge"] = {3.0e38f, 3.0e38f};

  // Width: 65535 fits, 65536 does not.
  GroupPicture p = RenderGroup({Event("wide", 40000, 100)}, face, res);
  EXPECT_EQ(p.kind, Kind::kPicture);
  EXPECT_EQ(p.posX, 40000 - 32767);
  p = RenderGroup({Event("wider", 40000, 100)}, face, res);
  EXPECT_EQ(p.kind, Kind::kTooLarge);
  EXPECT_EQ(p.width, 65536);
  EXPECT_EQ(p.height, 1);

  // Position: 65535 fits, 65536 does not (A: x - 50).
  EXPECT_EQ(RenderGroup({Event("A", 65585, 100)}, face, res).kind, Kind::kPicture);
  p = RenderGroup({Event("A", 65586, 100)}, face, res);
  EXPECT_EQ(p.kind, Kind::kTooLarge);
  EXPECT_EQ(p.posX, 65536);
  EXPECT_EQ(RenderGroup({Event("A", 100, 65535 + 40)}, face, res).kind, Kind::kPicture);
  EXPECT_EQ(RenderGroup({Event("A", 100, 65536 + 40)}, face, res).kind, Kind::kTooLarge);

  // Canvas of 4096 x 4096 (exactly 64 MiB) fits; one row more does not.
  // A at (50, 40) has its box at (0, 0); the second ends at (4096, 4096).
  p = RenderGroup({Event("A", 50, 40, kRed), Event("A", 4046, 4096, kGreen)}, face, res);
  ASSERT_EQ(p.kind, Kind::kPicture);
  EXPECT_EQ(p.picture.width(), 4096);
  EXPECT_EQ(p.picture.height(), 4096);
  EXPECT_EQ(p.picture.Pixel(4095, 4095), kGreen);
  p = RenderGroup({Event("A", 50, 40), Event("A", 4046, 4097)}, face, res);
  EXPECT_EQ(p.kind, Kind::kTooLarge);
  EXPECT_EQ(p.height, 4097);

  // Extreme anchors and measures do not overflow.
  p = RenderGroup({Event("A", INT32_MAX, INT32_MAX), Event("A", INT32_MIN, INT32_MIN)}, face, res);
  EXPECT_EQ(p.kind, Kind::kTooLarge);
  EXPECT_EQ(p.width, std::int64_t{INT32_MAX} - INT32_MIN + 100);
  EXPECT_EQ(p.posX, 0);
  EXPECT_EQ(RenderGroup({Event("huge", 0, 0)}, face, res).kind, Kind::kTooLarge);
  EXPECT_EQ(RenderGroup({Event("huge", 0, 0), Event("A", 0, 0)}, face, res).kind, Kind::kTooLarge);
}

}  // namespace
}  // namespace kelpie
