// The road of a script's lines to the stream. Planning measures every line,
// builds the timeline and places every line; then each stretch of the
// timeline takes the same steps in order: draw its lines (or take them from
// earlier stretches), lay them on a picture, count the picture's colours
// (reducing them when the count says so), run-length code it and write its
// display sets. The pipeline owns the run's reusable tables (RunState) and
// decides, in one place, when a picture is left out.
#ifndef KELPIE_DRIVER_PIPELINE_H_
#define KELPIE_DRIVER_PIPELINE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "colour/colour_table.h"
#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"
#include "driver/reporter.h"
#include "driver/timeline.h"
#include "pgs/pgs_format.h"
#include "pgs/rle_encoder.h"
#include "platform/output_file.h"
#include "platform/text_face.h"
#include "render/compositor.h"
#include "render/line_pictures.h"
#include "render/placement.h"
#include "render/subtitle_event.h"

namespace kelpie {

// Memory the drawn pictures of the lines on screen may keep.
inline constexpr std::int64_t kLinePictureBudget = std::int64_t{24} << 20;

// Every line of a script measured and placed, and the timeline of the lines
// that draw something. Indexes are the lines' places in the script order.
struct Plan {
  std::vector<SubtitleEvent> events;  // texts as drawn (wrapped)
  std::vector<MeasuredLine> measured;
  std::vector<Placement> placements;
  Timeline timeline;
};

// Measures, times and places `events` (script order). A line whose box is
// larger than its frame is cut, with a warning naming its script line, and a
// line whose box would still pass what a player holds in one picture is left
// out with a warning.
Plan PlanPictures(std::vector<SubtitleEvent> events, TextFace& face, Reporter& reporter,
                  const std::string& scriptPath);

// Everything a run keeps from one picture to the next, so that it allocates
// no more than its largest picture needs. Contents between pictures mean
// nothing.
struct RunState {
  RenderScratch render;
  ArgbBitmap canvas[pgs::kMaxObjects];  // a stretch's picture, one per object
  ArgbBitmap stacked;                   // two objects' pictures one above the other
  WorkImage workImage;
  ColourTable colourTable;
  Quantiser quantiser;
  RleBuffer rleBuffer[pgs::kMaxObjects];
  std::vector<std::uint8_t> segments;  // display sets of the current picture
};

class Pipeline {
 public:
  // `plan`, `face`, `out` and `reporter` are the caller's and outlive the pipeline.
  Pipeline(const Plan& plan, TextFace& face, OutputFile& out, Reporter& reporter);

  // Makes the picture of `stretch` and writes its display sets, with its
  // progress lines. A picture is left out, and the run goes on, when its
  // colours or its size pass what the stream and players hold; the reporter
  // says why.
  void WriteStretch(const Stretch& stretch);

  // The picture of `stretch` as one object spanning its lines, whatever its
  // size, and that span on the screen; nothing is counted or written. The
  // picture stays valid until the next call. For looking at pictures.
  const ArgbBitmap& DrawStretch(const Stretch& stretch, Placement& span);

 private:
  // One object of the picture being made: its lines and their span.
  struct Object {
    std::vector<PlacedPicture> lines;
    Placement span;
    const ArgbBitmap* picture = nullptr;  // once composed
  };

  // What counting and coding found: the colour count and the longest
  // object's data length.
  struct Coded {
    ColourCount count;
    std::int32_t longest = 0;
  };

  // The picture of `line`, drawn now or kept from an earlier stretch.
  const ArgbBitmap& LinePicture(int line);
  // Sets object.picture: its one line's picture, or its lines laid on `canvas`.
  void Compose(Object& object, ArgbBitmap& canvas);
  // Counts the colours of the objects' pictures into one table and codes
  // each one's runs into its run-length buffer (not after a colour error).
  Coded CountAndEncode(std::vector<Object>& objects);

  const Plan& plan_;
  TextFace& face_;
  OutputFile& out_;
  Reporter& reporter_;
  LinePictures linePictures_{kLinePictureBudget};
  std::unique_ptr<RunState> state_;  // large fixed tables: on the heap
};

}  // namespace kelpie

#endif  // KELPIE_DRIVER_PIPELINE_H_
