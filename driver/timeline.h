// Which lines are on screen when. The time axis is cut at every start and
// end of a line; cuts less than kMinStretchMs apart become one, at the
// earlier time, so that no stretch between two cuts is shorter than that
// (two tracks of one film often differ by a few milliseconds, and a picture
// that short would only flash). Every stretch during which some line is
// visible becomes one picture of all the lines visible then.
#ifndef KELPIE_DRIVER_TIMELINE_H_
#define KELPIE_DRIVER_TIMELINE_H_

#include <cstdint>
#include <vector>

namespace kelpie {

inline constexpr std::int32_t kMinStretchMs = 20;

// A line's time on screen in milliseconds, [start, end).
struct TimeSpan {
  std::int32_t start = 0;
  std::int32_t end = 0;
};

// One picture's time and the lines it shows.
struct Stretch {
  std::int32_t start = 0;  // ms, a cut
  std::int32_t end = 0;    // ms, the next cut at which the set of lines changes
  std::vector<int> lines;  // indexes of the visible lines, ascending (script order)
};

struct Timeline {
  // Each line's span after merging the cuts; an empty span (start == end)
  // for a line that is never on screen: zero duration, or shorter than the
  // merging left it.
  std::vector<TimeSpan> spans;
  // In time order, disjoint; two consecutive stretches never show the same
  // lines (they would be one).
  std::vector<Stretch> stretches;
};

// Builds the timeline of `lines` (script order). Lines whose span is empty
// are left out.
Timeline BuildTimeline(const std::vector<TimeSpan>& lines);

}  // namespace kelpie

#endif  // KELPIE_DRIVER_TIMELINE_H_
