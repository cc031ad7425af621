// Where each line's text box stands on the screen. Every box is placed once,
// when its line appears, and keeps its place while the line is visible:
//   - inside the frame: a box reaching past the left or top edge moves right
//     or down to it, then one reaching past the right or bottom edge moves
//     left or up to it; a box larger than the frame keeps its bottom rows and
//     centre columns and loses the rest;
//   - lines without a position of their own (subtitles) never cover each
//     other: a line that appears goes to the lowest place, moving up from
//     its anchor, where its box overlaps no box of such a line already on
//     screen; if that is above the top of the frame, it stays at the top,
//     drawn over the lines below. Lines the script positions (signs) stay
//     where they are put and are no obstacle.
#ifndef KELPIE_RENDER_PLACEMENT_H_
#define KELPIE_RENDER_PLACEMENT_H_

#include <cstdint>
#include <vector>

#include "render/subtitle_event.h"

namespace kelpie {

// What placement needs of a line. Pixels are script pixels; times are the
// line's span on screen, [start, end), in milliseconds.
struct LineToPlace {
  std::int64_t left = 0;  // its measured box where the anchor rule puts it
  std::int64_t top = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool positioned = false;
  PlayRes frame;
  std::int32_t start = 0;
  std::int32_t end = 0;
};

struct Placement {
  std::int32_t left = 0;  // the box on the screen, inside the frame
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  // Where that box lies in the line's full text picture: 0 unless the box
  // was larger than the frame and cut.
  std::int32_t cropLeft = 0;
  std::int32_t cropTop = 0;
  bool cut = false;  // the box was larger than the frame
};

// Places every line (script order). Lines with an empty span or an empty box
// are placed inside the frame but take part in no stacking.
std::vector<Placement> PlaceLines(const std::vector<LineToPlace>& lines);

// The box of one line inside its frame, before any stacking.
Placement PlaceInFrame(const LineToPlace& line);

// Whether two boxes share a pixel.
inline bool Overlap(const Placement& a, const Placement& b) {
  return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
         b.top < a.top + a.height;
}

}  // namespace kelpie

#endif  // KELPIE_RENDER_PLACEMENT_H_
