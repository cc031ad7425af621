// Times the text shadow on pictures shaped like rendered subtitle lines: one
// line of about 900 x 60 pixels and three lines of 900 x 180, drawn as white
// glyph-like strokes with anti-aliased edges (about a fifth of the pixels
// visible), and the same with real text in the subtitle font.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "platform/bitmap.h"
#include "platform/text_face.h"
#include "render/shadow.h"

namespace {

// Adds a white rectangle [left, right) x [top, bottom) in fractional pixels,
// each pixel's alpha its covered area (the larger where strokes overlap).
void FillStroke(kelpie::ArgbBitmap& picture, double left, double top, double right, double bottom) {
  const int x0 = std::max(0, static_cast<int>(std::floor(left)));
  const int y0 = std::max(0, static_cast<int>(std::floor(top)));
  const int x1 = std::min(picture.width(), static_cast<int>(std::ceil(right)));
  const int y1 = std::min(picture.height(), static_cast<int>(std::ceil(bottom)));
  for (int y = y0; y < y1; ++y) {
    const double cy = std::min<double>(y + 1, bottom) - std::max<double>(y, top);
    for (int x = x0; x < x1; ++x) {
      const double cx = std::min<double>(x + 1, right) - std::max<double>(x, left);
      const unsigned alpha = static_cast<unsigned>(std::lround(255 * cx * cy));
      const kelpie::Argb old = picture.Pixel(x, y);
      if (alpha > kelpie::AlphaOf(old))
        picture.SetPixel(x, y, kelpie::MakeArgb(alpha, 255, 255, 255));
    }
  }
}

// Lines of glyph-like shapes: stems, bars and dots on a 21-pixel advance,
// with word gaps, over a transparent white background.
kelpie::ArgbBitmap TextLikePicture(int width, int lines) {
  constexpr int kLineHeight = 60;
  kelpie::ArgbBitmap picture(width, lines * kLineHeight);
  picture.Clear(0x00FFFFFF);
  std::mt19937 random(2024);
  std::uniform_real_distribution<double> jitter(0.0, 1.0);
  for (int line = 0; line < lines; ++line) {
    const double baseline = line * kLineHeight + 46.3;
    double x = 4.4;
    while (x + 20 < width) {
      if (jitter(random) < 0.17) {  // word gap
        x += 11.0;
        continue;
      }
      const double top = baseline - (jitter(random) < 0.3 ? 29.0 : 20.5);
      const double stem = 3.6;
      FillStroke(picture, x, top, x + stem, baseline);
      if (jitter(random) < 0.7) FillStroke(picture, x + 11.3, top, x + 11.3 + stem, baseline);
      FillStroke(picture, x, top, x + 14.9, top + 3.3);
      if (jitter(random) < 0.5) FillStroke(picture, x, baseline - 3.3, x + 14.9, baseline);
      if (jitter(random) < 0.4)
        FillStroke(picture, x, (top + baseline) / 2 - 1.6, x + 14.9, (top + baseline) / 2 + 1.7);
      if (jitter(random) < 0.15) FillStroke(picture, x + 5.2, baseline, x + 8.8, baseline + 8.5);
      x += 20.6 + jitter(random) * 2;
    }
  }
  return picture;
}

double Coverage(const kelpie::ArgbBitmap& picture) {
  long visible = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) visible += kelpie::AlphaOf(picture.Pixel(x, y)) != 0;
  return static_cast<double>(visible) / (static_cast<double>(picture.width()) * picture.height());
}

// Runs the effect on a fresh copy of the picture each time; only the
// effect is timed.
void RunShadow(benchmark::State& state, const std::function<void(kelpie::ArgbBitmap&)>& effect) {
  const kelpie::ArgbBitmap original = TextLikePicture(900, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    kelpie::ArgbBitmap picture = original;
    state.ResumeTiming();
    effect(picture);
    benchmark::DoNotOptimize(picture.Row(0));
  }
  state.counters["coverage"] = Coverage(original);
}

void BM_ShadowReference(benchmark::State& state) {
  RunShadow(state, [](kelpie::ArgbBitmap& picture) { kelpie::ApplyShadowReference(picture); });
}

// A fresh scratch each time, as ApplyShadow(text) alone does.
void BM_Shadow(benchmark::State& state) {
  RunShadow(state, [](kelpie::ArgbBitmap& picture) { kelpie::ApplyShadow(picture); });
}

// One scratch reused, on the instruction set given by the second argument
// (0 SSE2, 1 AVX2, 2 AVX-512).
void BM_ShadowReusedScratch(benchmark::State& state) {
  const kelpie::InstructionSet sets[] = {kelpie::InstructionSet::kSse2,
                                         kelpie::InstructionSet::kAvx2,
                                         kelpie::InstructionSet::kAvx512};
  const kelpie::InstructionSet set = sets[state.range(1)];
  if (!kelpie::InstructionSetSupported(set)) {
    state.SkipWithError("instruction set not supported here");
    return;
  }
  kelpie::ShadowScratch scratch;
  scratch.instructionSet = set;
  RunShadow(state, [&](kelpie::ArgbBitmap& picture) { kelpie::ApplyShadow(picture, scratch); });
}

// Real text in the subtitle font, when the machine has one: a line of about
// 900 x 56 pixels, and three such lines. Second argument: 0 the plain
// effect, 1 the fast one with a reused scratch on the widest set, 2 to 4 the
// fast one on SSE2, AVX2 and AVX-512.
void BM_ShadowText(benchmark::State& state) {
  std::string error;
  const std::unique_ptr<kelpie::TextFace> face = kelpie::TextFace::OpenSubtitleFont(error);
  if (face == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  const std::string text = state.range(0) == 1 ? "Never thought we would meet again."
                                               : "Never thought we would meet again.\n"
                                                 "Neither did I, yet here we stand,\n"
                                                 "in the rain on the same old street.";
  const kelpie::TextBox box = face->Measure(text);
  kelpie::ArgbBitmap original(static_cast<int>(box.width), static_cast<int>(box.height));
  original.Clear(0x00FFFFFF);
  face->Draw(text, 0xFFFFFFFF, original);
  kelpie::ShadowScratch scratch;
  if (state.range(1) >= 2) {
    const kelpie::InstructionSet sets[] = {kelpie::InstructionSet::kSse2,
                                           kelpie::InstructionSet::kAvx2,
                                           kelpie::InstructionSet::kAvx512};
    scratch.instructionSet = sets[state.range(1) - 2];
    if (!kelpie::InstructionSetSupported(scratch.instructionSet)) {
      state.SkipWithError("instruction set not supported here");
      return;
    }
  }
  for (auto _ : state) {
    state.PauseTiming();
    kelpie::ArgbBitmap picture = original;
    state.ResumeTiming();
    if (state.range(1) == 0) {
      kelpie::ApplyShadowReference(picture);
    } else {
      kelpie::ApplyShadow(picture, scratch);
    }
    benchmark::DoNotOptimize(picture.Row(0));
  }
  state.counters["width"] = original.width();
  state.counters["height"] = original.height();
  state.counters["coverage"] = Coverage(original);
}

BENCHMARK(BM_ShadowReference)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Shadow)->Arg(1)->Arg(3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShadowReusedScratch)->ArgsProduct({{1, 3}, {0, 1, 2}})->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_ShadowText)->ArgsProduct({{1, 3}, {0, 1, 2, 3, 4}})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
