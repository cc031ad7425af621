#include "colour/quantiser.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "tests/pixel_helpers.h"

namespace kelpie {
namespace {

// A random subtitle-like picture: transparent pixels with leftover colour
// bytes, white, black at any alpha, and other colours opaque or not.
WorkImage RandomImage(int width, int height, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
  for (std::size_t n = 0; n < rgba.size(); n += 4) {
    const unsigned kind = random() % 8;
    for (int c = 0; c < 3; ++c) rgba[n + c] = kind == 3 ? 255 : kind == 4 ? 0 : random() % 256;
    rgba[n + 3] = kind < 3 ? 0 : kind == 3 || kind == 5 ? 255 : random() % 256;
  }
  WorkImage image;
  LoadRgbaPixels(width, height, rgba.data(), image);
  return image;
}

std::unique_ptr<Quantiser> NewQuantiser(InstructionSet set = InstructionSet::kBest) {
  auto q = std::make_unique<Quantiser>();
  q->instructionSet = set;
  Initialise(*q, nullptr, 0, kQuantiserGamma);
  return q;
}

TEST(QuantiserTest, TablesAndStep) {
  auto q = NewQuantiser();
  // 255 (i / 255)^(1 / 1.8) rounded half down; the exact values of 32, 85,
  // 161 and 206 lie nearest one half: 80.4948, 138.5073, 197.5094, 226.4932.
  const int gamma[][2] = {{1, 12},  {64, 118}, {128, 174}, {255, 255},
                          {32, 80}, {85, 139}, {161, 198}, {206, 226}};
  for (const auto& [i, value] : gamma) EXPECT_EQ(q->GammaTable[i], value) << i;
  // The grey ramp: alpha 16 i up to 255.
  EXPECT_EQ(std::pair(q->network.alpha[15], q->network.alpha[16]), std::pair(240.0, 255.0));

  std::tie(q->alpha, q->span) = std::tuple(1000.5, 32);
  FillRadiusWeights(*q);
  // floor(1000.5 * 15), 15 = (1024 - 961) * 256 / 1024 in integers (not 15.75).
  EXPECT_EQ(q->radiusWeight[31], 15007.0);
  q->span = 2;
  FillRadiusWeights(*q);
  EXPECT_EQ(q->radiusWeight[1], 192096.0);  // 1000.5 * (3 * 256 / 4)

  // The first of 499, 491, 487 pixels that does not divide the length, else 503.
  for (const auto& [pixels, step] :
       {std::pair{491, 499}, {499, 491}, {499 * 491, 487}, {499 * 491 * 487, 503}})
    EXPECT_EQ(ChooseStep(4 * pixels), 4u * step) << pixels;
}

TEST(QuantiserTest, BiasedContestAsWritten) {
  // Neurons 0 and 1 are 4.2 and 4.0 from opaque black, biased 0.3 and 0.1,
  // the others 765. Neuron 0 wins: 4.0 < (4.2 - 0.3) + 0.1 is 4.0 < 4.0,
  // false, though 4.0 - 0.1 < 4.2 - 0.3 holds in doubles. Neuron 1, the
  // nearest, has its bias grow by its frequency 1/256 and fall by 1.
  for (InstructionSet set : testing::SupportedSets()) {
    auto q = NewQuantiser(set);
    for (int i = 0; i < 256; ++i)
      q->network.Set(i, i < 2 ? Neuron{255, i == 0 ? 4.2 : 4.0, 0, 0} : Neuron{255, 255, 255, 255});
    std::tie(q->bias[0], q->bias[1]) = std::pair(0.3, 0.1);
    EXPECT_EQ(Compete(*q, Sample{255, 0, 0, 0}), 0) << InstructionSetName(set);
    EXPECT_EQ(q->bias[1], 0.1 + 1.0 / 256 - 1.0);
  }
}

TEST(QuantiserTest, FirstSampleAndSchedule) {
  // Opaque red is (alpha 255, blue 0, green 0, red 255) on the network's
  // scales. Neuron i >= 16 is 255 + GammaTable[i] away, neuron i < 16 also
  // 255 - 16 i further, so neuron 16 wins (310 against 323 for neuron 15)
  // and moves onto it; neuron 0, 16 places away, is pulled by
  // 1024 * ((1024 - 256) * 256 / 1024) / 2^18 = 3/4: alpha 0 -> 191.25.
  const std::uint8_t red[4] = {255, 0, 0, 255};
  auto q = NewQuantiser();
  Initialise(*q, red, 4, kQuantiserGamma);
  // One pixel, one cycle; neuron 48, 32 places away, is not moved.
  EXPECT_EQ(std::to_string(Learn(*q).finalAlpha), "0.966667");
  EXPECT_EQ(std::tuple(q->network.Get(16).red, q->network.alpha[0], q->network.red[48]),
            std::tuple(255.0, 191.25, q->GammaTable[48]));

  // Rate and radius fall by 1/30 once per N / 100 pixels (at least one).
  // Pixels, then the final alpha as the run prints it (if checked) and span.
  const std::tuple<int, const char*, unsigned> cases[] = {
      {10000, "0.033703", 0},  // 100 cycles
      {5, "0.844080", 27},     // spans 30 29 28 27 27
      {81, "", 2},             // radius 2.0538
      {82, "", 0},             // radius 1.9854
      {0, "1.000000", 32},
  };
  for (const auto& [pixels, finalAlpha, span] : cases) {
    WorkImage image = RandomImage(pixels, pixels == 0 ? 0 : 1, 7);
    q = NewQuantiser();
    const std::string alpha = std::to_string(QuantiseImage(image, *q).finalAlpha);
    EXPECT_EQ(q->span, span) << pixels;
    EXPECT_TRUE(!*finalAlpha || alpha == finalAlpha) << pixels << ": " << alpha;
  }
}

TEST(QuantiserTest, ByteConversionsSortAndGreenIndex) {
  // 255 * 255 / 256 = 254.00390625 is the first alpha to give 255; colours
  // scale by 256 / 255 after the gamma (12 gives 1.041 * 256 / 255 = 1.045),
  // and 255 (256) is limited.
  EXPECT_EQ(std::tuple(AlphaByte(254.0039), AlphaByte(254.00390625), ColourByte(1.0, 1.8),
                       ColourByte(12.0, 1.8), ColourByte(255.0, 1.8)),
            std::tuple(254, 255, 0, 1, 255));
  auto q = NewQuantiser();
  for (int i = 0; i < 256; ++i)
    q->network.Set(i, Neuron{255, 0, i < 4 ? 200.0 - i % 2 * 72 : 255, i + 1.0});
  BuildSearchPalette(*q);
  EXPECT_EQ(std::vector(q->network.red, q->network.red + 4), (std::vector<double>{2, 4, 3, 1}));
  // A green present starts at the middle of its entries, (first + last) / 2;
  // one absent at the next entry above it.
  const int index[][2] = {{0, 0},   {127, 0}, {128, 1}, {129, 2},  {199, 2},
                          {200, 3}, {201, 4}, {254, 4}, {255, 129}};
  for (const auto& [green, start] : index) EXPECT_EQ(q->GreenIndex[green], start) << green;
  Palette palette;
  WriteOutputPalette(*q, palette);
  EXPECT_EQ(std::tuple(palette[0][1], palette[2][1]), std::tuple(74, 165));
}

// NearestColour of the pixel `rgba` starting from `start`, among `entries`
// (position, then red, green, blue and alpha), all the others far off.
int Nearest(std::array<int, 4> rgba, int start, std::vector<std::array<int, 5>> entries) {
  auto q = NewQuantiser();
  for (auto& e : q->SearchPalette) e[0] = 0, e[1] = 255, e[2] = 0, e[3] = 255;
  for (auto& s : q->GreenIndex) s = start;
  for (const auto& e : entries)
    for (int c = 0; c < 4; ++c) q->SearchPalette[e[0]][c] = static_cast<std::uint8_t>(e[1 + c]);
  return NearestColour(*q, rgba[0], rgba[1], rgba[2], rgba[3]);
}

TEST(QuantiserTest, NearestColourOrderStopsAndTies) {
  // Opaque pixel (1, 64, 0) is (12, 118, 0) gamma-encoded. From 2: 2 (900),
  // 1 (100 + 1600), 3 (green 961 > 900: ends), so 0 (100) is never seen;
  // a green term equal to the best (900) goes on.
  const std::array<int, 4> pixel = {1, 64, 0, 255};
  std::vector<std::array<int, 5>> entries = {
      {0, 12, 108, 0, 255}, {1, 52, 108, 0, 255}, {2, 42, 118, 0, 255}, {3, 12, 149, 0, 255}};
  EXPECT_EQ(Nearest(pixel, 2, entries), 2);
  entries[3] = {3, 12, 148, 0, 255};
  EXPECT_EQ(Nearest(pixel, 2, entries), 0);
  // Equal distances: the entry visited first wins; upwards goes first.
  EXPECT_EQ(Nearest(pixel, 10, {{9, 12, 117, 0, 255}, {10, 12, 119, 0, 255}}), 10);
  EXPECT_EQ(
      Nearest(pixel, 10, {{9, 12, 117, 0, 255}, {10, 12, 120, 0, 255}, {11, 12, 118, 0, 254}}), 9);
  // Transparent pixels ignore colour: the first of the lowest alpha from
  // GreenIndex[0], here 110 (up, pass 10) before 89 (down, pass 10).
  EXPECT_EQ(Nearest({200, 100, 50, 0}, 100, {{110, 1, 2, 3, 3}, {89, 1, 2, 3, 3}}), 110);
  // Near ties that rounding decides: downwards green, blue, red (red before
  // blue picks 2), and each term w * (d * d), squared first ((w * d) * d
  // picks 2).
  EXPECT_EQ(Nearest({245, 15, 102, 13}, 2,
                    {{0, 248, 48, 159, 14}, {1, 250, 51, 144, 15}, {2, 243, 58, 148, 11}}),
            1);
  EXPECT_EQ(Nearest({37, 5, 104, 67}, 1,
                    {{0, 92, 26, 146, 68}, {1, 99, 27, 151, 69}, {2, 90, 34, 146, 66}}),
            0);
}

TEST(QuantiserTest, FastQuantiserGivesTheReferenceOnEverySet) {
  std::vector<std::pair<int, int>> sizes = {{499, 2}, {100, 100}, {331, 17}};  // 499: step 491
  for (int w = 1; w <= 40; ++w) sizes.push_back({w, 1});
  for (int h = 2; h <= 9; ++h) sizes.push_back({h + 3, h});
  for (InstructionSet set : testing::SupportedSets()) {
    unsigned seed = 1;
    for (const auto& [width, height] : sizes) {
      WorkImage fast = RandomImage(width, height, seed++);
      WorkImage reference = fast;
      auto q = NewQuantiser(set);
      auto plain = NewQuantiser();
      ASSERT_TRUE(QuantiseImage(fast, *q).finalAlpha ==
                      QuantiseImageReference(reference, *plain).finalAlpha &&
                  fast.pixels == reference.pixels &&
                  !std::memcmp(&q->network, &plain->network, sizeof q->network) &&
                  !std::memcmp(q->bias, plain->bias, sizeof q->bias))
          << InstructionSetName(set) << " " << width << "x" << height;
    }
  }
}

}  // namespace
}  // namespace kelpie
