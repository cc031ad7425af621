#include "driver/pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

#include "pgs/display_set_writer.h"

namespace kelpie {

namespace {

std::int64_t PixelsOf(const Placement& box) {
  return std::int64_t{box.width} * box.height;
}

std::string Describe(const char* what, std::int64_t width, std::int64_t height, std::int64_t x,
                     std::int64_t y) {
  char text[160];
  std::snprintf(text, sizeof text, what, static_cast<long long>(width),
                static_cast<long long>(height), static_cast<long long>(x),
                static_cast<long long>(y));
  return text;
}

}  // namespace

Plan PlanPictures(std::vector<SubtitleEvent> events, TextFace& face, Reporter& reporter,
                  const std::string& scriptPath) {
  Plan plan;
  plan.events = std::move(events);
  const std::size_t count = plan.events.size();
  plan.measured.resize(count);
  std::vector<LineToPlace> lines(count);
  std::vector<TimeSpan> spans(count);
  for (std::size_t i = 0; i < count; ++i) {
    SubtitleEvent& event = plan.events[i];
    // A line of zero duration draws nothing, so it is not even measured.
    if (event.end <= event.start) continue;
    const MeasuredLine measured = MeasureLine(event, face);
    for (char32_t c : face.TakeMissingCharacters()) {
      reporter.ScriptWarning(scriptPath, event.line, MissingFontMessage(c));
    }
    if (measured.empty()) continue;
    LineToPlace& line = lines[i];
    line.left = measured.left;
    line.top = measured.top;
    line.width = measured.width;
    line.height = measured.height;
    line.positioned = event.positioned;
    line.frame = event.playRes;
    const Placement framed = PlaceInFrame(line);
    if (PixelsOf(framed) > pgs::kMaxPlayerObjectPixels) {
      reporter.ScriptWarning(
          scriptPath, event.line,
          Describe("text of %lld x %lld pixels in a %lld x %lld frame is more "
                   "than a player holds in one picture; left out",
                   measured.width, measured.height, event.playRes.x, event.playRes.y));
      continue;
    }
    if (framed.cut) {
      reporter.ScriptWarning(
          scriptPath, event.line,
          Describe("text of %lld x %lld pixels is larger than the %lld x %lld "
                   "frame; only its bottom rows and middle columns are shown",
                   measured.width, measured.height, event.playRes.x, event.playRes.y));
    }
    plan.measured[i] = measured;
    face.KeepLayout(event.text);
    spans[i] = TimeSpan{event.start, event.end};
  }
  plan.timeline = BuildTimeline(spans);
  for (std::size_t i = 0; i < count; ++i) {
    lines[i].start = plan.timeline.spans[i].start;
    lines[i].end = plan.timeline.spans[i].end;
  }
  plan.placements = PlaceLines(lines);
  return plan;
}

// ---- Making one picture ----

PictureMaker::PictureMaker(InstructionSet set, bool frugal, ShadowCache* shadows)
    // Default-initialised, not value-initialised: the run-length buffers'
    // megabytes are not zero-filled, and take memory only as data reach them.
    : state_(new RunState), shadows_(shadows), set_(ChooseInstructionSet(set)), frugal_(frugal) {
  state_->shadow.instructionSet = set_;
  state_->workImage.instructionSet = set_;
  state_->quantiser.instructionSet = set_;
}

PictureResult PictureMaker::Make(const PictureJob& job) {
  try {
    PictureResult result = MakeOrThrow(job);
    if (frugal_) ReleaseLargeBuffers();
    return result;
  } catch (const std::bad_alloc&) {
    // The one place a failed allocation is caught while a picture is made:
    // the run stops and says where.
    PictureResult result;
    result.outcome = PictureResult::Outcome::kOutOfMemory;
    return result;
  }
}

PictureResult PictureMaker::MakeOrThrow(const PictureJob& job) {
  RunState& s = *state_;
  PictureResult result;
  // Render: the pictures of its lines, in script order (later ones drawn over
  // earlier ones where they touch), in one object spanning them all, unless
  // that passes what a player holds and the lines fall into a top and a
  // bottom group: then one object each.
  std::vector<Object> objects(1);
  for (std::size_t k = 0; k < job.lines.size(); ++k) {
    FinishLine(*job.lines[k], s.shadow, shadows_, &s.shadowCells);
    objects[0].lines.push_back(PlacedPicture{&job.lines[k]->Picture(), job.boxes[k]});
  }
  result.span = objects[0].span = SpanOf(job.boxes);
  const auto splitInTwo = [&]() {
    const std::vector<int> group = SplitTopAndBottom(job.boxes);
    if (group.empty()) return false;
    std::vector<Object> two(2);
    for (std::size_t k = 0; k < group.size(); ++k) {
      two[group[k]].lines.push_back(objects[0].lines[k]);
    }
    for (Object& o : two) {
      std::vector<Placement> own;
      for (const PlacedPicture& line : o.lines) own.push_back(line.box);
      o.span = SpanOf(own);
      if (PixelsOf(o.span) > pgs::kMaxPlayerObjectPixels) return false;
    }
    objects = std::move(two);
    return true;
  };
  if (PixelsOf(result.span) > pgs::kMaxPlayerObjectPixels && !splitInTwo()) {
    result.outcome = PictureResult::Outcome::kTooManyPixels;
    return result;
  }
  for (std::size_t k = 0; k < objects.size(); ++k) Compose(objects[k], s.canvas[k]);

  // Count the colours and code the runs; data too long for a player gets a
  // second chance as two objects.
  result.count = CountAndEncode(objects, result.longest);
  if (result.count.ok && result.longest > pgs::kMaxPlayerObjectData && objects.size() == 1 &&
      splitInTwo()) {
    for (std::size_t k = 0; k < objects.size(); ++k) Compose(objects[k], s.canvas[k]);
    result.count = CountAndEncode(objects, result.longest);
  }
  if (!result.count.ok) {
    result.outcome = PictureResult::Outcome::kColourError;
    return result;
  }
  if (result.longest > pgs::kMaxPlayerObjectData) {
    result.outcome = PictureResult::Outcome::kTooMuchData;
    return result;
  }

  // Write the display sets.
  PictureObject written[pgs::kMaxObjects];
  for (std::size_t k = 0; k < objects.size(); ++k) {
    const Placement& o = objects[k].span;
    written[k] = PictureObject{
        o.left, o.top, o.width, o.height, s.rleBuffer[k].bytes, s.rleBuffer[k].rleLength};
  }
  AppendDisplaySets(job.stretch->start, job.stretch->end, pgs::VideoSize{job.video.x, job.video.y},
                    s.colourTable, std::span<const PictureObject>(written, objects.size()),
                    result.segments);
  return result;
}

void PictureMaker::ReleaseLargeBuffers() {
  // What one large picture needed is given back, so that makers waiting for
  // work hold no more than a line's worth each, whatever their number.
  constexpr std::size_t kKeep = std::size_t{1} << 20;
  RunState& s = *state_;
  for (ArgbBitmap* b : {&s.canvas[0], &s.canvas[1], &s.stacked}) {
    if (b->memoryBytes() > kKeep) *b = ArgbBitmap();
  }
  if (s.workImage.pixels.capacity() > kKeep) {
    const InstructionSet set = s.workImage.instructionSet;
    s.workImage = WorkImage();
    s.workImage.instructionSet = set;
  }
}

const ArgbBitmap& PictureMaker::Draw(const PictureJob& job) {
  Object object;
  for (std::size_t k = 0; k < job.lines.size(); ++k) {
    FinishLine(*job.lines[k], state_->shadow, shadows_, &state_->shadowCells);
    object.lines.push_back(PlacedPicture{&job.lines[k]->Picture(), job.boxes[k]});
  }
  object.span = SpanOf(job.boxes);
  Compose(object, state_->canvas[0]);
  ClearUnused(object);
  return *object.picture;
}

void PictureMaker::Compose(Object& object, ArgbBitmap& canvas) {
  // A picture of one line is that line's own picture.
  const PlacedPicture& first = object.lines.front();
  if (object.lines.size() == 1 && first.box.width == object.span.width &&
      first.box.height == object.span.height) {
    object.picture = first.picture;
    return;
  }
  ComposePicture(object.lines, object.span, canvas, object.rowUsed);
  object.canvas = &canvas;
  object.picture = &canvas;
}

void PictureMaker::ClearUnused(Object& object) {
  if (object.canvas != nullptr) ClearUnusedRows(object.rowUsed, *object.canvas);
}

ColourCount PictureMaker::CountAndEncode(std::vector<Object>& objects, std::int64_t& longest) {
  RunState& s = *state_;
  ColourCount count;
  longest = 0;
  if (objects.size() == 1) {
    const ArgbBitmap& picture = *objects[0].picture;
    // The fast form first: one pass over the picture counts its colours
    // and codes its runs, and gives the final table and data whenever the
    // table never fills. Otherwise the picture takes the long way: loaded,
    // counted (reduced first when the count says so), then coded.
    Object& object = objects[0];
    const ScanResult scan =
        EncodeRleWhileCounting(picture, s.colourTable, s.rleBuffer[0],
                               object.canvas != nullptr ? object.rowUsed.data() : nullptr, set_);
    if (scan.end == ScanEnd::kComplete) {
      count = JudgeColourCount(s.colourTable, scan);
    } else {
      ClearUnused(object);
      LoadPixels(picture, s.workImage);
      count = CountColours(s.workImage, s.colourTable, s.quantiser);
      if (count.ok) EncodeRle(s.workImage, s.colourTable, s.rleBuffer[0]);
    }
    longest = s.rleBuffer[0].rleLength;
    return count;
  }
  // Two objects share one palette: their pictures are counted (and reduced)
  // together, one above the other, then each is coded on its own.
  ClearUnused(objects[0]);
  ClearUnused(objects[1]);
  const ArgbBitmap& top = *objects[0].picture;
  const ArgbBitmap& bottom = *objects[1].picture;
  s.stacked.Reset(std::max(top.width(), bottom.width()), top.height() + bottom.height(), 0);
  for (int y = 0; y < top.height(); ++y) std::copy_n(top.Row(y), top.width(), s.stacked.Row(y));
  for (int y = 0; y < bottom.height(); ++y) {
    std::copy_n(bottom.Row(y), bottom.width(), s.stacked.Row(top.height() + y));
  }
  LoadPixels(s.stacked, s.workImage);
  count = CountColours(s.workImage, s.colourTable, s.quantiser);
  if (!count.ok) return count;
  for (int k = 0; k < 2; ++k) {
    const ArgbBitmap& picture = *objects[k].picture;
    WorkImage part;
    part.instructionSet = set_;
    part.width = picture.width();
    part.height = picture.height();
    const int first = k == 0 ? 0 : top.height();
    part.rows.assign(s.workImage.rows.begin() + first,
                     s.workImage.rows.begin() + first + picture.height());
    EncodeRle(part, s.colourTable, s.rleBuffer[k]);
    longest = std::max<std::int64_t>(longest, s.rleBuffer[k].rleLength);
  }
  return count;
}

// ---- Picture makers on threads of their own ----

namespace {
// What a picture being made may take per pixel of its span: the composed
// picture, a loaded copy for the quantiser and its display sets.
constexpr std::int64_t kBytesPerPixel = 12;
}  // namespace

// Makes submitted jobs on worker threads and hands them back oldest first.
// The thread that waits for them makes jobs too while it waits.
class Pipeline::Workers {
 public:
  // `count` threads of their own; `frugal` for their makers (see PictureMaker).
  Workers(int count, InstructionSet set, bool frugal, ShadowCache* shadows) {
    for (int i = 0; i < count; ++i) {
      try {
        makers_.push_back(std::make_unique<PictureMaker>(set, frugal, shadows));
        threads_.emplace_back([this, maker = makers_.back().get()] { Run(*maker); });
      } catch (const std::exception&) {
        // No more threads (an address-space limit, say): the run goes on
        // with those it has.
        if (makers_.size() > threads_.size()) makers_.pop_back();
        break;
      }
    }
  }
  ~Workers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    workAvailable_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  int started() const { return static_cast<int>(threads_.size()); }
  std::size_t inFlight() const { return order_.size(); }
  std::int64_t bytesInFlight() const { return bytes_; }

