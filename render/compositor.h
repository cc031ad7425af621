// Turns one group of events with equal times into one picture with its
// screen position: each text measured, drawn in the subtitle face and given
// its shadow, the texts placed on one picture that spans them all.
#ifndef KELPIE_RENDER_COMPOSITOR_H_
#define KELPIE_RENDER_COMPOSITOR_H_

#include <cstdint>
#include <vector>

#include "platform/bitmap.h"
#include "platform/text_face.h"
#include "render/shadow.h"
#include "render/subtitle_event.h"

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

}  // namespace kelpie

#endif  // KELPIE_RENDER_COMPOSITOR_H_
