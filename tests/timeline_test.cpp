#include "driver/timeline.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace kelpie {
namespace {

// The stretches as "start-end:lines" joined by spaces, e.g. "0-10:0,1 10-20:1".
std::string Describe(const std::vector<TimeSpan>& lines) {
  std::ostringstream text;
  for (const Stretch& s : BuildTimeline(lines).stretches) {
    text << s.start << '-' << s.end << ':';
    for (std::size_t i = 0; i < s.lines.size(); ++i) text << (i > 0 ? "," : "") << s.lines[i];
    text << ' ';
  }
  std::string all = text.str();
  if (!all.empty()) all.pop_back();
  return all;
}

TEST(TimelineTest, StretchesOfVisibleLines) {
  struct Case {
    const char* what;
    std::vector<TimeSpan> lines;
    const char* stretches;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) EXPECT_EQ(Describe(c.lines), c.stretches) << c.what;

  const Timeline t = BuildTimeline({{1000, 3000}, {1004, 3012}, {400, 410}});
  EXPECT_EQ(t.spans[1].start, 1000);
  EXPECT_EQ(t.spans[1].end, 3000);
  EXPECT_EQ(t.spans[2].start, t.spans[2].end);
}

}  // namespace
}  // namespace kelpie
