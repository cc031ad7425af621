#include "driver/timeline.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace kelpie {
namespace {

// The stretches as "start-end:lines" joined by spaces, e.g. "0-10:0,1 10-20:1".
std::string Describe(const std::vector<TimeSpan>& lines) {
  std::string text;
  for (const Stretch& s : BuildTimeline(lines).stretches) {
    text += std::to_string(s.start) + '-' + std::to_string(s.end) + ':';
    for (int line : s.lines) text += std::to_string(line) + ',';
    text.back() = ' ';
  }
  return text.substr(0, text.size() - !text.empty());
}

TEST(TimelineTest, StretchesOfVisibleLines) {
  // What, the lines' spans, the stretches.
  const std::tuple<const char*, std::vector<TimeSpan>, const char*> cases[] = {
      {"back to back, and a gap",
       {{0, 1000}, {1000, 2000}, {3000, 4000}},
       "0-1000:0 1000-2000:1 3000-4000:2"},
      {"identical times: one picture", {{500, 900}, {500, 900}}, "500-900:0,1"},
      {"out of script order", {{3000, 4000}, {0, 1000}}, "0-1000:1 3000-4000:0"},
      {"nested: the sign stays over both lines",
       {{0, 10000}, {1000, 2000}, {2000, 5000}},
       "0-1000:0 1000-2000:0,1 2000-5000:0,2 5000-10000:0"},
      {"chained overlaps",
       {{0, 300}, {200, 500}, {400, 700}},
       "0-200:0 200-300:0,1 300-400:1 400-500:1,2 500-700:2"},
      {"zero length draws nothing", {{100, 100}, {0, 50}, {200, 100}}, "0-50:1"},
      // A second track a few milliseconds off: cuts under 20 ms apart are
      // one, at the earlier time; a chain of close cuts keeps its first
      // until the gap reaches 20 ms.
      {"two tracks a few ms apart",
       {{1000, 3000}, {1004, 3012}, {3019, 4000}},
       "1000-3000:0,1 3000-4000:2"},
      {"a chain of close cuts", {{0, 500}, {10, 500}, {25, 500}}, "0-25:0,1 25-500:0,1,2"},
      // A line shorter than the merging leaves it never shows, and the
      // pictures around it are one.
      {"a line that merging swallows", {{0, 1000}, {400, 410}}, "0-1000:0"},
  };
  for (const auto& [what, lines, stretches] : cases) EXPECT_EQ(Describe(lines), stretches) << what;

  // The spans the lines keep: the second track's cut to the first's, the
  // swallowed line's empty.
  const Timeline t = BuildTimeline({{1000, 3000}, {1004, 3012}, {400, 410}});
  EXPECT_EQ(std::tuple(t.spans[1].start, t.spans[1].end, t.spans[2].end - t.spans[2].start),
            std::tuple(1000, 3000, 0));
}

}  // namespace
}  // namespace kelpie
