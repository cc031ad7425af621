// Time to quantise a 1000 x 200 subtitle-like picture: a transparent
// background, rows of glyph-like strokes in several colours with
// anti-aliased edges and a soft dark shadow, so the picture has thousands of
// colours and many alpha levels.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"

namespace kelpie {
namespace {

WorkImage TextLikePicture(int width, int height) {
  WorkImage image;
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<std::size_t>(width) * height * 4, 0);
  for (int r = 0; r < height; ++r) image.rows.push_back(image.pixels.data() + 4 * width * r);
  std::uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  // Glyph cells of 24 x 40 pixels on two text lines.
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int cell = x / 24, line = y / 100;
      const int cx = x % 24, cy = y % 100 - 30;
      std::uint8_t* p = image.rows[y] + 4 * x;
      if (cy < 0 || cy >= 44 || (cell * 7 + line) % 11 == 0) continue;  // gaps between words
      // A stroke: distance from a slanted bar and a ring, in 1/16 pixel.
      const int bar = std::abs((cx - 12) * 16 - (cy - 20) * 4 * ((cell % 3) - 1));
      const int dx = cx - 12, dy = cy - 20;
      const int ring = std::abs(dx * dx + dy * dy - 81) * 2;
      const int edge = std::min(bar, ring);
      if (edge < 40) {  // glyph body with an anti-aliased rim
        const int alpha = edge < 16 ? 255 : 255 - (edge - 16) * 10;
        const int hue = (cell * 37 + line * 91) % 256;
        p[0] = static_cast<std::uint8_t>(255 - hue / 4 - static_cast<int>(next() % 8));
        p[1] = static_cast<std::uint8_t>(200 + hue / 5);
        p[2] = static_cast<std::uint8_t>(hue);
        p[3] = static_cast<std::uint8_t>(alpha);
      } else if (edge < 120) {  // shadow fading out
        p[0] = p[1] = p[2] = static_cast<std::uint8_t>(next() % 24);
        p[3] = static_cast<std::uint8_t>(200 - (edge - 40) * 5 / 2);
      } else {
        p[0] = static_cast<std::uint8_t>(next());  // transparent, leftover bytes
      }
    }
  }
  return image;
}

// The fast quantiser on the instruction set given by the argument (0 SSE2,
// 1 AVX2, 2 AVX-512), and the plain one.
void BM_QuantiseImage(benchmark::State& state) {
  const InstructionSet sets[] = {InstructionSet::kSse2, InstructionSet::kAvx2,
                                 InstructionSet::kAvx512};
  const InstructionSet set = sets[state.range(0)];
  if (!InstructionSetSupported(set)) {
    state.SkipWithError("instruction set not supported here");
    return;
  }
  const WorkImage source = TextLikePicture(1000, 200);
  WorkImage image = source;
  auto quantiser = std::make_unique<Quantiser>();
  quantiser->instructionSet = set;
  for (auto _ : state) {
    image.pixels = source.pixels;
    QuantiseImage(image, *quantiser);
    benchmark::DoNotOptimize(image.pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * 1000 * 200);
}
BENCHMARK(BM_QuantiseImage)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_QuantiseImageReference(benchmark::State& state) {
  const WorkImage source = TextLikePicture(1000, 200);
  WorkImage image = source;
  auto quantiser = std::make_unique<Quantiser>();
  for (auto _ : state) {
    image.pixels = source.pixels;
    QuantiseImageReference(image, *quantiser);
    benchmark::DoNotOptimize(image.pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * 1000 * 200);
}
BENCHMARK(BM_QuantiseImageReference)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelpie

BENCHMARK_MAIN();
