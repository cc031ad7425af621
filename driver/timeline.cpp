#include "driver/timeline.h"

#include <algorithm>

namespace kelpie {

namespace {

// The cut a time falls on: the last kept cut at or before it.
std::int32_t CutOf(const std::vector<std::int32_t>& cuts, std::int32_t t) {
  return *(std::upper_bound(cuts.begin(), cuts.end(), t) - 1);
}

}  // namespace

Timeline BuildTimeline(const std::vector<TimeSpan>& lines) {
  std::vector<std::int32_t> times;
  times.reserve(2 * lines.size());
  for (const TimeSpan& line : lines) {
    if (line.end <= line.start) continue;
    times.push_back(line.start);
    times.push_back(line.end);
  }
  std::sort(times.begin(), times.end());
  // A cut closer than kMinStretchMs to the last kept one joins it; a chain
  // of close cuts therefore keeps its first until the gap reaches the minimum.
  std::vector<std::int32_t> cuts;
  for (std::int32_t t : times) {
    if (cuts.empty() || t - cuts.back() >= kMinStretchMs) cuts.push_back(t);
  }

  Timeline timeline;
  timeline.spans.resize(lines.size());
  // changes[i]: the lines that appear at cuts[i] (+index + 1) and leave it (-(index + 1)).
  std::vector<std::vector<int>> changes(cuts.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].end <= lines[i].start) continue;
    const TimeSpan span{CutOf(cuts, lines[i].start), CutOf(cuts, lines[i].end)};
    timeline.spans[i] = span;
    if (span.start == span.end) continue;
    const auto at = [&cuts](std::int32_t t) {
      return std::lower_bound(cuts.begin(), cuts.end(), t) - cuts.begin();
    };
    changes[at(span.start)].push_back(static_cast<int>(i) + 1);
    changes[at(span.end)].push_back(-(static_cast<int>(i) + 1));
  }

  std::vector<int> visible;  // ascending
  for (std::size_t c = 0; c + 1 <= cuts.size(); ++c) {
    for (int change : changes[c]) {
      const int line = (change > 0 ? change : -change) - 1;
      const auto where = std::lower_bound(visible.begin(), visible.end(), line);
      if (change > 0) {
        visible.insert(where, line);
      } else {
        visible.erase(where);
      }
    }
    if (visible.empty() || c + 1 == cuts.size()) continue;
    std::vector<Stretch>& stretches = timeline.stretches;
    if (!stretches.empty() && stretches.back().end == cuts[c] &&
        stretches.back().lines == visible) {
      stretches.back().end = cuts[c + 1];  // a line too short to keep changed nothing
    } else {
      stretches.push_back(Stretch{cuts[c], cuts[c + 1], visible});
    }
  }
  return timeline;
}

}  // namespace kelpie