  void Submit(PictureJob job) {
    auto slot = std::make_shared<Slot>();
    slot->bytes = kBytesPerPixel * PixelsOf(SpanOf(job.boxes));
    slot->job = std::move(job);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      order_.push_back(slot);
      pending_.push_back(slot);
      bytes_ += slot->bytes;
    }
    workAvailable_.notify_one();
  }

  // Waits for the oldest job and takes it back with its result. Until it
  // is done, jobs that no worker has started are made with `helper`, on the
  // caller's thread.
  void TakeOldest(PictureJob& job, PictureResult& result, PictureMaker& helper) {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::shared_ptr<Slot> slot = order_.front();
    while (!slot->done) {
      if (pending_.empty()) {
        jobDone_.wait(lock);
        continue;
      }
      const std::shared_ptr<Slot> other = pending_.front();
      pending_.pop_front();
      lock.unlock();
      PictureResult made = helper.Make(other->job);
      lock.lock();
      other->result = std::move(made);
      other->done = true;
    }
    order_.pop_front();
    bytes_ -= slot->bytes;
    job = std::move(slot->job);
    result = std::move(slot->result);
  }

 private:
  struct Slot {
    PictureJob job;
    PictureResult result;
    std::int64_t bytes = 0;  // the picture's pixels, an estimate of its memory
    bool done = false;
  };

