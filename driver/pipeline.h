// The road of one picture through the program: render it, count its colours
// (reducing them when the count says so), run-length code it, and write its
// display sets. The pipeline owns the run's reusable tables (RunState) and
// decides, in one place, when a picture is left out.
#ifndef KELPIE_DRIVER_PIPELINE_H_
#define KELPIE_DRIVER_PIPELINE_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "colour/colour_table.h"
#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"
#include "driver/reporter.h"
#include "pgs/rle_encoder.h"
#include "platform/output_file.h"
#include "platform/text_face.h"
#include "render/compositor.h"
#include "render/subtitle_event.h"

namespace kelpie {

// Everything a run keeps from one picture to the next, so that it allocates
// no more than its largest picture needs. Contents between pictures mean
// nothing.
struct RunState {
  GroupPicture picture;  // the current group's picture
  RenderScratch render;
  WorkImage workImage;
  ColourTable colourTable;
  Quantiser quantiser;
  RleBuffer rleBuffer;
  std::vector<std::uint8_t> segments;  // display sets of the current picture
};

class Pipeline {
 public:
  // `face`, `out` and `reporter` are the caller's and outlive the pipeline.
  Pipeline(TextFace& face, OutputFile& out, Reporter& reporter);

  // Makes the picture of `group` (REQUIRES: not empty; all its events share
  // the first one's times) and writes its display sets to the output, with
  // its progress lines. A picture is left out, and the run goes on, when
  // there is nothing to draw, when it does not fit the stream, or when its
  // colours or its data do not fit; the reporter says why.
  void WriteGroup(const std::vector<SubtitleEvent>& group, const PlayRes& playRes);

 private:
  // Counts the colours of state_->picture and codes its runs into the colour
  // table and the run-length buffer. Returns false when the picture must be
  // left out (reported).
  bool CountAndEncode();

  TextFace& face_;
  OutputFile& out_;
  Reporter& reporter_;
  std::unique_ptr<RunState> state_;  // large fixed tables: on the heap
};

}  // namespace kelpie

#endif  // KELPIE_DRIVER_PIPELINE_H_
