#include "driver/pipeline.h"

#include <algorithm>
#include <cstdio>

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

Pipeline::Pipeline(const Plan& plan, TextFace& face, OutputFile& out, Reporter& reporter)
    : plan_(plan),
      face_(face),
      out_(out),
      reporter_(reporter),
      state_(std::make_unique<RunState>()) {}

const ArgbBitmap& Pipeline::LinePicture(int line) {
  if (const ArgbBitmap* kept = linePictures_.Find(line)) return *kept;
  ArgbBitmap& picture = linePictures_.Canvas();
  DrawLine(plan_.events[line], plan_.measured[line], plan_.placements[line], face_, state_->render,
           picture);
  return linePictures_.Keep(line);
}

void Pipeline::Compose(Object& object, ArgbBitmap& canvas) {
  // A picture of one line is that line's own picture.
  const PlacedPicture& first = object.lines.front();
  if (object.lines.size() == 1 && first.box.width == object.span.width &&
      first.box.height == object.span.height) {
    object.picture = first.picture;
    return;
  }
  ComposePicture(object.lines, object.span, canvas);
  object.picture = &canvas;
}

const ArgbBitmap& Pipeline::DrawStretch(const Stretch& stretch, Placement& span) {
  linePictures_.BeginStretch();
  Object object;
  std::vector<Placement> boxes;
  for (int line : stretch.lines) {
    object.lines.push_back(PlacedPicture{&LinePicture(line), plan_.placements[line]});
    boxes.push_back(plan_.placements[line]);
  }
  object.span = span = SpanOf(boxes);
  Compose(object, state_->canvas[0]);
  return *object.picture;
}

void Pipeline::WriteStretch(const Stretch& stretch) {
  RunState& s = *state_;
  reporter_.PictureStart(stretch.start, stretch.end);
  linePictures_.BeginStretch();

  // The pictures of its lines, in script order: later ones are drawn over
  // earlier ones where they touch.
  std::vector<Object> objects(1);
  std::vector<Placement> boxes;
  for (int line : stretch.lines) {
    objects[0].lines.push_back(PlacedPicture{&LinePicture(line), plan_.placements[line]});
    boxes.push_back(plan_.placements[line]);
  }
  const Placement span = SpanOf(boxes);
  objects[0].span = span;

  // One object spanning them all, unless that passes what a player holds
  // and the lines fall into a top and a bottom group: then one object each.
  const auto splitInTwo = [&]() {
    const std::vector<int> group = SplitTopAndBottom(boxes);
    if (group.empty()) return false;
    std::vector<Object> two(2);
    for (std::size_t k = 0; k < group.size(); ++k)
      two[group[k]].lines.push_back(objects[0].lines[k]);
    for (Object& o : two) {
      std::vector<Placement> own;
      for (const PlacedPicture& line : o.lines) own.push_back(line.box);
      o.span = SpanOf(own);
      if (PixelsOf(o.span) > pgs::kMaxPlayerObjectPixels) return false;
    }
    objects = std::move(two);
    return true;
  };
  bool left = PixelsOf(span) > pgs::kMaxPlayerObjectPixels && !splitInTwo();
  if (left) {
    reporter_.TooManyPixels(span.width, span.height, stretch.start, stretch.end);
  }

  Coded coded;
  if (!left) {
    for (std::size_t k = 0; k < objects.size(); ++k) Compose(objects[k], s.canvas[k]);
    coded = CountAndEncode(objects);
    if (coded.count.ok && coded.longest > pgs::kMaxPlayerObjectData && objects.size() == 1 &&
        splitInTwo()) {
      for (std::size_t k = 0; k < objects.size(); ++k) Compose(objects[k], s.canvas[k]);
      coded = CountAndEncode(objects);
    }
    if (coded.count.quantised) reporter_.Learning(coded.count.learning);
    if (!coded.count.ok) {
      reporter_.ColourError();
      left = true;
    } else {
      reporter_.Colours(span.width, span.height, coded.count.entryCount);
      if (coded.longest > pgs::kMaxPlayerObjectData) {
        reporter_.TooMuchData(coded.longest, stretch.start, stretch.end);
        left = true;
      }
    }
  }

  if (!left) {
    PictureObject written[pgs::kMaxObjects];
    for (std::size_t k = 0; k < objects.size(); ++k) {
      const Object& o = objects[k];
      written[k] = PictureObject{o.span.left,   o.span.top,           o.span.width,
                                 o.span.height, s.rleBuffer[k].bytes, s.rleBuffer[k].rleLength};
    }
    // The video is the one of the picture's first line in script order.
    const PlayRes& video = plan_.events[stretch.lines.front()].playRes;
    s.segments.clear();
    AppendDisplaySets(stretch.start, stretch.end, pgs::VideoSize{video.x, video.y}, s.colourTable,
                      std::span<const PictureObject>(written, objects.size()), s.segments);
    out_.Write(s.segments);
  }
  reporter_.PictureEnd(span.left, span.top);

  // Lines that leave the screen give their pictures up.
  for (int line : stretch.lines) {
    if (plan_.timeline.spans[line].end <= stretch.end) linePictures_.Drop(line);
  }
}

Pipeline::Coded Pipeline::CountAndEncode(std::vector<Object>& objects) {
  RunState& s = *state_;
  Coded coded;
  if (objects.size() == 1) {
    const ArgbBitmap& picture = *objects[0].picture;
    // The fast form first: one pass over the picture counts its colours
    // and codes its runs, and gives the final table and data whenever the
    // table never fills. Otherwise the picture takes the long way: loaded,
    // counted (reduced first when the count says so), then coded.
    const ScanResult scan = EncodeRleWhileCounting(picture, s.colourTable, s.rleBuffer[0]);
    if (scan.end == ScanEnd::kComplete) {
      coded.count = JudgeColourCount(s.colourTable, scan);
    } else {
      LoadPixels(picture, s.workImage);
      coded.count = CountColours(s.workImage, s.colourTable, s.quantiser);
      if (coded.count.ok) EncodeRle(s.workImage, s.colourTable, s.rleBuffer[0]);
    }
    coded.longest = s.rleBuffer[0].rleLength;
    return coded;
  }
  // Two objects share one palette: their pictures are counted (and reduced)
  // together, one above the other, then each is coded on its own.
  const ArgbBitmap& top = *objects[0].picture;
  const ArgbBitmap& bottom = *objects[1].picture;
  s.stacked.Reset(std::max(top.width(), bottom.width()), top.height() + bottom.height(), 0);
  for (int y = 0; y < top.height(); ++y) std::copy_n(top.Row(y), top.width(), s.stacked.Row(y));
  for (int y = 0; y < bottom.height(); ++y) {
    std::copy_n(bottom.Row(y), bottom.width(), s.stacked.Row(top.height() + y));
  }
  LoadPixels(s.stacked, s.workImage);
  coded.count = CountColours(s.workImage, s.colourTable, s.quantiser);
  if (!coded.count.ok) return coded;
  for (int k = 0; k < 2; ++k) {
    const ArgbBitmap& picture = *objects[k].picture;
    WorkImage part;
    part.width = picture.width();
    part.height = picture.height();
    const int first = k == 0 ? 0 : top.height();
    part.rows.assign(s.workImage.rows.begin() + first,
                     s.workImage.rows.begin() + first + picture.height());
    EncodeRle(part, s.colourTable, s.rleBuffer[k]);
    coded.longest = std::max(coded.longest, s.rleBuffer[k].rleLength);
  }
  return coded;
}

}  // namespace kelpie