  void Run(PictureMaker& maker) {
    while (true) {
      std::shared_ptr<Slot> slot;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        workAvailable_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (stopping_) return;
        slot = pending_.front();
        pending_.pop_front();
      }
      PictureResult result = maker.Make(slot->job);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        slot->result = std::move(result);
        slot->done = true;
      }
      jobDone_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable jobDone_;
  std::deque<std::shared_ptr<Slot>> order_;    // submitted and not yet taken, oldest first
  std::deque<std::shared_ptr<Slot>> pending_;  // not yet started
  std::int64_t bytes_ = 0;
  bool stopping_ = false;
  std::vector<std::unique_ptr<PictureMaker>> makers_;
  std::vector<std::thread> threads_;
};

// ---- The pipeline ----

Pipeline::Pipeline(const Plan& plan, TextFace& face, OutputFile& out, Reporter& reporter,
                   int threads, InstructionSet set)
    : plan_(plan),
      face_(face),
      out_(out),
      reporter_(reporter),
      maker_(set, threads > 2, &shadows_) {
  // This thread makes pictures too while it waits for the workers. Two
  // makers may keep what their largest pictures took; more give it back
  // after every picture, so that memory does not grow with the number of
  // cores.
  if (threads > 1) {
    workers_ = std::make_unique<Workers>(threads - 1, set, threads > 2, &shadows_);
    if (workers_->started() == 0) workers_.reset();
  }
}

