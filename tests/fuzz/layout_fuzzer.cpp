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
#include <utility>
#include <vector>

#include "driver/timeline.h"
#include "platform/text_face.h"
#include "render/compositor.h"
#include "render/placement.h"

namespace {

using namespace kelpie;

// The code points of `s`, spaces only when `spaces`.
std::size_t Chars(std::string_view s, bool spaces = true) {
  auto counted = [=](unsigned char c) { return (c & 0xC0) != 0x80 && (spaces || c != ' '); };
  return std::count_if(s.begin(), s.end(), counted);
}

// The lines of `text`, split at line feeds.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t end; (end = text.find('\n')) != text.npos; text.remove_prefix(end + 1))
    lines.push_back(text.substr(0, end));
  lines.push_back(text);
  return lines;
}

// Code points per line, trailing spaces not counted, 10 pixels each, plus
// the 16-pixel margin.
struct FakeFace : TextFace {
  TextBox Measure(std::string_view text) override {
    std::size_t widest = 0;
    for (std::string_view line : Lines(text))
      widest = std::max(widest, Chars(line.substr(0, line.find_last_not_of(' ') + 1)));
    if (widest == 0) return {};
    return {static_cast<float>(10 * widest + 16), static_cast<float>(56 * Lines(text).size())};
  }
  void Draw(std::string_view, Argb, ArgbBitmap&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto check = [](bool ok) { return ok ? void() : __builtin_trap(); };
  FuzzedDataProvider input(data, size);
  FakeFace face;
  const PlayRes frame{input.ConsumeIntegralInRange<std::int32_t>(16, 2000),
                      input.ConsumeIntegralInRange<std::int32_t>(16, 1200)};
  // The words texts are made of.
  const std::vector<std::string_view> words = Lines(
      "a\nthe\nsubtitle\nlongerwordwithoutbreaks\n日本語\n字幕\né\n\xF0\x9F\x98\x80\n-\n"
      "www.example.com/a/long/path");
  // Random lines, each put through what the pipeline's planning does before
  // the timeline, with the fake face.
  std::vector<SubtitleEvent> events;
  std::vector<TimeSpan> spans;
  std::vector<LineToPlace> lines;
  while (input.remaining_bytes() > 0 && events.size() < 40) {
    SubtitleEvent& e = events.emplace_back();
    e.start = input.ConsumeIntegralInRange<std::int32_t>(0, 3000);
    e.end = e.start + input.ConsumeIntegralInRange<std::int32_t>(-10, 1500);
    e.positioned = input.ConsumeBool();
    e.x = e.positioned ? input.ConsumeIntegralInRange<std::int32_t>(-500, 2500) : frame.x / 2;
    e.y = e.positioned ? input.ConsumeIntegralInRange<std::int32_t>(-500, 1700) : frame.y;
    e.playRes = frame;
    for (int w = input.ConsumeIntegralInRange<int>(0, 12); w > 0; --w) {
      e.text += words[input.ConsumeIntegralInRange<int>(0, words.size() - 1)];
      e.text += input.ConsumeBool() ? " " : (input.ConsumeBool() ? " \n" : "");
    }
    const MeasuredLine m = e.end > e.start ? MeasureLine(e, face) : MeasuredLine{};
    lines.push_back(m.empty() ? LineToPlace{}
                              : LineToPlace{m.left, m.top, m.width, m.height, e.positioned, frame});
    spans.push_back(m.empty() ? TimeSpan{} : TimeSpan{e.start, e.end});
    // Every wrapped line fits, unless it is one character.
    for (std::string_view line : Lines(e.text))
      check(m.empty() || face.Measure(line).width <= frame.x || Chars(line, false) <= 1);
  }
  const Timeline timeline = BuildTimeline(spans);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    lines[i].start = timeline.spans[i].start;
    lines[i].end = timeline.spans[i].end;
  }
  const std::vector<Placement> placed = PlaceLines(lines);

  std::vector<int> shown(events.size(), 0);
  for (std::size_t k = 0; k < timeline.stretches.size(); ++k) {
    const Stretch& s = timeline.stretches[k];
    check(s.start < s.end && !s.lines.empty() &&
          (k == 0 || timeline.stretches[k - 1].end <= s.start));
    for (int i : s.lines) {
      check(timeline.spans[i].start <= s.start && s.end <= timeline.spans[i].end);
      shown[i] += s.end - s.start;
    }
  }
  for (std::size_t i = 0; i < events.size(); ++i) {
    const TimeSpan& span = timeline.spans[i];
    check(shown[i] == span.end - span.start);
    // Only a line shorter than the merging lets pass may be lost (lines[i]
    // stays empty for a line that has nothing to show).
    check(lines[i].width == 0 || events[i].end - events[i].start < 2 * kMinStretchMs ||
          span.end > span.start);
    if (span.end <= span.start) continue;
    const Placement& p = placed[i];
    check(p.left >= 0 && p.top >= 0 && p.left + p.width <= frame.x && p.top + p.height <= frame.y);
    for (std::size_t j = 0; j < i; ++j) {
      const TimeSpan& other = timeline.spans[j];
      if (events[i].positioned || events[j].positioned || other.end <= other.start) continue;
      if (span.start >= other.end || other.start >= span.end || !Overlap(p, placed[j])) continue;
      // The one that came later (or, at the same time, later in the script)
      // was pushed to the top.
      check((std::pair(span.start, i) > std::pair(other.start, j) ? p : placed[j]).top == 0);
    }
  }
  return 0;
}
