#include "colour/quantiser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "colour/colour_table.h"

namespace kelpie {
namespace {

// The final learning line as the run prints it.
std::string FinalLine(const LearningFigures& figures) {
  char text[64];
  std::snprintf(text, sizeof text, "finished 1D learning: final alpha=%f !\n", figures.finalAlpha);
  return text;
}

WorkImage MakeImage(int width, int height) {
  WorkImage image;
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<std::size_t>(width) * height * 4, 0);
  for (int r = 0; r < height; ++r) image.rows.push_back(image.pixels.data() + 4 * width * r);
  return image;
}

void SetPixel(WorkImage& image, int n, int red, int green, int blue, int alpha) {
  std::uint8_t* p = image.pixels.data() + 4 * n;
  p[0] = static_cast<std::uint8_t>(red);
  p[1] = static_cast<std::uint8_t>(green);
  p[2] = static_cast<std::uint8_t>(blue);
  p[3] = static_cast<std::uint8_t>(alpha);
}

// Random picture in the style of subtitles: mostly transparent, a few text
// colours, anti-aliased edges with random alpha, transparent pixels with
// leftover colour bytes.
WorkImage RandomImage(int width, int height, unsigned seed) {
  WorkImage image = MakeImage(width, height);
  std::mt19937 random(seed);
  for (int n = 0; n < width * height; ++n) {
    const unsigned kind = random() % 8;
    const int red = static_cast<int>(random() % 256), green = static_cast<int>(random() % 256);
    const int blue = static_cast<int>(random() % 256);
    if (kind < 3) SetPixel(image, n, red, green, blue, 0);
    if (kind == 3) SetPixel(image, n, 255, 255, 255, 255);
    if (kind == 4) SetPixel(image, n, 0, 0, 0, static_cast<int>(random() % 256));
    if (kind >= 5) SetPixel(image, n, red, green, blue, kind == 5 ? 255 : random() % 256);
  }
  return image;
}

std::unique_ptr<Quantiser> NewQuantiser() {
  auto q = std::make_unique<Quantiser>();
  Initialise(*q, nullptr, 0, kQuantiserGamma);
  return q;
}

// Plain versions of the parts that are arranged for speed: the competition
// measuring neuron by neuron and updating as it goes, the walk by repeated
// subtraction, and a search for every pixel.
int PlainCompete(Quantiser& q, const Sample& s) {
  double w = ColourWeight(s.alpha);
  double nearDist = 1073741824.0, biasDist = 1073741824.0;
  int nearPos = 0, biasPos = 0;
  for (int i = 0; i < 256; ++i) {
    const Neuron n = q.network.Get(i);
    double t = biasDist + q.bias[i];
    double dist = w * std::fabs(n.blue - s.blue) + w * std::fabs(n.red - s.red);
    if (dist < nearDist || dist < t) {
      dist = dist + w * std::fabs(n.green - s.green);
      dist = dist + std::fabs(n.alpha - s.alpha);
      if (dist < nearDist) nearDist = dist, nearPos = i;
      if (dist < t) biasDist = dist - q.bias[i], biasPos = i;
    }
    double f = q.frequency[i] / 1024;
    q.frequency[i] = q.frequency[i] - f;
    q.bias[i] = q.bias[i] + f * 1024;
  }
  q.frequency[nearPos] = q.frequency[nearPos] + 1.0 / 1024;
  q.bias[nearPos] = q.bias[nearPos] - 1.0;
  return biasPos;
}

void PlainQuantise(Quantiser& q, std::uint8_t* block, std::size_t length) {
  Initialise(q, block, length, 1.8);
  std::size_t samples = length / 4, cycle = samples / 100 == 0 ? 1 : samples / 100;
  q.alpha = 1024.0, q.radius = 32.0, q.span = 32;
  FillRadiusWeights(q);
  std::size_t step = length % 499 ? 1996 : length % 491 ? 1964 : length % 487 ? 1948 : 2012;
  std::size_t p = 0;
  for (std::size_t k = 1; k <= samples; ++k) {
    Sample s{0, 0, 0, 0};
    if (block[p + 3] != 0) {
      s = {double(block[p + 3]), q.GammaTable[block[p + 2]], q.GammaTable[block[p + 1]],
           q.GammaTable[block[p]]};
    }
    int j = PlainCompete(q, s);
    MoveWinner(q, j, s);
    if (q.span != 0) MoveNeighbours(q, q.span, j, s);
    p += step;
    while (p >= length) p -= length;
    if (k % cycle == 0) {
      q.alpha -= q.alpha / 30.0;
      q.radius -= q.radius / 30.0;
      q.span = static_cast<unsigned>(q.radius);
      if (q.span <= 1) q.span = 0;
      if (q.span > 0) FillRadiusWeights(q);
    }
  }
  BuildSearchPalette(q);
  Palette palette;
  WriteOutputPalette(q, palette);
  for (std::uint8_t* px = block; px < block + length; px += 4) {
    std::memcpy(px, palette[NearestColour(q, px[0], px[1], px[2], px[3])], 4);
  }
}

TEST(QuantiserTest, GammaTableAndInitialNetwork) {
  auto q = NewQuantiser();
  EXPECT_EQ(q->GammaTable[0], 0.0);
  EXPECT_EQ(q->GammaTable[1], 12.0);
  EXPECT_EQ(q->GammaTable[64], 118.0);
  EXPECT_EQ(q->GammaTable[128], 174.0);
  EXPECT_EQ(q->GammaTable[255], 255.0);
  // Entries whose exact value lies nearest one half: 80.4948, 138.5073,
  // 197.5094, 226.4932.
  EXPECT_EQ(q->GammaTable[32], 80.0);
  EXPECT_EQ(q->GammaTable[85], 139.0);
  EXPECT_EQ(q->GammaTable[161], 198.0);
  EXPECT_EQ(q->GammaTable[206], 226.0);

  for (int i = 0; i < 256; ++i) {
    const Neuron n = q->network.Get(i);
    EXPECT_EQ(n.blue, q->GammaTable[i]);
    EXPECT_EQ(n.green, q->GammaTable[i]);
    EXPECT_EQ(n.red, q->GammaTable[i]);
    EXPECT_EQ(q->frequency[i], 0.00390625);
    EXPECT_EQ(q->bias[i], 0.0);
  }
  EXPECT_EQ(q->network.alpha[0], 0.0);
  EXPECT_EQ(q->network.alpha[1], 16.0);
  EXPECT_EQ(q->network.alpha[15], 240.0);
  EXPECT_EQ(q->network.alpha[16], 255.0);
  EXPECT_EQ(q->network.alpha[255], 255.0);
}

TEST(QuantiserTest, RadiusWeightsAndStep) {
  auto q = NewQuantiser();
  q->alpha = 1024.0;
  q->span = 32;
  FillRadiusWeights(*q);
  EXPECT_EQ(q->radiusWeight[0], 262144.0);
  EXPECT_EQ(q->radiusWeight[1], 1024.0 * 255);
  EXPECT_EQ(q->radiusWeight[31], 15360.0);  // (1024 - 961) * 256 / 1024 = 15 (of 15.75)
  q->alpha = 1000.5;
  q->span = 2;
  FillRadiusWeights(*q);
  EXPECT_EQ(q->radiusWeight[0], 256128.0);      // 1000.5 * 256
  EXPECT_EQ(q->radiusWeight[1], 192096.0);      // 1000.5 * (3 * 256 / 4)
  EXPECT_EQ(q->radiusWeight[2], 1024.0 * 255);  // left from span 32: (1024 - 4) * 256 / 1024

  EXPECT_EQ(ChooseStep(4 * 100), 1996u);
  EXPECT_EQ(ChooseStep(4 * 491), 1996u);
  EXPECT_EQ(ChooseStep(4 * 499), 1964u);
  EXPECT_EQ(ChooseStep(4 * 499 * 487), 1964u);
  EXPECT_EQ(ChooseStep(4 * 499 * 491), 1948u);
  EXPECT_EQ(ChooseStep(4 * 499 * 491 * 487), 2012u);
  EXPECT_EQ(ChooseStep(0), 2012u);
}

TEST(QuantiserTest, FirstSampleMovesItsWinnerOntoItself) {
  // Opaque red is (alpha 255, blue 0, green 0, red 255) on the network's
  // scales. Neuron i >= 16 is 255 + GammaTable[i] away, neuron i < 16 also
  // 255 - 16 i further, so neuron 16 wins (310 against 323 for neuron 15).
  WorkImage image = MakeImage(1, 1);
  SetPixel(image, 0, 255, 0, 0, 255);
  auto q = NewQuantiser();
  Initialise(*q, image.pixels.data(), 4, kQuantiserGamma);
  const LearningFigures figures = Learn(*q);
  const Neuron winner = q->network.Get(16);
  EXPECT_EQ(winner.alpha, 255.0);
  EXPECT_EQ(winner.blue, 0.0);
  EXPECT_EQ(winner.green, 0.0);
  EXPECT_EQ(winner.red, 255.0);
  EXPECT_EQ(q->frequency[16], 0.00390625 - 0.00390625 / 1024 + 0.0009765625);
  EXPECT_EQ(q->bias[16], 0.00390625 - 1.0);
  EXPECT_EQ(q->bias[17], 0.00390625);

  // Neighbours 1 to 31 places away move by their radius weight; 32 places
  // away nothing moves.
  const double g17 = q->GammaTable[17];
  EXPECT_EQ(q->network.red[17], g17 - (261120 * 3.814697265625e-06) * (g17 - 255));
  EXPECT_EQ(q->network.green[17], g17 - (261120 * 3.814697265625e-06) * g17);
  const double g47 = q->GammaTable[47];
  EXPECT_EQ(q->network.red[47], g47 - (15360 * 3.814697265625e-06) * (g47 - 255));
  EXPECT_EQ(q->network.red[48], q->GammaTable[48]);
  // 16 places away: weight 1024 * ((1024 - 256) * 256 / 1024) = 196608, pull 3/4.
  EXPECT_EQ(q->network.alpha[0], 191.25);
  // One pixel is one cycle: the rate falls once.
  EXPECT_EQ(FinalLine(figures), "finished 1D learning: final alpha=0.966667 !\n");
  EXPECT_EQ(q->span, 30u);
}

TEST(QuantiserTest, CompetitionBiasFrequencyAndTies) {
  // Sample: opaque black (w = 1). Every neuron is (255, 255, 255, 255), 765
  // away, unless set below; a neuron with only blue set is `blue` away.
  auto setup = [](Quantiser& q) {
    for (int i = 0; i < 256; ++i) q.network.Set(i, Neuron{255, 255, 255, 255});
  };
  const Sample black{255, 0, 0, 0};

  auto q = NewQuantiser();
  setup(*q);
  q->network.Set(3, Neuron{255, 10, 0, 0});
  q->network.Set(5, Neuron{255, 0, 0, 12});
  q->bias[5] = 5;
  // Neuron 3 is nearest (10); neuron 5 wins on 12 < 10 + 5, leaving 12 - 5.
  EXPECT_EQ(Compete(*q, black), 5);
  EXPECT_EQ(q->frequency[3], 0.00390625 - 0.00390625 / 1024 + 0.0009765625);
  EXPECT_EQ(q->bias[3], 0.00390625 - 1.0);
  EXPECT_EQ(q->frequency[5], 0.00390625 - 0.00390625 / 1024);
  EXPECT_EQ(q->bias[5], 5.00390625);

  // Equal distances: the lower neuron wins both contests.
  q = NewQuantiser();
  setup(*q);
  q->network.Set(7, Neuron{255, 4, 0, 0});
  q->network.Set(9, Neuron{255, 0, 4, 0});
  EXPECT_EQ(Compete(*q, black), 7);
  EXPECT_EQ(q->bias[7], 0.00390625 - 1.0);

  // The comparison as written: 4.0 < (4.2 - 0.3) + 0.1 is 4.0 < 4.0, false,
  // though 4.0 - 0.1 < 4.2 - 0.3 holds in doubles.
  q = NewQuantiser();
  setup(*q);
  q->network.Set(0, Neuron{255, 4.2, 0, 0});
  q->bias[0] = 0.3;
  q->network.Set(1, Neuron{255, 4.0, 0, 0});
  q->bias[1] = 0.1;
  EXPECT_EQ(Compete(*q, black), 0);
  EXPECT_EQ(q->bias[1], 0.1 + 0.00390625 - 1.0);  // still the nearest
  // And the other way: 2.9 < (2.0 + 0.2) + 0.7 holds, 2.9 - 0.7 < 2.2 not.
  q = NewQuantiser();
  setup(*q);
  q->network.Set(0, Neuron{255, 2.0, 0, 0});
  q->bias[0] = -0.2;
  q->network.Set(1, Neuron{255, 2.9, 0, 0});
  q->bias[1] = 0.7;
  EXPECT_EQ(Compete(*q, black), 1);

  // Transparent sample: colours weigh nothing, only alpha counts.
  q = NewQuantiser();
  EXPECT_EQ(Compete(*q, Sample{0, 0, 0, 0}), 0);
  q = NewQuantiser();
  EXPECT_EQ(Compete(*q, Sample{0, 200, 200, 200}), 0);
}

TEST(QuantiserTest, NeighbourMoveSparesWinnerAndFarNeurons) {
  auto q = NewQuantiser();
  for (int i = 0; i < 256; ++i) q->network.Set(i, Neuron{100, 100, 100, 100});
  q->radiusWeight[1] = 131072;  // pull 1/2
  q->radiusWeight[2] = 65536;   // pull 1/4
  MoveNeighbours(*q, 3, 0, Sample{0, 0, 0, 20});
  EXPECT_EQ(q->network.alpha[0], 100.0);
  EXPECT_EQ(q->network.alpha[1], 50.0);
  EXPECT_EQ(q->network.red[1], 60.0);
  EXPECT_EQ(q->network.blue[2], 75.0);
  EXPECT_EQ(q->network.alpha[3], 100.0);
  EXPECT_EQ(q->network.alpha[255], 100.0);

  MoveNeighbours(*q, 3, 255, Sample{0, 0, 0, 0});
  EXPECT_EQ(q->network.green[254], 50.0);
  EXPECT_EQ(q->network.green[253], 75.0);
  EXPECT_EQ(q->network.green[252], 100.0);
  EXPECT_EQ(q->network.green[255], 100.0);

  q->alpha = 512;  // rate 1/2
  MoveWinner(*q, 40, Sample{0, 0, 0, 20});
  EXPECT_EQ(q->network.red[40], 60.0);
  EXPECT_EQ(q->network.red[39], 100.0);
}

TEST(QuantiserTest, ScheduleAndProgressLines) {
  struct Case {
    int pixels;
    const char* finalLine;
    int decreases;
    unsigned span;
  };
  const Case cases[] = {
      {10000, "finished 1D learning: final alpha=0.033703 !\n", 100, 0},
      {5, "finished 1D learning: final alpha=0.844080 !\n", 5, 27},   // 30 29 28 27 27
      {50, "finished 1D learning: final alpha=0.183585 !\n", 50, 5},  // fewer than 100
      {81, nullptr, 81, 2},                                           // radius 2.0538
      {82, nullptr, 82, 0},                                           // radius 1.9854
      {150, "finished 1D learning: final alpha=0.006187 !\n", 150, 0},
      {250, nullptr, 125, 0},  // cycles of 2
      {0, "finished 1D learning: final alpha=1.000000 !\n", 0, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pixels);
    WorkImage image = RandomImage(c.pixels, 1, 7);
    auto q = NewQuantiser();
    Initialise(*q, image.pixels.data(), image.pixels.size(), kQuantiserGamma);
    const LearningFigures figures = Learn(*q);
    double alpha = 1024.0;
    for (int k = 0; k < c.decreases; ++k) alpha -= alpha / 30.0;
    EXPECT_EQ(q->alpha, alpha);
    EXPECT_NE(q->alpha, alpha - alpha / 30.0);
    EXPECT_EQ(q->span, c.span);
    EXPECT_EQ(figures.initialRadius, 32);
    if (c.finalLine != nullptr) {
      EXPECT_EQ(FinalLine(figures), c.finalLine);
    }
  }
}

TEST(QuantiserTest, ZeroPixelPicture) {
  for (int width : {0, 7}) {
    WorkImage image = MakeImage(width, 0);
    auto q = std::make_unique<Quantiser>();
    EXPECT_EQ(FinalLine(QuantiseImage(image, *q)),
              "finished 1D learning: final alpha=1.000000 !\n");
    EXPECT_TRUE(image.pixels.empty());
  }
}

TEST(QuantiserTest, ByteConversions) {
  EXPECT_EQ(AlphaByte(254.0), 254);
  EXPECT_EQ(AlphaByte(254.0039), 254);
  EXPECT_EQ(AlphaByte(254.00390625), 255);  // 255 * 255 / 256
  EXPECT_EQ(AlphaByte(255.0), 255);
  EXPECT_EQ(AlphaByte(100.5), 100);  // 100.894
  EXPECT_EQ(AlphaByte(0.0), 0);
  EXPECT_EQ(AlphaByte(-0.5), 0);
  for (int x = 0; x <= 254; ++x) EXPECT_EQ(AlphaByte(x), x);

  EXPECT_EQ(ColourByte(0.0, 1.8), 0);
  EXPECT_EQ(ColourByte(-3.0, 1.8), 0);
  EXPECT_EQ(ColourByte(1.0, 1.8), 0);
  EXPECT_EQ(ColourByte(12.0, 1.8), 1);    // 1.041 * 256 / 255 = 1.045
  EXPECT_EQ(ColourByte(128.0, 1.8), 74);  // 73.75 * 256 / 255 = 74.04
  EXPECT_EQ(ColourByte(200.0, 1.8), 165);
  EXPECT_EQ(ColourByte(255.0, 1.8), 255);  // 256, limited

  EXPECT_EQ(ColourWeight(0), 0.0);
  EXPECT_EQ(ColourWeight(255), 1.0);
  EXPECT_NEAR(ColourWeight(128), 0.752, 0.0005);
}

TEST(QuantiserTest, SortAndGreenIndex) {
  // Greens by neuron value: ColourByte(x) then GammaTable: 128 -> 74 -> 128,
  // 200 -> 165 -> 200, 255 -> 255.
  auto q = NewQuantiser();
  for (int i = 0; i < 256; ++i) q->network.Set(i, Neuron{255, 0, 128, 0});
  BuildSearchPalette(*q);
  for (int v = 0; v < 128; ++v) EXPECT_EQ(q->GreenIndex[v], 0);
  EXPECT_EQ(q->GreenIndex[128], 127);
  for (int v = 129; v < 256; ++v) EXPECT_EQ(q->GreenIndex[v], 255);

  // Greens 200a 128a 200b 128b, then 255 for the rest. Selection sort takes
  // the first of equal greens: 128a 128b 200b 200a.
  q = NewQuantiser();
  for (int i = 0; i < 256; ++i) q->network.Set(i, Neuron{255, 0, 255, 0});
  q->network.Set(0, Neuron{255, 0, 200, 1});
  q->network.Set(1, Neuron{255, 0, 128, 2});
  q->network.Set(2, Neuron{255, 0, 200, 3});
  q->network.Set(3, Neuron{255, 0, 128, 4});
  BuildSearchPalette(*q);
  const int greens[5] = {128, 128, 200, 200, 255};
  const double reds[4] = {2, 4, 3, 1};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(q->network.red[i], reds[i]);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(q->SearchPalette[i][1], greens[i]);
  EXPECT_EQ(q->SearchPalette[1][3], 255);
  EXPECT_EQ(q->SearchPalette[1][0], q->GammaTable[ColourByte(4, 1.8)]);
  for (int v = 0; v < 128; ++v) EXPECT_EQ(q->GreenIndex[v], 0) << v;
  EXPECT_EQ(q->GreenIndex[128], 1);  // (0 + 2) / 2
  EXPECT_EQ(q->GreenIndex[129], 2);
  EXPECT_EQ(q->GreenIndex[199], 2);
  EXPECT_EQ(q->GreenIndex[200], 3);  // (2 + 4) / 2
  EXPECT_EQ(q->GreenIndex[201], 4);
  EXPECT_EQ(q->GreenIndex[254], 4);
  EXPECT_EQ(q->GreenIndex[255], 129);  // (4 + 255) / 2

  Palette palette;
  WriteOutputPalette(*q, palette);
  EXPECT_EQ(palette[0][1], 74);
  EXPECT_EQ(palette[2][1], 165);
  EXPECT_EQ(palette[4][1], 255);
  EXPECT_EQ(palette[4][3], 255);
}

TEST(QuantiserTest, NearestColourOrderStopsAndTies) {
  auto q = NewQuantiser();
  auto reset = [&]() {
    for (auto& e : q->SearchPalette) e[0] = 0, e[1] = 255, e[2] = 0, e[3] = 255;
    for (auto& s : q->GreenIndex) s = 0;
  };
  auto entry = [&](int at, int r, int g, int b, int a) {
    q->SearchPalette[at][0] = static_cast<std::uint8_t>(r);
    q->SearchPalette[at][1] = static_cast<std::uint8_t>(g);
    q->SearchPalette[at][2] = static_cast<std::uint8_t>(b);
    q->SearchPalette[at][3] = static_cast<std::uint8_t>(a);
  };
  // Opaque pixel (1, 64, 0): gamma-encoded (12, 118, 0). Start at 2; visits
  // 2 (900), 1 (100 + 1600), 3 (green 961 > 900: ends) and never sees 0 (100).
  reset();
  q->GreenIndex[118] = 2;
  entry(0, 12, 108, 0, 255);
  entry(1, 52, 108, 0, 255);
  entry(2, 42, 118, 0, 255);
  entry(3, 12, 149, 0, 255);
  EXPECT_EQ(NearestColour(*q, 1, 64, 0, 255), 2);
  // A green term equal to the best does not end the search.
  entry(3, 12, 148, 0, 255);  // green 900, then red 0: not below, not taken
  EXPECT_EQ(NearestColour(*q, 1, 64, 0, 255), 0);
  // The same downwards: 5 (900), 4 (green 900: goes on), 6 (7744), 3 (784).
  // The search does not rely on the entries being sorted.
  reset();
  q->GreenIndex[118] = 5;
  entry(5, 42, 118, 0, 255);
  entry(4, 12, 88, 0, 255);
  entry(6, 100, 118, 0, 255);
  entry(3, 12, 90, 0, 255);
  EXPECT_EQ(NearestColour(*q, 1, 64, 0, 255), 3);

  // Equal distances: the entry visited first wins; upwards goes first.
  reset();
  q->GreenIndex[118] = 10;
  entry(9, 12, 117, 0, 255);
  entry(10, 12, 119, 0, 255);
  EXPECT_EQ(NearestColour(*q, 1, 64, 0, 255), 10);
  entry(10, 12, 120, 0, 255);
  EXPECT_EQ(NearestColour(*q, 1, 64, 0, 255), 9);
  entry(11, 12, 118, 0, 254);  // same distance 1 as 9, visited later
  EXPECT_EQ(NearestColour(*q, 1, 64, 0, 255), 9);

  // Transparent pixels: colour bytes ignored, the whole palette scanned from
  // GreenIndex[0], first entry of the lowest alpha wins.
  reset();
  q->GreenIndex[0] = 100;
  entry(150, 9, 9, 9, 3);
  entry(40, 9, 9, 9, 3);  // visited 59 passes after 150's 50
  EXPECT_EQ(NearestColour(*q, 200, 100, 50, 0), 150);
  entry(110, 1, 2, 3, 3);  // up, pass 10
  entry(89, 1, 2, 3, 3);   // down, pass 10
  EXPECT_EQ(NearestColour(*q, 0, 0, 0, 0), 110);
  entry(255, 1, 2, 3, 2);
  EXPECT_EQ(NearestColour(*q, 7, 7, 7, 0), 255);
  entry(0, 1, 2, 3, 2);  // downwards reaches 0 in pass 99, upwards 255 in pass 155
  EXPECT_EQ(NearestColour(*q, 7, 7, 7, 0), 0);

  // Each term is w * (d * d): pixel (131, 127, 169, 186) is (176, 173, 203);
  // (w * d) * d would pick entry 0.
  reset();
  entry(0, 185, 178, 207, 183);
  entry(1, 184, 180, 200, 183);
  EXPECT_EQ(NearestColour(*q, 131, 127, 169, 186), 1);

  // Near ties that the rounding of each sum decides: the order of the terms
  // per direction and squaring first. Found by search over random palettes;
  // `other` is what the named change would return.
  struct Case {
    const char* change;
    int pixel[4];
    int start;
    int palette[3][4];
    int expected, other;
  };
  const Case cases[] = {
      {"red before blue downwards",
       {245, 15, 102, 13},
       2,
       {{248, 48, 159, 14}, {250, 51, 144, 15}, {243, 58, 148, 11}},
       1,
       2},
      {"blue before red upwards",
       {120, 151, 139, 47},
       1,
       {{165, 187, 191, 46}, {159, 194, 186, 46}, {167, 197, 191, 49}},
       1,
       0},
      {"(w * d) * d for green",
       {37, 5, 104, 67},
       1,
       {{92, 26, 146, 68}, {99, 27, 151, 69}, {90, 34, 146, 66}},
       0,
       2},
      {"(w * d) * d for blue",
       {216, 25, 29, 248},
       1,
       {{242, 65, 80, 250}, {233, 71, 69, 247}, {226, 71, 76, 249}},
       1,
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    reset();
    for (auto& s : q->GreenIndex) s = c.start;
    for (int k = 0; k < 3; ++k) {
      entry(k, c.palette[k][0], c.palette[k][1], c.palette[k][2], c.palette[k][3]);
    }
    EXPECT_EQ(NearestColour(*q, c.pixel[0], c.pixel[1], c.pixel[2], c.pixel[3]), c.expected);
  }
}

TEST(QuantiserTest, TransparentPixelsTrainAsTransparentBlack) {
  WorkImage coloured = RandomImage(37, 29, 11);
  WorkImage cleared = coloured;
  for (std::size_t n = 0; n < cleared.pixels.size(); n += 4) {
    if (cleared.pixels[n + 3] == 0) std::memset(&cleared.pixels[n], 0, 3);
  }
  auto a = std::make_unique<Quantiser>();
  auto b = std::make_unique<Quantiser>();
  QuantiseImage(coloured, *a);
  QuantiseImage(cleared, *b);
  EXPECT_EQ(std::memcmp(&a->network, &b->network, sizeof a->network), 0);
  EXPECT_EQ(coloured.pixels, cleared.pixels);

  // All transparent pixels took one entry: the lowest alpha byte, first in
  // visiting order from GreenIndex[0].
  WorkImage source = RandomImage(37, 29, 11);
  int lowest = 256;
  for (int i = 0; i < 256; ++i) lowest = std::min<int>(lowest, a->SearchPalette[i][3]);
  const int chosen = NearestColour(*a, 0, 0, 0, 0);
  EXPECT_EQ(a->SearchPalette[chosen][3], lowest);
  Palette palette;
  WriteOutputPalette(*a, palette);
  for (std::size_t n = 0; n < source.pixels.size(); n += 4) {
    if (source.pixels[n + 3] == 0) {
      EXPECT_EQ(std::memcmp(&coloured.pixels[n], palette[chosen], 4), 0);
    }
  }
}

TEST(QuantiserTest, MatchesPlainVersion) {
  struct Size {
    int width, height;
  };
  std::vector<Size> sizes;
  for (int w = 1; w <= 40; ++w) sizes.push_back({w, 1});
  for (int h = 2; h <= 9; ++h) sizes.push_back({h + 3, h});
  sizes.push_back({499, 2});  // stride 491
  sizes.push_back({100, 100});
  sizes.push_back({331, 17});
  unsigned seed = 1;
  for (const Size& size : sizes) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    WorkImage image = RandomImage(size.width, size.height, seed++);
    std::vector<std::uint8_t> expected = image.pixels;
    auto plain = NewQuantiser();
    PlainQuantise(*plain, expected.data(), expected.size());

    auto q = std::make_unique<Quantiser>();
    QuantiseImage(image, *q);
    ASSERT_EQ(image.pixels, expected);
    EXPECT_EQ(std::memcmp(&q->network, &plain->network, sizeof q->network), 0);
    EXPECT_EQ(std::memcmp(q->frequency, plain->frequency, sizeof q->frequency), 0);
    EXPECT_EQ(std::memcmp(q->bias, plain->bias, sizeof q->bias), 0);
    EXPECT_EQ(q->alpha, plain->alpha);
  }
}

TEST(QuantiserTest, ColourCountQuantisesOnlyWithTransparency) {
  // 300 visible colours; with a transparent first pixel the picture is
  // quantised and accepted, without one it is the colour error.
  for (bool transparent : {true, false}) {
    SCOPED_TRACE(transparent);
    WorkImage image = MakeImage(301, 1);
    for (int n = 1; n <= 300; ++n) SetPixel(image, n, n % 256, n / 256 * 100, n % 7 * 30, 255);
    SetPixel(image, 0, 1, 1, 1, transparent ? 0 : 255);
    auto table = std::make_unique<ColourTable>();
    auto q = std::make_unique<Quantiser>();
    const ColourCount count = CountColours(image, *table, *q);
    EXPECT_EQ(count.ok, transparent);
    EXPECT_EQ(count.quantised, transparent);
    if (transparent) {
      EXPECT_GE(count.entryCount, 1);
      EXPECT_LE(count.entryCount, 256);
    }
  }
}

}  // namespace
}  // namespace kelpie