Pipeline::~Pipeline() = default;

PictureJob Pipeline::Prepare(const Stretch& stretch) {
  PictureJob job;
  job.stretch = &stretch;
  const SubtitleEvent& first = plan_.events[stretch.lines.front()];
  job.video = first.playRes;
  job.firstLine = first.line;
  linePictures_.BeginStretch();
  for (int line : stretch.lines) {
    std::shared_ptr<LinePicture> picture = linePictures_.Find(line);
    if (picture == nullptr) {
      picture = std::make_shared<LinePicture>();
      LayOutLineText(plan_.events[line], plan_.measured[line], plan_.placements[line], face_,
                     *picture);
      linePictures_.Keep(line, picture);
    }
    job.lines.push_back(std::move(picture));
    job.boxes.push_back(plan_.placements[line]);
  }
  // Lines that leave the screen give their pictures up (a job still using
  // one keeps it alive).
  for (int line : stretch.lines) {
    if (plan_.timeline.spans[line].end <= stretch.end) linePictures_.Drop(line);
  }
  return job;
}

void Pipeline::Publish(const PictureJob& job, const PictureResult& result) {
  const Stretch& stretch = *job.stretch;
  reporter_.PictureStart(stretch.start, stretch.end);
  using Outcome = PictureResult::Outcome;
  if (result.outcome == Outcome::kTooManyPixels) {
    reporter_.TooManyPixels(result.span.width, result.span.height, stretch.start, stretch.end);
  } else {
    if (result.count.quantised) reporter_.Learning(result.count.learning);
    if (result.outcome == Outcome::kColourError) {
      reporter_.ColourError();
    } else {
      reporter_.Colours(result.span.width, result.span.height, result.count.entryCount);
      if (result.outcome == Outcome::kTooMuchData) {
        reporter_.TooMuchData(result.longest, stretch.start, stretch.end);
      }
    }
  }
  if (result.outcome == Outcome::kWritten) out_.Write(result.segments);
  reporter_.PictureEnd(result.span.left, result.span.top);
}

