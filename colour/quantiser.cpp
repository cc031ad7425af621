// Network colour quantiser.
//
// A chain of 256 neurons, each an RGBA colour, starts as a grey ramp and is
// trained once on every pixel of the picture: for each sample the neuron with
// the smallest biased distance moves towards it, and so do its neighbours in
// the chain, less the further away they are. Rate and neighbourhood shrink in
// 100 steps. The colours are learned in a gamma-encoded space (gamma 1.8), and
// colour differences are weighted by the pixel's opacity, so the colours of
// nearly transparent pixels count little. Afterwards the network, sorted by
// green, is the palette, and every pixel takes its nearest entry, found by a
// search that starts at the pixel's green and works outwards.
//
// Everything is double precision and evaluated exactly as written; the build
// forbids fused multiply-adds. Where the code is arranged for speed, the
// comment beside it states why the result is the same.
#include "colour/quantiser.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

#include <immintrin.h>
#include <iterator>
#include <utility>

namespace kelpie {

namespace {

void FillGammaTable(Quantiser& q) {
  for (int i = 0; i < 256; ++i) {
    const double value = 255.0 * std::pow(i / 255.0, 1.0 / q.gamma);
    // Round half down: a fractional part above one half rounds up, exactly one
    // half or less rounds down.
    double whole = std::floor(value);
    if (value - whole > 0.5) whole += 1.0;
    q.GammaTable[i] = whole;
  }
}

// Moves neuron i a fraction `pull` of the way towards the sample.
inline void Pull(Network& net, int i, double pull, const Sample& s) {
  net.alpha[i] -= pull * (net.alpha[i] - s.alpha);
  net.blue[i] -= pull * (net.blue[i] - s.blue);
  net.green[i] -= pull * (net.green[i] - s.green);
  net.red[i] -= pull * (net.red[i] - s.red);
}

// Squared byte difference, exact in int.
inline int Square(int d) {
  return d * d;
}

// Appends `g` to the sorted greens seen so far (see BuildSearchPalette).
struct GreenIndexBuilder {
  int previous = 0;
  int start = 0;

  void Add(std::int32_t* index, int position, int green) {
    if (green == previous) return;
    index[previous] = static_cast<std::int32_t>(static_cast<unsigned>(start + position) / 2u);
    for (int v = previous + 1; v < green; ++v) index[v] = position;
    previous = green;
    start = position;
  }

