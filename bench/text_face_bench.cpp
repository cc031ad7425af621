// Speed of the text layer and of whole pictures: measuring and drawing a
// Latin and a Japanese line once their glyphs are cached, and planning and
// drawing every picture of examples/sample.ass (text, shadow, canvas).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "driver/pipeline.h"
#include "driver/reporter.h"
#include "driver/run_driver.h"
#include "platform/script_file.h"
#include "platform/text_face.h"

namespace kelpie {
namespace {

std::unique_ptr<TextFace> OpenFace() {
  std::string error;
  return TextFace::OpenSubtitleFont(error);
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

void BM_RenderSamplePictures(benchmark::State& state) {
  auto face = OpenFace();
  ScriptFile script;
  if (!face || !script.Open(KELPIE_SOURCE_DIR "/examples/sample.ass")) {
    state.SkipWithError("no font or no sample");
    return;
  }
  Console console;
  console.err = std::fopen("/dev/null", "w");
  Reporter reporter(console);
  const std::vector<SubtitleEvent> events = ReadEvents(script, "sample.ass", reporter);
  OutputFile noOutput;
  std::size_t pictures = 0;
  for (auto _ : state) {
    const Plan plan = PlanPictures(events, *face, reporter, "sample.ass");
    Pipeline pipeline(plan, *face, noOutput, reporter);
    for (const Stretch& stretch : plan.timeline.stretches) {
      Placement span;
      benchmark::DoNotOptimize(pipeline.DrawStretch(stretch, span).Row(0));
    }
    pictures = plan.timeline.stretches.size();
  }
  std::fclose(console.err);
  state.counters["pictures"] = static_cast<double>(pictures);
}
BENCHMARK(BM_RenderSamplePictures)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelpie

BENCHMARK_MAIN();