bool Pipeline::WriteAll(const std::string& scriptPath) {
  // Jobs made ahead of the writer: four per thread, and no more pixels
  // than a handful of large pictures take. With two per thread, the workers
  // ran out of jobs while this thread drew the text of a stretch of several
  // lines or made a large picture itself (40 ms idle of 300 on the layered
  // benchmark, against 28 with four, half of which is the final rename).
  constexpr std::int64_t kBytesAhead = std::int64_t{16} << 20;
  const std::size_t jobsAhead =
      workers_ ? 4 * static_cast<std::size_t>(workers_->started() + 1) : 0;
  PictureJob job;
  PictureResult result;
  // Publishes the oldest job of the workers; false after running out of memory.
  const auto publishOldest = [&]() {
    workers_->TakeOldest(job, result, maker_);
    if (result.outcome == PictureResult::Outcome::kOutOfMemory) {
      reporter_.OutOfMemoryDrawing(scriptPath, job.firstLine);
      return false;
    }
    Publish(job, result);
    return true;
  };
  for (const Stretch& stretch : plan_.timeline.stretches) {
    if (out_.failed()) break;
    PictureJob next;
    try {
      next = Prepare(stretch);
    } catch (const std::bad_alloc&) {
      reporter_.OutOfMemoryDrawing(scriptPath, plan_.events[stretch.lines.front()].line);
      return false;
    }
    if (!workers_) {
      result = maker_.Make(next);
      if (result.outcome == PictureResult::Outcome::kOutOfMemory) {
        reporter_.OutOfMemoryDrawing(scriptPath, next.firstLine);
        return false;
      }
      Publish(next, result);
      continue;
    }
    workers_->Submit(std::move(next));
    while (workers_->inFlight() > jobsAhead ||
           (workers_->inFlight() > 1 && workers_->bytesInFlight() > kBytesAhead)) {
      if (!publishOldest()) return false;
    }
  }
  while (workers_ && workers_->inFlight() > 0) {
    if (!publishOldest()) return false;
  }
  return true;
}

const ArgbBitmap& Pipeline::DrawStretch(const Stretch& stretch, Placement& span) {
  // The job is kept: a picture of one line is that line's own picture.
  drawn_ = Prepare(stretch);
  span = SpanOf(drawn_.boxes);
  return maker_.Draw(drawn_);
}

}  // namespace kelpie
