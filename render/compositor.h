// Turns one group of events with equal times into one picture with its
// screen position, and sends it through colour counting, run-length coding
// and the display-set writer.
#ifndef KELPIE_RENDER_COMPOSITOR_H_
#define KELPIE_RENDER_COMPOSITOR_H_

#include <cstdint>
#include <vector>

#include "colour/colour_table.h"
#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"
#include "driver/script_reader.h"
#include "pgs/rle_encoder.h"
#include "platform/console.h"
#include "platform/output_file.h"
#include "platform/text_face.h"

namespace kelpie {

// Everything a run keeps from one picture to the next. Owned by the driver.
struct RunState {
  PlayRes playRes;
  WorkImage workImage;
  ColourTable colourTable;
  Quantiser quantiser;
  RleBuffer rleBuffer;
  std::int32_t imageNumber = 0;
  std::vector<std::uint8_t> segments;  // display sets of the current picture
};

// Renders `group` (REQUIRES: not empty; all events share start and end),
// prints its progress lines and writes its display sets to `out`.
void ComposeGroup(const std::vector<SubtitleEvent>& group, TextFace& face, RunState& state,
                  OutputFile& out, Console& console);

}  // namespace kelpie

#endif  // KELPIE_RENDER_COMPOSITOR_H_
