// Speed of the stages a finished group picture goes through, fast and plain
// forms side by side: loading it into the WorkImage, counting its colours and
// run-length coding it (apart, and in the one pass the compositor uses). The pictures are subtitle
// lines drawn in the subtitle font with their shadow, as the compositor makes them: white Latin
// text of one and two lines, a Japanese line and a coloured line.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "colour/colour_table.h"
#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"
#include "pgs/rle_encoder.h"
#include "platform/text_face.h"
#include "render/shadow.h"

namespace kelpie {
namespace {

struct Line {
  const char* text;
  Argb colour;
};

const Line kLines[] = {
    {"Could people make their way down to the water?", 0xFFFFFFFF},
    {"Find the first number and write it down\nbefore the long day is over", 0xFFFFFFFF},
    {"今日は天気がいいですね。東京駅で会いましょう", 0xFFFFFFFF},
    {"Each of them said there was no other way", 0xFF80FF80},
    {"Oil and water", 0xFFFFFF00},
};

// The pictures, made once; empty when the machine has no font.
const std::vector<ArgbBitmap>& Pictures() {
  static const std::vector<ArgbBitmap> pictures = [] {
    std::vector<ArgbBitmap> made;
    std::string error;
    std::unique_ptr<TextFace> face = TextFace::OpenSubtitleFont(error);
    if (face == nullptr) return made;
    ShadowScratch scratch;
    for (const Line& line : kLines) {
      const TextBox box = face->Measure(line.text);
      ArgbBitmap picture;
      picture.Reset(static_cast<int>(box.width), static_cast<int>(box.height), 0x00FFFFFF);
      face->Draw(line.text, line.colour, picture);
      ApplyShadow(picture, scratch);
      made.push_back(std::move(picture));
    }
    return made;
  }();
  return pictures;
}

std::int64_t PixelCount() {
  std::int64_t n = 0;
  for (const ArgbBitmap& p : Pictures()) n += std::int64_t{p.width()} * p.height();
  return n;
}

void LoadAll(benchmark::State& state, void (*load)(const ArgbBitmap&, WorkImage&)) {
  if (Pictures().empty()) {
    state.SkipWithError("no font");
    return;
  }
  WorkImage image;
  for (auto _ : state) {
    for (const ArgbBitmap& picture : Pictures()) {
      load(picture, image);
      benchmark::DoNotOptimize(image.pixels.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * PixelCount());
}

void BM_LoadPixels(benchmark::State& state) {
  LoadAll(state, LoadPixels);
}
void BM_LoadPixelsReference(benchmark::State& state) {
  LoadAll(state, LoadPixelsReference);
}
BENCHMARK(BM_LoadPixels);
BENCHMARK(BM_LoadPixelsReference);

std::vector<WorkImage> LoadedPictures() {
  std::vector<WorkImage> images(Pictures().size());
  for (std::size_t i = 0; i < images.size(); ++i) LoadPixels(Pictures()[i], images[i]);
  return images;
}

void ScanAll(benchmark::State& state, ScanResult (*scan)(const WorkImage&, ColourTable&, bool)) {
  if (Pictures().empty()) {
    state.SkipWithError("no font");
    return;
  }
  const std::vector<WorkImage> images = LoadedPictures();
  ColourTable table;
  for (auto _ : state) {
    for (const WorkImage& image : images) {
      benchmark::DoNotOptimize(scan(image, table, /*probe=*/true));
    }
  }
  state.SetItemsProcessed(state.iterations() * PixelCount());
}

void BM_ScanColours(benchmark::State& state) {
  ScanAll(state, ScanColours);
}
void BM_ScanColoursReference(benchmark::State& state) {
  ScanAll(state, ScanColoursReference);
}
BENCHMARK(BM_ScanColours);
BENCHMARK(BM_ScanColoursReference);

void EncodeAll(benchmark::State& state,
               bool (*encode)(const WorkImage&, const ColourTable&, RleBuffer&)) {
  if (Pictures().empty()) {
    state.SkipWithError("no font");
    return;
  }
  const std::vector<WorkImage> images = LoadedPictures();
  std::vector<ColourTable> tables(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) ScanColours(images[i], tables[i], false);
  auto rle = std::make_unique<RleBuffer>();
  std::int64_t bytes = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < images.size(); ++i) {
      encode(images[i], tables[i], *rle);
      bytes += rle->rleLength;
    }
  }
  state.SetItemsProcessed(state.iterations() * PixelCount());
  state.counters["rle_bytes_per_pass"] =
      static_cast<double>(bytes) / static_cast<double>(state.iterations());
}

void BM_EncodeRle(benchmark::State& state) {
  EncodeAll(state, EncodeRle);
}
void BM_EncodeRleReference(benchmark::State& state) {
  EncodeAll(state, EncodeRleReference);
}
BENCHMARK(BM_EncodeRle);
BENCHMARK(BM_EncodeRleReference);

// Counting and coding as the pipeline does them: one pass, or loading,
// counting and coding one after the other.
void CountAndEncodeAll(benchmark::State& state, bool together) {
  if (Pictures().empty()) {
    state.SkipWithError("no font");
    return;
  }
  WorkImage image;
  ColourTable table;
  auto quantiser = std::make_unique<Quantiser>();
  auto rle = std::make_unique<RleBuffer>();
  for (auto _ : state) {
    for (const ArgbBitmap& picture : Pictures()) {
      if (together) {
        benchmark::DoNotOptimize(EncodeRleWhileCounting(picture, table, *rle));
      } else {
        LoadPixels(picture, image);
        CountColours(image, table, *quantiser);
        benchmark::DoNotOptimize(EncodeRle(image, table, *rle));
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * PixelCount());
}

void BM_CountColoursAndEncodeRle(benchmark::State& state) {
  CountAndEncodeAll(state, true);
}
void BM_LoadCountThenEncodeRle(benchmark::State& state) {
  CountAndEncodeAll(state, false);
}
BENCHMARK(BM_CountColoursAndEncodeRle);
BENCHMARK(BM_LoadCountThenEncodeRle);

}  // namespace
}  // namespace kelpie

BENCHMARK_MAIN();
