#include "render/placement.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace kelpie {
namespace {

// An unpositioned line of w x h at the bottom centre of a 640 x 480 frame,
// on screen from `start` to `end`.
LineToPlace Subtitle(int w, int h, int start, int end) {
  return {320 - w / 2, 480 - h, w, h, false, PlayRes{640, 480}, start, end};
}

// A positioned line of w x h at (left, top), on screen from 0 to 100.
LineToPlace Sign(int left, int top, int w, int h) {
  return {left, top, w, h, true, PlayRes{640, 480}, 0, 100};
}

// The tops PlaceLines gives `lines`.
std::vector<int> Tops(const std::vector<LineToPlace>& lines) {
  std::vector<int> tops;
  for (const Placement& p : PlaceLines(lines)) tops.push_back(p.top);
  return tops;
}

TEST(PlacementTest, InsideTheFrame) {
  // The line, then where it is placed: left, top, width, height, and the
  // columns and rows cut from the picture's left and top.
  const std::tuple<LineToPlace, int, int, int, int, int, int> cases[] = {
      {Sign(10, 20, 100, 50), 10, 20, 100, 50, 0, 0},       // inside: unchanged
      {Sign(-30, -5, 100, 50), 0, 0, 100, 50, 0, 0},        // raised to 0
      {Sign(600, 470, 100, 50), 540, 430, 100, 50, 0, 0},   // lowered to the far edges
      {Sign(2828, 100, 200, 56), 440, 100, 200, 56, 0, 0},  // \pos(3000, ...) far outside
      // Larger than the frame: the middle columns and the bottom rows.
      {Sign(-100, 300, 841, 56), 0, 300, 640, 56, 100, 0},
      {Sign(0, -200, 100, 700), 0, 0, 100, 480, 0, 220},
  };
  for (const auto& [line, left, top, width, height, cropLeft, cropTop] : cases) {
    const Placement p = PlaceLines({line})[0];
    EXPECT_EQ(std::tuple(p.left, p.top, p.width, p.height, p.cropLeft, p.cropTop, p.cut),
              std::tuple(left, top, width, height, cropLeft, cropTop, cropLeft + cropTop > 0))
        << line.left << "," << line.top;
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
  EXPECT_EQ(Tops(lines), (std::vector<int>{424, 368, 424, 368 - 112, 400}));
  // Boxes that do not share a column do not push each other up.
  EXPECT_EQ(Tops({Sign(0, 0, 10, 10), Subtitle(100, 56, 0, 100)}), (std::vector<int>{0, 424}));
  // Equal starts go in script order; a stack that reaches past the top stays
  // at the top, over the lines below.
  EXPECT_EQ(Tops(std::vector(10, Subtitle(100, 56, 0, 100))),
            (std::vector<int>{424, 368, 312, 256, 200, 144, 88, 32, 0, 0}));
}

}  // namespace
}  // namespace kelpie
