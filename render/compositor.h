// Turns one group of events with equal times into one picture with its
// screen position, and sends it through colour counting, run-length coding
// and the display-set writer.
#ifndef KELPIE_RENDER_COMPOSITOR_H_
#define KELPIE_RENDER_COMPOSITOR_H_

#include <cstdint>
#include <string>
#include <vector>

#include "colour/colour_table.h"
#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"
#include "driver/script_reader.h"
#include "pgs/rle_encoder.h"
#include "platform/console.h"
#include "platform/output_file.h"
#include "platform/text_face.h"
#include "render/shadow.h"

namespace kelpie {

// The largest picture the stream can carry: sizes and positions are 16-bit
// fields, and no canvas may take more than 64 MiB of ARGB pixels.
constexpr std::int64_t kMaxPictureField = 0xFFFF;
constexpr std::int64_t kMaxCanvasBytes = std::int64_t{64} << 20;

// The picture of one group, before colour reduction.
struct GroupPicture {
  enum class Kind {
    kPicture,   // `picture` holds the group's pixels
    kNothing,   // no event has a visible glyph; nothing to show
    kTooLarge,  // width, height or position exceed the stream's fields, or the
                // canvas would exceed kMaxCanvasBytes; no pixels were made
  };
  Kind kind = Kind::kNothing;
  ArgbBitmap picture;  // only meaningful for kPicture
  // Top-left corner on the screen, in script pixels, raised to 0. For a
  // single event with nothing to draw, the anchor itself; for a larger group
  // with nothing to draw, (0, 0).
  std::int64_t posX = 0;
  std::int64_t posY = 0;
  // Size in pixels (also for kTooLarge, where no pixels were made).
  std::int64_t width = 0;
  std::int64_t height = 0;
};

// Pictures and work memory that every group reuses, so that a run allocates
// no more than its largest picture needs. Contents between groups mean
// nothing.
struct RenderScratch {
  ArgbBitmap text;  // the text picture of one event of a group of several
  ShadowScratch shadow;
};

// Everything a run keeps from one picture to the next. Owned by the driver.
struct RunState {
  PlayRes playRes;
  WorkImage workImage;
  ColourTable colourTable;
  Quantiser quantiser;
  RleBuffer rleBuffer;
  std::int32_t imageNumber = 0;
  std::vector<std::uint8_t> segments;  // display sets of the current picture
  GroupPicture picture;                // the current group's picture
  RenderScratch render;
};

// Measures and draws the events of `group` (REQUIRES: not empty) in `face`,
// gives each text its shadow and places the texts on one picture.
//   One event: the text picture, cleared to transparent white, at
//     (x + trunc(-W / 2), y - trunc(H)).
//   Several: a transparent black canvas spanning every text box
//     (xi - trunc(Wi / 2), yi - trunc(Hi), trunc(Wi) x trunc(Hi)) and the box
//     (playRes.x, playRes.y)-(0, 0) it starts from; later events drawn over
//     earlier ones.
// A text that measures 0 x 0 adds nothing. Positions are raised to 0.
GroupPicture RenderGroup(const std::vector<SubtitleEvent>& group, TextFace& face,
                         const PlayRes& playRes);
// The same into `result`, reusing its picture's memory and `scratch`.
void RenderGroup(const std::vector<SubtitleEvent>& group, TextFace& face, const PlayRes& playRes,
                 RenderScratch& scratch, GroupPicture& result);

// A time in milliseconds as the progress lines print it: h:mm:ss.mmm, the
// hours not reduced ("1:02:03.004", "10:00:00.000").
std::string FormatTime(std::int32_t ms);

// Renders `group` (REQUIRES: not empty; all events share start and end),
// prints its progress lines and writes its display sets to `out`. A picture
// is left out (the run goes on) when there is nothing to draw, when it does
// not fit the stream (said on standard error), or when its colour count or
// encoding fails (said by those stages).
void ComposeGroup(const std::vector<SubtitleEvent>& group, TextFace& face, RunState& state,
                  OutputFile& out, Console& console);

}  // namespace kelpie

#endif  // KELPIE_RENDER_COMPOSITOR_H_
