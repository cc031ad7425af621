// Drives the timeline, wrapping, stacking and placement of lines with a fake
// text face (each character 10 pixels wide, each line 56 high; no fonts, so
// it runs fast) and checks on every input:
//   - the stretches are in time order, disjoint and never empty;
//   - every line is in the stretches of its whole span on screen and in no
//     other, and no line is lost but one too short to stay after merging;
//   - every box lies inside its frame;
//   - two unpositioned lines on screen together never overlap, unless the
//     later one was pushed to the top of the frame;
//   - every wrapped text line fits the frame, or is a single character.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/timeline.h"
#include "platform/text_face.h"
#include "render/compositor.h"
#include "render/placement.h"

namespace {

using namespace kelpie;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Code points per line, 10 pixels each, plus the 16-pixel margin.
class FakeFace : public TextFace {
 public:
  TextBox Measure(std::string_view text) override {
    int lines = 0;
    std::size_t widest = 0;
    std::size_t ink = 0;
    std::size_t begin = 0;
    while (begin <= text.size()) {
      std::size_t end = text.find('\n', begin);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(begin, end - begin);
      while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
      std::size_t chars = 0;
      for (char c : line) chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
      widest = std::max(widest, chars);
      ink += chars;
      ++lines;
      if (end == text.size()) break;
      begin = end + 1;
    }
    if (ink == 0) return {};
    return {static_cast<float>(10 * widest + 16), static_cast<float>(56 * lines)};
  }
  void Draw(std::string_view, Argb, ArgbBitmap&) override {}
};

const char* const kWords[] = {"a",        "the",
                              "subtitle", "longerwordwithoutbreaks",
                              "日本語",   "字幕",
                              "é",        "\xF0\x9F\x98\x80",
                              "-",        "www.example.com/a/long/path"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  FakeFace face;
  const PlayRes frame{input.ConsumeIntegralInRange<std::int32_t>(16, 2000),
                      input.ConsumeIntegralInRange<std::int32_t>(16, 1200)};
  std::vector<SubtitleEvent> events;
  while (input.remaining_bytes() > 0 && events.size() < 40) {
    SubtitleEvent e;
    e.start = input.ConsumeIntegralInRange<std::int32_t>(0, 3000);
    e.end = e.start + input.ConsumeIntegralInRange<std::int32_t>(-10, 1500);
    e.positioned = input.ConsumeBool();
    e.x = e.positioned ? input.ConsumeIntegralInRange<std::int32_t>(-500, 2500) : frame.x / 2;
    e.y = e.positioned ? input.ConsumeIntegralInRange<std::int32_t>(-500, 1700) : frame.y;
    e.playRes = frame;
    for (int w = input.ConsumeIntegralInRange<int>(0, 12); w > 0; --w) {
      e.text += kWords[input.ConsumeIntegralInRange<int>(0, std::size(kWords) - 1)];
      e.text += input.ConsumeBool() ? " " : (input.ConsumeBool() ? " \n" : "");
    }
    events.push_back(std::move(e));
  }

  // What the pipeline's planning does, with the fake face.
  std::vector<MeasuredLine> measured(events.size());
  std::vector<TimeSpan> spans(events.size());
  std::vector<LineToPlace> lines(events.size());
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (events[i].end <= events[i].start) continue;
    measured[i] = MeasureLine(events[i], face);
    if (measured[i].empty()) continue;
    lines[i] = LineToPlace{measured[i].left,   measured[i].top,      measured[i].width,
                           measured[i].height, events[i].positioned, frame};
    spans[i] = TimeSpan{events[i].start, events[i].end};
    // Every wrapped line fits, unless it is one character.
    std::size_t begin = 0;
    const std::string& text = events[i].text;
    while (begin <= text.size()) {
      std::size_t end = std::min(text.find('\n', begin), text.size());
      const std::string line = text.substr(begin, end - begin);
      const TextBox box = face.Measure(line);
      std::size_t chars = 0;
      for (char c : line) chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80 && c != ' ';
      Check(box.width <= static_cast<float>(frame.x) || chars <= 1);
      begin = end + 1;
    }
  }
  const Timeline timeline = BuildTimeline(spans);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    lines[i].start = timeline.spans[i].start;
    lines[i].end = timeline.spans[i].end;
  }
  const std::vector<Placement> placements = PlaceLines(lines);

  std::int32_t previousEnd = -1;
  std::vector<int> shown(events.size(), 0);
  for (const Stretch& s : timeline.stretches) {
    Check(s.start < s.end && s.start >= previousEnd && !s.lines.empty());
    previousEnd = s.end;
    for (int i : s.lines) {
      Check(timeline.spans[i].start <= s.start && s.end <= timeline.spans[i].end);
      shown[i] += s.end - s.start;
    }
  }
  for (std::size_t i = 0; i < events.size(); ++i) {
    const TimeSpan& span = timeline.spans[i];
    Check(shown[i] == span.end - span.start);
    // Only a line shorter than the merging lets pass may be lost.
    if (!measured[i].empty() && events[i].end - events[i].start >= 2 * kMinStretchMs) {
      Check(span.end > span.start);
    }
    if (span.end <= span.start) continue;
    const Placement& p = placements[i];
    Check(p.left >= 0 && p.top >= 0 && p.left + p.width <= frame.x && p.top + p.height <= frame.y);
    for (std::size_t j = 0; j < i; ++j) {
      const TimeSpan& other = timeline.spans[j];
      if (events[i].positioned || events[j].positioned || other.end <= other.start) continue;
      const bool together = span.start < other.end && other.start < span.end;
      if (!together || !Overlap(p, placements[j])) continue;
      // The one that came later was pushed to the top.
      const bool iLater = span.start > other.start || (span.start == other.start && i > j);
      Check((iLater ? p : placements[j]).top == 0);
    }
  }
  return 0;
}
