// Speed of the text layer and of whole group pictures: measuring and drawing
// a Latin and a Japanese line once their glyphs are cached, and rendering
// every group of examples/sample.ass (text, shadow, canvas).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "driver/event_grouper.h"
#include "driver/script_reader.h"
#include "platform/script_file.h"
#include "platform/text_face.h"
#include "render/compositor.h"

namespace kelpie {
namespace {

std::unique_ptr<TextFace> OpenFace() {
  std::string error;
  return TextFace::OpenSubtitleFont(&error);
}

void MeasureAndDraw(benchmark::State& state, const std::string& text) {
  auto face = OpenFace();
  if (!face) {
    state.SkipWithError("no font");
    return;
  }
  for (auto _ : state) {
    const TextBox box = face->Measure(text);
    ArgbBitmap picture(static_cast<int>(box.width), static_cast<int>(box.height));
    face->Draw(text, 0xFFFFFFFF, picture);
    benchmark::DoNotOptimize(picture.Row(0));
  }
}

void BM_Hello(benchmark::State& state) {
  MeasureAndDraw(state, "Hello");
}
BENCHMARK(BM_Hello);

void BM_JapaneseLine(benchmark::State& state) {
  MeasureAndDraw(state, "今日は天気がいいですね。");
}
BENCHMARK(BM_JapaneseLine);

void BM_RenderSampleGroups(benchmark::State& state) {
  auto face = OpenFace();
  ScriptFile script;
  if (!face || !script.Open(KELPIE_SOURCE_DIR "/examples/sample.ass")) {
    state.SkipWithError("no font or no sample");
    return;
  }
  PlayRes res;
  EventGrouper grouper;
  std::vector<std::vector<SubtitleEvent>> groups;
  std::vector<SubtitleEvent> group;
  SubtitleEvent event;
  std::string line, warning;
  while (script.NextLine(&line)) {
    if (ReadScriptLine(line, res, &event, &warning) == LineKind::kEvent &&
        grouper.Add(event, &group)) {
      groups.push_back(group);
    }
  }
  if (grouper.Finish(&group)) groups.push_back(group);
  for (auto _ : state) {
    for (const auto& g : groups) {
      GroupPicture p = RenderGroup(g, *face, res);
      benchmark::DoNotOptimize(p.picture.Row(0));
    }
  }
  state.counters["groups"] = static_cast<double>(groups.size());
}
BENCHMARK(BM_RenderSampleGroups)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelpie

BENCHMARK_MAIN();
