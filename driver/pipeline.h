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
#include "render/shadow_cache.h"
#include "render/subtitle_event.h"

namespace kelpie {

// Memory the drawn pictures of the lines on screen may keep.
inline constexpr std::int64_t kLinePictureBudget = std::int64_t{24} << 20;
// Memory the shadows kept for lines to come may take.
inline constexpr std::int64_t kShadowCacheBudget = std::int64_t{2} << 20;

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

// Everything one picture maker keeps from one picture to the next, so that
// it allocates no more than its largest picture needs. Contents between
// pictures mean nothing.
struct RunState {
  ShadowScratch shadow;
  ShadowCacheScratch shadowCells;
  ArgbBitmap canvas[pgs::kMaxObjects];  // a stretch's picture, one per object
  ArgbBitmap stacked;                   // two objects' pictures one above the other
  WorkImage workImage;
  ColourTable colourTable;
  Quantiser quantiser;
  RleBuffer rleBuffer[pgs::kMaxObjects];
};

// One stretch's picture to make: its lines' pictures (text drawn, perhaps
// not yet shadowed) and their boxes, in drawing order.
struct PictureJob {
  const Stretch* stretch = nullptr;
  std::vector<std::shared_ptr<LinePicture>> lines;
  std::vector<Placement> boxes;
  PlayRes video;       // of its first line in script order
  long firstLine = 0;  // script line number of that line, for messages
};

// What making a picture gave: its outcome for the reporter and, when it is
// written, its display sets.
struct PictureResult {
  enum class Outcome {
    kWritten,
    kTooManyPixels,  // even as two objects it passes what a player holds
    kColourError,    // more colours than the palette takes
    kTooMuchData,    // an object's data passes what a player holds
    kOutOfMemory,    // an allocation failed while it was made
  };
  Outcome outcome = Outcome::kWritten;
  Placement span;            // of all its lines
  ColourCount count;         // when counted
  std::int64_t longest = 0;  // the longest object's data, in bytes
  std::vector<std::uint8_t> segments;
};

// Makes pictures: shadow, composition, colour count, run-length code and
// display sets, with tables of its own. One per thread.
class PictureMaker {
 public:
  // `set`: the instruction set of every fast path it runs. `frugal`: give
  // back what a large picture grew after each picture, so that many makers
  // together hold no more than their pictures in flight need (it costs the
  // memory's page faults again for every large picture). `shadows`: the
  // run's shadows seen before, shared by every maker, or null.
  explicit PictureMaker(InstructionSet set = InstructionSet::kBest, bool frugal = false,
                        ShadowCache* shadows = nullptr);

  // Render the picture -> count its colours (reducing them when the count
  // says so) -> run-length code it -> write its display sets. A failed
  // allocation gives kOutOfMemory.
  PictureResult Make(const PictureJob& job);

  // The picture of `job` as one object spanning its lines, whatever its
  // size; nothing is counted or written. Valid until the next call.
  const ArgbBitmap& Draw(const PictureJob& job);

 private:
  // One object of the picture being made: its lines and their span.
  struct Object {
    std::vector<PlacedPicture> lines;
    Placement span;
    const ArgbBitmap* picture = nullptr;  // once composed
    ArgbBitmap* canvas = nullptr;         // when its lines were laid on one
    std::vector<std::uint8_t> rowUsed;    // of the canvas: rows some box covers
  };
  // Makes every pixel of the object's picture defined (see ClearUnusedRows).
  static void ClearUnused(Object& object);

  PictureResult MakeOrThrow(const PictureJob& job);
  // Frees the pictures and buffers that one large picture grew.
  void ReleaseLargeBuffers();
  // Sets object.picture: its one line's picture, or its lines laid on `canvas`.
  void Compose(Object& object, ArgbBitmap& canvas);
  // Counts the colours of the objects' pictures into one table and codes
  // each one's runs (not after a colour error); gives the longest data.
  ColourCount CountAndEncode(std::vector<Object>& objects, std::int64_t& longest);

  std::unique_ptr<RunState> state_;  // large fixed tables: on the heap
  ShadowCache* shadows_;
  InstructionSet set_;
  bool frugal_;
};

class Pipeline {
 public:
  // `plan`, `face`, `out` and `reporter` are the caller's and outlive the
  // pipeline. `threads` picture makers: the caller's thread, which also
  // draws the text and writes, and threads - 1 workers ahead of it (fewer
  // when threads cannot be started). Every fast path runs on `set`.
  Pipeline(const Plan& plan, TextFace& face, OutputFile& out, Reporter& reporter, int threads = 1,
           InstructionSet set = InstructionSet::kBest);
  ~Pipeline();

  // Makes the picture of every stretch and writes its display sets in time
  // order, with its progress lines, exactly as one thread does. A picture is
  // left out, and the run goes on, when its colours or its size pass what
  // the stream and players hold; the reporter says why. Stops early when a
  // write fails. Returns false when memory ran out while drawing (reported).
  bool WriteAll(const std::string& scriptPath);

  // The picture of `stretch` as one object spanning its lines and that span
  // on the screen, for looking at. Valid until the next call.
  const ArgbBitmap& DrawStretch(const Stretch& stretch, Placement& span);

 private:
  class Workers;

  // The job of `stretch`: its lines' pictures, drawing the text of those
  // not kept from earlier stretches.
  PictureJob Prepare(const Stretch& stretch);
  // Reports a made picture and writes its display sets.
  void Publish(const PictureJob& job, const PictureResult& result);

  const Plan& plan_;
  TextFace& face_;
  OutputFile& out_;
  Reporter& reporter_;
  LinePictures linePictures_{kLinePictureBudget};
  ShadowCache shadows_{kShadowCacheBudget};
  PictureMaker maker_;                // the caller's thread's
  PictureJob drawn_;                  // of the last DrawStretch
  std::unique_ptr<Workers> workers_;  // null with one thread
};

}  // namespace kelpie

#endif  // KELPIE_DRIVER_PIPELINE_H_
