// Pictures of subtitle lines and of the stretches of time that show them.
// A line's text is measured (wrapped to its frame when too wide), drawn in
// the subtitle face in the line's colour and given its shadow; a stretch's
// picture lays the pictures of its lines, each at its placed box, on one
// transparent picture that spans them all, later lines over earlier ones.
#ifndef KELPIE_RENDER_COMPOSITOR_H_
#define KELPIE_RENDER_COMPOSITOR_H_

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "platform/bitmap.h"
#include "platform/text_face.h"
#include "render/placement.h"
#include "render/shadow.h"
#include "render/shadow_cache.h"
#include "render/subtitle_event.h"

namespace kelpie {

// A line's box on the screen before placement, in script pixels: the
// measured text box where the anchor rule puts it (its horizontal centre at
// the anchor's x, its bottom at the anchor's y), grown just enough on each
// side to hold the glyph pixels that reach outside it (marks above a
// capital, say); the measured box stays where the anchor puts it. Empty
// (0 x 0) for a text without a visible glyph.
struct MeasuredLine {
  std::int64_t left = 0;
  std::int64_t top = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
  // Where the measured box's top-left corner lies in the grown one.
  int textX = 0;
  int textY = 0;
  bool empty() const { return width <= 0 || height <= 0; }
};

// Measures `event`'s text in `face`. A text line whose box would be wider
// than the frame (event.playRes) is first wrapped (event.text is rewritten);
// a text far taller than the frame loses lines from its top, keeping those
// that the frame shows and one more, so that no picture is drawn that the
// frame rule would mostly cut away.
//   measured box = (x - trunc(W / 2), y - trunc(H), trunc(W), trunc(H))
MeasuredLine MeasureLine(SubtitleEvent& event, TextFace& face);

// A line's picture in the making. Its text is laid out first, on the thread
// that owns the text face; the drawing, its shadow and the cut to its box
// follow once, on whichever thread first needs the picture, so that the
// picture is made where it is used.
struct LinePicture {
  TextDrawing drawing;  // until drawn
  int width = 0;        // the measured size, of `text`
  int height = 0;
  ArgbBitmap text;  // the text on a transparent picture of the measured size
  ArgbBitmap cut;   // the part inside `box`, when the box was cut
  Placement box;    // the line's placement; only its size and crop are used
  std::once_flag finished;
  // The memory the picture takes once finished.
  std::int64_t finishedBytes() const {
    const std::int64_t textBytes = std::int64_t{width} * height * 4;
    return textBytes + (box.cut ? std::int64_t{box.width} * box.height * 4 : 0);
  }
  // REQUIRES: FinishLine was called.
  const ArgbBitmap& Picture() const { return box.cut ? cut : text; }
};

// Lays out `event`'s text, to be drawn by FinishLine in its colour on a
// transparent picture of the measured size, the measured box at
// (textX, textY).
void LayOutLineText(const SubtitleEvent& event, const MeasuredLine& measured, const Placement& box,
                    TextFace& face, LinePicture& line);

// Draws the text, gives it its shadow and cuts out its box. Only the first call
// for a line does anything; calls from several threads wait for it. With a
// `cache` (and this thread's `cells`), shadows seen before are taken from it.
void FinishLine(LinePicture& line, ShadowScratch& scratch, ShadowCache* cache = nullptr,
                ShadowCacheScratch* cells = nullptr);

// A line's picture with its box on the screen.
struct PlacedPicture {
  const ArgbBitmap* picture = nullptr;  // box.width x box.height
  Placement box;
};

// The rectangle spanning `boxes` (REQUIRES: not empty).
Placement SpanOf(std::span<const Placement> boxes);

// Lays `lines` (in drawing order) on `canvas`, made the size of `span` and
// transparent, each picture at its box relative to span's top-left corner.
// rowUsed[y] is not 0 where a line's box covers row y of the canvas; rows it
// does not cover are fully transparent, and are left unwritten (their pixels
// unspecified) until ClearUnusedRows.
void ComposePicture(std::span<const PlacedPicture> lines, const Placement& span, ArgbBitmap& canvas,
                    std::vector<std::uint8_t>& rowUsed);
// Makes the rows that ComposePicture left unwritten transparent.
void ClearUnusedRows(const std::vector<std::uint8_t>& rowUsed, ArgbBitmap& canvas);

// Splits `boxes` into a top and a bottom group with no row in common,
// choosing the split whose two spans have the fewest pixels together.
// Returns, per box, 0 (top) or 1 (bottom); empty when no such split exists.
std::vector<int> SplitTopAndBottom(std::span<const Placement> boxes);

}  // namespace kelpie

#endif  // KELPIE_RENDER_COMPOSITOR_H_
