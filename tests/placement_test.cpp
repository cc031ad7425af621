#include "render/placement.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelpie {
namespace {

// An unpositioned line of w x h at the bottom centre of a 640 x 480 frame,
// on screen from `start` to `end`.
LineToPlace Subtitle(int w, int h, int start, int end) {
  LineToPlace line;
  line.left = 320 - w / 2;
  line.top = 480 - h;
  line.width = w;
  line.height = h;
  line.frame = PlayRes{640, 480};
  line.start = start;
  line.end = end;
  return line;
}

LineToPlace Sign(int left, int top, int w, int h) {
  LineToPlace line = Subtitle(w, h, 0, 100);
  line.left = left;
  line.top = top;
  line.positioned = true;
  return line;
}

TEST(PlacementTest, InsideTheFrame) {
  struct Case {
    LineToPlace line;
    int left, top, width, height, cropLeft, cropTop;
  };
  const Case cases[] = {
      {Sign(10, 20, 100, 50), 10, 20, 100, 50, 0, 0},       // inside: unchanged
      {Sign(-30, -5, 100, 50), 0, 0, 100, 50, 0, 0},        // raised to 0
      {Sign(600, 470, 100, 50), 540, 430, 100, 50, 0, 0},   // lowered to the far edges
      {Sign(2828, 100, 200, 56), 440, 100, 200, 56, 0, 0},  // \pos(3000, ...) far outside
      // Larger than the frame: the middle columns and the bottom rows.
      {Sign(-100, 300, 841, 56), 0, 300, 640, 56, 100, 0},
      {Sign(0, -200, 100, 700), 0, 0, 100, 480, 0, 220},
  };
  for (const Case& c : cases) {
    const Placement p = PlaceLines({c.line})[0];
    EXPECT_EQ(p.left, c.left) << c.line.left;
    EXPECT_EQ(p.top, c.top) << c.line.top;
    EXPECT_EQ(p.width, c.width) << c.line.width;
    EXPECT_EQ(p.height, c.height) << c.line.height;
    EXPECT_EQ(p.cropLeft, c.cropLeft) << c.line.width;
    EXPECT_EQ(p.cropTop, c.cropTop) << c.line.height;
    EXPECT_EQ(p.cut, c.cropLeft + c.cropTop > 0);
  }
}

TEST(PlacementTest, SubtitlesStackAndKeepTheirPlaces) {
  // 0 appears first at the bottom; 1 (later) goes above it; 0 ends first and
  // 1 stays where it is; 2 then takes the gap 0 left; 3, a line twice as
  // high, cannot fit the gap above 2 under 1 and goes above 1; a sign over
  // the bottom is no obstacle; 4 appears with 2 and 1 still up.
  const std::vector<LineToPlace> lines = {
      Subtitle(300, 56, 0, 1000),     Subtitle(200, 56, 500, 3000), Subtitle(100, 56, 1000, 4000),
      Subtitle(250, 112, 1500, 4000), Sign(0, 400, 640, 80),
  };
  const std::vector<Placement> p = PlaceLines(lines);
  EXPECT_EQ(p[0].top, 424);
  EXPECT_EQ(p[1].top, 368);
  EXPECT_EQ(p[2].top, 424);
  EXPECT_EQ(p[3].top, 368 - 112);
  EXPECT_EQ(p[4].top, 400);
  // Boxes that do not share a column do not push each other up.
  const std::vector<Placement> side = PlaceLines({Sign(0, 0, 10, 10), Subtitle(100, 56, 0, 100)});
  EXPECT_EQ(side[1].top, 424);
  // Equal starts go in script order; a stack that reaches past the top stays
  // at the top, over the lines below.
  std::vector<LineToPlace> many(10, Subtitle(100, 56, 0, 100));
  const std::vector<Placement> stack = PlaceLines(many);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(stack[i].top, 424 - 56 * i) << i;
  EXPECT_EQ(stack[8].top, 0);
  EXPECT_EQ(stack[9].top, 0);
}

}  // namespace
}  // namespace kelpie
