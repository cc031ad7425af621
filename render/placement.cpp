#include "render/placement.h"

#include <algorithm>
#include <numeric>

namespace kelpie {

Placement PlaceInFrame(const LineToPlace& line) {
  Placement p;
  std::int64_t width = line.width;
  std::int64_t height = line.height;
  if (width > line.frame.x) {
    p.cropLeft = static_cast<std::int32_t>((width - line.frame.x) / 2);
    width = line.frame.x;
    p.cut = true;
  }
  if (height > line.frame.y) {
    p.cropTop = static_cast<std::int32_t>(height - line.frame.y);
    height = line.frame.y;
    p.cut = true;
  }
  // The raise to 0 comes first, then the far edges: a box larger than the
  // frame was cut to it above, so the two never pull against each other.
  std::int64_t left = std::max<std::int64_t>(line.left + p.cropLeft, 0);
  std::int64_t top = std::max<std::int64_t>(line.top + p.cropTop, 0);
  left = std::min(left, line.frame.x - width);
  top = std::min(top, line.frame.y - height);
  p.left = static_cast<std::int32_t>(left);
  p.top = static_cast<std::int32_t>(top);
  p.width = static_cast<std::int32_t>(width);
  p.height = static_cast<std::int32_t>(height);
  return p;
}

namespace {

// The lowest top, at most `p.top`, at which `p` overlaps none of `others`.
std::int32_t LowestFreeTop(Placement p, const std::vector<Placement>& others) {
  // The box can only come to rest at its own top or right above an obstacle.
  std::vector<std::int32_t> tops = {p.top};
  for (const Placement& o : others) {
    if (o.top - p.height < p.top) tops.push_back(o.top - p.height);
  }
  std::sort(tops.begin(), tops.end(), std::greater<>());
  for (std::int32_t top : tops) {
    p.top = top;
    if (std::none_of(others.begin(), others.end(),
                     [&p](const Placement& o) { return Overlap(p, o); })) {
      return top;
    }
  }
  return tops.back();  // above every obstacle: always free
}

}  // namespace

std::vector<Placement> PlaceLines(const std::vector<LineToPlace>& lines) {
  std::vector<Placement> placements(lines.size());
  std::vector<int> order;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    placements[i] = PlaceInFrame(lines[i]);
    const LineToPlace& line = lines[i];
    if (!line.positioned && line.start < line.end && line.width > 0 && line.height > 0) {
      order.push_back(static_cast<int>(i));
    }
  }
  // In order of appearance; for equal starts, script order.
  std::stable_sort(order.begin(), order.end(),
                   [&lines](int a, int b) { return lines[a].start < lines[b].start; });
  std::vector<int> onScreen;
  std::vector<Placement> obstacles;
  for (int i : order) {
    const std::int32_t now = lines[i].start;
    std::erase_if(onScreen, [&](int j) { return lines[j].end <= now; });
    obstacles.clear();
    for (int j : onScreen) obstacles.push_back(placements[j]);
    Placement& p = placements[i];
    p.top = std::max(LowestFreeTop(p, obstacles), 0);
    onScreen.push_back(i);
  }
  return placements;
}

}  // namespace kelpie