  void Finish(std::int32_t* index) {
    index[previous] = static_cast<std::int32_t>(static_cast<unsigned>(start + 255) / 2u);
    for (int v = previous + 1; v < 256; ++v) index[v] = 255;
  }
};

inline std::uint32_t PixelKey(const std::uint8_t* p) {
  if (p[3] == 0) return 0;  // every transparent pixel searches the same way
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

double ColourWeight(double a) {
  return 1.0 - (1.0 - a / 255.0) * (1.0 - a / 255.0);
}

int ColourByte(double x, double gamma) {
  if (x < 0) return 0;
  const double v = 255.0 * std::pow(x / 255.0, gamma);
  const double b = std::floor(v / 255.0 * 256.0);
  return b > 255.0 ? 255 : static_cast<int>(b);
}

int AlphaByte(double x) {
  if (x < 0) return 0;
  const double b = std::floor(x / 255.0 * 256.0);
  return b > 255.0 ? 255 : static_cast<int>(b);
}

std::size_t ChooseStep(std::size_t byteLength) {
  for (int k = 0; k < 3; ++k) {
    if (byteLength % kStridePixels[k] != 0) return 4 * kStridePixels[k];
  }
  return 4 * kStridePixels[3];  // taken without a test
}

void Initialise(Quantiser& q, const std::uint8_t* block, std::size_t byteLength, double gamma) {
  assert(byteLength % 4 == 0);
  q.gamma = gamma;
  q.block = block;
  q.byteLength = byteLength;
  q.network = Network{};
  FillGammaTable(q);
  for (int i = 0; i < kNeuronCount; ++i) {
    q.frequency[i] = kInitialFrequency;
    q.bias[i] = 0.0;
  }
  for (int i = 0; i < kNeuronCount; ++i) {
    const double grey = q.GammaTable[i];
    q.network.Set(i, Neuron{i < 16 ? 16.0 * i : 255.0, grey, grey, grey});
  }
}

void FillRadiusWeights(Quantiser& q) {
  assert(q.span <= static_cast<unsigned>(kRadiusWeightCount));
  const unsigned spanSquared = q.span * q.span;
  for (unsigned d = 0; d < q.span; ++d) {
    const unsigned share = ((spanSquared - d * d) * 256u) / spanSquared;
    q.radiusWeight[d] = std::floor(q.alpha * share);
  }
}

void MoveWinner(Quantiser& q, int j, const Sample& s) {
  Pull(q.network, j, q.alpha / 1024, s);
}

void MoveNeighbours(Quantiser& q, unsigned span, int j, const Sample& s) {
  assert(span <= static_cast<unsigned>(kRadiusWeightCount));
  const int reach = static_cast<int>(span);
  for (int d = 1; d < reach; ++d) {
    const double pull = q.radiusWeight[d] * kRadiusWeightScale;
    if (j + d < kNeuronCount) Pull(q.network, j + d, pull, s);
    if (j - d >= 0) Pull(q.network, j - d, pull, s);
  }
}

namespace {

#define KELPIE_INSTRUCTION_SET_BODY "colour/quantiser_body.inc"
#include "platform/instruction_set_copies.inc"

// Learn in its plain form: each neuron measured in full and its frequency and
// bias updated as the contest passes it, and the walk by repeated
// subtraction.
LearningFigures LearnReference(Quantiser& q) {
  const std::size_t length = q.byteLength;
  const std::size_t samples = length / 4;
  const std::size_t cycleLength = std::max<std::size_t>(1, samples / kSamplesPerCycleDivisor);
  q.alphaDivisor = kAlphaDivisor;
  q.alpha = kInitialAlpha;
  q.radius = kInitialRadius;
  q.span = kInitialSpan;
  FillRadiusWeights(q);
  const std::size_t step = ChooseStep(length);
  std::size_t p = 0;
  for (std::size_t k = 1; k <= samples; ++k) {
    const std::uint8_t* pixel = q.block + p;
    Sample s{0, 0, 0, 0};  // a transparent pixel trains as transparent black
    if (pixel[3] != 0) {
      s = Sample{static_cast<double>(pixel[3]), q.GammaTable[pixel[2]], q.GammaTable[pixel[1]],
                 q.GammaTable[pixel[0]]};
    }
    const double w = ColourWeight(s.alpha);
    double nearDist = kFarDistance;
    double biasDist = kFarDistance;
    int nearPos = 0;
    int biasPos = 0;
    for (int i = 0; i < kNeuronCount; ++i) {
      const Neuron n = q.network.Get(i);
      double dist = w * std::fabs(n.blue - s.blue) + w * std::fabs(n.red - s.red);
      dist = dist + w * std::fabs(n.green - s.green);
      dist = dist + std::fabs(n.alpha - s.alpha);
      if (dist < nearDist) {
        nearDist = dist;
        nearPos = i;
      }
      const double t = biasDist + q.bias[i];
      if (dist < t) {
        biasDist = dist - q.bias[i];
        biasPos = i;
      }
      const double f = q.frequency[i] / 1024;
      q.frequency[i] -= f;
      q.bias[i] += f * 1024;
    }
    q.frequency[nearPos] += kFrequencyStep;
    q.bias[nearPos] -= kBiasDebit;
    MoveWinner(q, biasPos, s);
    if (q.span != 0) MoveNeighbours(q, q.span, biasPos, s);

    p += step;
    while (p >= length) p -= length;

    if (k % cycleLength == 0) {
      q.alpha -= q.alpha / q.alphaDivisor;
      q.radius -= q.radius / kRadiusDivisor;
      q.span = static_cast<unsigned>(q.radius);
      if (q.span <= 1) q.span = 0;
      if (q.span > 0) FillRadiusWeights(q);
    }
  }
  LearningFigures figures;
  figures.initialRadius = static_cast<int>(kInitialSpan);
  figures.finalAlpha = static_cast<double>(static_cast<float>(q.alpha) / 1024);
  return figures;
}

// The bytes of `image` the quantiser reads: 4 * width * height, or as far as
// the block goes. Repair: a block shorter than its stated size is quantised
// only as far as it goes, instead of being read past its end.
std::size_t QuantisedLength(const WorkImage& image) {
  std::size_t length = 0;
  if (image.width > 0 && image.height > 0) {
    length = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4;
  }
  return std::min(length, image.pixels.size() / 4 * 4);
}

}  // namespace

int Compete(Quantiser& q, const Sample& s) {
  return KELPIE_INSTRUCTION_SET_COPY(q.instructionSet, FastCompete)(q, s);
}

LearningFigures Learn(Quantiser& q) {
  return KELPIE_INSTRUCTION_SET_COPY(q.instructionSet, FastLearn)(q);
}

void BuildSearchPalette(Quantiser& q) {
  for (int i = 0; i < kNeuronCount; ++i) {
    const Neuron n = q.network.Get(i);
    std::uint8_t* entry = q.SearchPalette[i];
    entry[0] = static_cast<std::uint8_t>(q.GammaTable[ColourByte(n.red, q.gamma)]);
    entry[1] = static_cast<std::uint8_t>(q.GammaTable[ColourByte(n.green, q.gamma)]);
    entry[2] = static_cast<std::uint8_t>(q.GammaTable[ColourByte(n.blue, q.gamma)]);
    entry[3] = static_cast<std::uint8_t>(AlphaByte(n.alpha));
  }

  // Selection sort by green; the first of equal greens is taken, and each
  // neuron moves with its entry.
  GreenIndexBuilder index;
  for (int i = 0; i < kNeuronCount; ++i) {
    int smallest = i;
    for (int k = i + 1; k < kNeuronCount; ++k) {
      if (q.SearchPalette[k][1] < q.SearchPalette[smallest][1]) smallest = k;
    }
    if (smallest != i) {
      for (int c = 0; c < 4; ++c) std::swap(q.SearchPalette[i][c], q.SearchPalette[smallest][c]);
      const Neuron moved = q.network.Get(i);
      q.network.Set(i, q.network.Get(smallest));
      q.network.Set(smallest, moved);
    }
    index.Add(q.GreenIndex, i, q.SearchPalette[i][1]);
  }
  index.Finish(q.GreenIndex);
}

void WriteOutputPalette(const Quantiser& q, Palette& palette) {
  for (int i = 0; i < kNeuronCount; ++i) {
    const Neuron n = q.network.Get(i);
    palette[i][0] = static_cast<std::uint8_t>(ColourByte(n.red, q.gamma));
    palette[i][1] = static_cast<std::uint8_t>(ColourByte(n.green, q.gamma));
    palette[i][2] = static_cast<std::uint8_t>(ColourByte(n.blue, q.gamma));
    palette[i][3] = static_cast<std::uint8_t>(AlphaByte(n.alpha));
  }
}

int NearestColour(const Quantiser& q, int red, int green, int blue, int alpha) {
  int r = 0, g = 0, b = 0;
  if (alpha != 0) {
    r = static_cast<int>(q.GammaTable[red]);
    g = static_cast<int>(q.GammaTable[green]);
    b = static_cast<int>(q.GammaTable[blue]);
  }
  const double w = ColourWeight(alpha);
  double best = kFarDistance;
  int found = 0;
  int i = q.GreenIndex[g];
  int j = i - 1;
  // Each pass looks at one entry upwards, then one downwards. A green term
  // alone above the best ends the whole search. Each term is w times the
  // squared difference (squared first); the terms are added in a fixed order
  // per direction and adding stops once the sum is no longer below the best.
  for (;;) {
    if (i <= 255) {
      const std::uint8_t* e = q.SearchPalette[i];
      double d = w * Square(e[1] - g);
      if (d > best) return found;
      d += w * Square(e[0] - r);
      if (d < best) {
        d += w * Square(e[2] - b);
        if (d < best) {
          d += Square(e[3] - alpha);
          if (d < best) {
            best = d;
            found = i;
          }
        }
      }
      ++i;
    } else if (j < 0) {
      return found;
    }
    if (j >= 0) {
      const std::uint8_t* e = q.SearchPalette[j];
      double d = w * Square(e[1] - g);
      if (d > best) return found;
      d += w * Square(e[2] - b);
      if (d < best) {
        d += w * Square(e[0] - r);
        if (d < best) {
          d += Square(e[3] - alpha);
          if (d < best) {
            best = d;
            found = j;
          }
        }
      }
      --j;
    }
  }
}

void Remap(Quantiser& q, const Palette& palette, std::uint8_t* pixels, std::size_t pixelCount) {
  // The search depends only on the pixel's key (see Quantiser::memoKey), so a
  // remembered result is the result a new search would give.
  std::fill(std::begin(q.memoKey), std::end(q.memoKey), Quantiser::kEmptyKey);
  for (std::size_t n = 0; n < pixelCount; ++n) {
    std::uint8_t* pixel = pixels + 4 * n;
    const std::uint32_t key = PixelKey(pixel);
    const std::size_t slot = (key * 2654435761u) >> 20;  // top 12 bits
    static_assert(Quantiser::kMemoSize == 1 << 12);
    int position;
    if (q.memoKey[slot] == key) {
      position = q.memoPosition[slot];
    } else {
      position = NearestColour(q, pixel[0], pixel[1], pixel[2], pixel[3]);
      q.memoKey[slot] = key;
      q.memoPosition[slot] = static_cast<std::uint8_t>(position);
    }
    std::memcpy(pixel, palette[position], 4);
  }
}

LearningFigures QuantiseImage(WorkImage& image, Quantiser& quantiser) {
  const std::size_t length = QuantisedLength(image);
  Initialise(quantiser, image.pixels.data(), length, kQuantiserGamma);
  const LearningFigures figures = Learn(quantiser);
  BuildSearchPalette(quantiser);
  Palette palette;
  WriteOutputPalette(quantiser, palette);
  Remap(quantiser, palette, image.pixels.data(), length / 4);
  return figures;
}

LearningFigures QuantiseImageReference(WorkImage& image, Quantiser& quantiser) {
  const std::size_t length = QuantisedLength(image);
  Initialise(quantiser, image.pixels.data(), length, kQuantiserGamma);
  const LearningFigures figures = LearnReference(quantiser);
  BuildSearchPalette(quantiser);
  Palette palette;
  WriteOutputPalette(quantiser, palette);
  for (std::size_t n = 0; n < length; n += 4) {
    std::uint8_t* pixel = image.pixels.data() + n;
    std::memcpy(pixel, palette[NearestColour(quantiser, pixel[0], pixel[1], pixel[2], pixel[3])],
                4);
  }
  return figures;
}

}  // namespace kelpie
