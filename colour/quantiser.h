// Reduces a picture to at most 256 RGBA colours with a one-dimensional
// self-organising network of 256 neurons trained on its pixels.
//
// The run owns one Quantiser and hands it to every picture that needs
// reduction; each QuantiseImage call sets all of its tables afresh, so nothing
// carries over between pictures. The quantiser never allocates: every table
// is a fixed-size array inside the struct. The steps are exposed so that each
// can be checked on its own; QuantiseImage runs them in order.
#ifndef KELPIE_COLOUR_QUANTISER_H_
#define KELPIE_COLOUR_QUANTISER_H_

#include <cstddef>
#include <cstdint>

#include "colour/pixel_buffer.h"
#include "platform/instruction_set.h"

namespace kelpie {

inline constexpr int kNeuronCount = 256;
inline constexpr double kQuantiserGamma = 1.8;
inline constexpr double kInitialAlpha = 1024.0;  // learning rate 1.0, used as alpha / 1024
inline constexpr double kAlphaDivisor = 30.0;
inline constexpr double kInitialRadius = 32.0;
inline constexpr unsigned kInitialSpan = 32;
inline constexpr int kRadiusWeightCount = 32;
inline constexpr double kRadiusDivisor = 30.0;
inline constexpr std::size_t kSamplesPerCycleDivisor = 100;  // cycle length N / 100
inline constexpr double kFarDistance = 1073741824.0;         // 2^30, "nothing found yet"
inline constexpr double kInitialFrequency = 1.0 / 256;       // 0.00390625
inline constexpr double kFrequencyStep = 1.0 / 1024;         // decay fraction and credit
inline constexpr double kBiasDebit = 1.0;
inline constexpr double kRadiusWeightScale = 1.0 / 262144;  // 2^-18 = 3.814697265625e-06

// Pixel strides of the training walk, tried in this order. All are primes, so
// a picture whose pixel count is not a multiple of the stride is visited once
// per pixel.
inline constexpr std::size_t kStridePixels[4] = {499, 491, 487, 503};

// One neuron: gamma-encoded colours on a 0 to 255 scale, linear alpha 0 to 255.
struct Neuron {
  double alpha;
  double blue;
  double green;
  double red;
};

// The 256 neurons, numbered 0 to 255. Each channel is one array, so that the
// sweeps over all neurons and the neighbour moves run over contiguous values.
struct Network {
  double alpha[kNeuronCount];
  double blue[kNeuronCount];
  double green[kNeuronCount];
  double red[kNeuronCount];

  Neuron Get(int i) const { return Neuron{alpha[i], blue[i], green[i], red[i]}; }
  void Set(int i, const Neuron& n) {
    alpha[i] = n.alpha;
    blue[i] = n.blue;
    green[i] = n.green;
    red[i] = n.red;
  }
};

// A training sample, on the network's scales (see Neuron).
struct Sample {
  double alpha;
  double blue;
  double green;
  double red;
};

// All of the network's state (about 40 kB).
struct Quantiser {
  // The copy of the competition that Learn and Compete run; kept by
  // QuantiseImage and Initialise.
  InstructionSet instructionSet = InstructionSet::kBest;
  double gamma = 0;
  // Linear 8-bit channel value -> gamma-encoded value, a whole number 0 to 255.
  double GammaTable[256] = {};
  Network network = {};
  // Running share of the samples for which each neuron was the closest; sums to 1.
  double frequency[kNeuronCount] = {};
  // Added to each neuron's claim on a sample; favours seldom-closest neurons.
  double bias[kNeuronCount] = {};
  // Entry d: pull on a neuron d places from the winner, scaled by 2^18.
  // Only entries 0 to span - 1 are current.
  double radiusWeight[kRadiusWeightCount] = {};

  // Learning parameters.
  double alpha = 0;         // learning rate times 1024
  double alphaDivisor = 0;  // the rate loses alpha / alphaDivisor per cycle
  double radius = 0;        // neighbourhood radius, in neurons
  unsigned span = 0;        // radius truncated; 0 means only the winner moves

  // The picture being quantised: RGBA bytes, byteLength = 4 * pixel count.
  const std::uint8_t* block = nullptr;
  std::size_t byteLength = 0;

  // The trained network as gamma-encoded red, green, blue and linear alpha
  // bytes, sorted by green ascending; the remap searches it.
  std::uint8_t SearchPalette[kNeuronCount][4] = {};
  // Gamma-encoded green g -> position in SearchPalette where a search starts.
  std::int32_t GreenIndex[256] = {};

  // Scratch of the competition: each neuron's full distance to the sample.
  double distance[kNeuronCount] = {};
  // Remap memo: pixel key -> search result. A key is the pixel's four bytes
  // (red in the low byte), or 0 for any fully transparent pixel, whose search
  // does not depend on its colour bytes. kEmptyKey is never a key.
  static constexpr int kMemoSize = 4096;
  static constexpr std::uint32_t kEmptyKey = 1;
  std::uint32_t memoKey[kMemoSize] = {};
  std::uint8_t memoPosition[kMemoSize] = {};
};

// Output palette: red, green, blue, alpha (linear bytes) per network position.
using Palette = std::uint8_t[kNeuronCount][4];

// The two figures a reduction reports in its learning lines: the
// neighbourhood it starts from and the learning rate it ends with.
struct LearningFigures {
  int initialRadius = 0;  // neurons
  double finalAlpha = 0;  // learning rate (alpha / 1024), as a float widened to double
};

// Rewrites every pixel of `image` with one of 256 palette colours. Cannot
// fail; a picture of 0 pixels is left as it is (its figures are still given).
LearningFigures QuantiseImage(WorkImage& image, Quantiser& quantiser);

// The same in its plain form: every neuron measured in full, one after the
// other, and a search for every pixel. QuantiseImage gives the same pixels,
// figures and network.
LearningFigures QuantiseImageReference(WorkImage& image, Quantiser& quantiser);

// The steps of QuantiseImage, in the order it runs them.

// Stores the block and its length, fills GammaTable for `gamma`, and sets the
// network to a grey ramp with frequencies 1/256 and biases 0.
// REQUIRES: byteLength is a multiple of 4; block stays valid until Remap.
void Initialise(Quantiser& q, const std::uint8_t* block, std::size_t byteLength, double gamma);

// Trains the network on every pixel of the block, each once, and returns the
// figures of the two learning lines. REQUIRES: Initialise.
LearningFigures Learn(Quantiser& q);

// Fills SearchPalette from the network, sorts both by green, fills GreenIndex.
void BuildSearchPalette(Quantiser& q);

// The linear colours of the (sorted) network.
void WriteOutputPalette(const Quantiser& q, Palette& palette);

// Replaces each pixel of `pixels` (pixelCount RGBA pixels) with the palette
// entry that NearestColour picks. Memoised: the result is what a search per
// pixel gives.
void Remap(Quantiser& q, const Palette& palette, std::uint8_t* pixels, std::size_t pixelCount);

// Parts of the steps.

// Byte step of the training walk for a block of byteLength bytes.
std::size_t ChooseStep(std::size_t byteLength);

// Fills radiusWeight entries 0 to span - 1 from q.alpha and q.span.
void FillRadiusWeights(Quantiser& q);

// Picks the neuron that learns `s` and updates frequencies and biases.
// REQUIRES: every network value is finite (training keeps them in 0 to 255).
int Compete(Quantiser& q, const Sample& s);

// Moves neuron j by the learning rate q.alpha / 1024 towards `s`.
void MoveWinner(Quantiser& q, int j, const Sample& s);

// Moves the neurons 1 to span - 1 places from `j` towards `s` by their radius
// weights. REQUIRES: span <= kRadiusWeightCount.
void MoveNeighbours(Quantiser& q, unsigned span, int j, const Sample& s);

// Position 0 to 255 in SearchPalette nearest to the pixel (red, green, blue,
// alpha bytes), by squared distance with colours weighted by ColourWeight.
// REQUIRES: BuildSearchPalette (or SearchPalette and GreenIndex set up).
int NearestColour(const Quantiser& q, int red, int green, int blue, int alpha);

// Neuron colour x (gamma-encoded) -> linear byte.
int ColourByte(double x, double gamma);
// Neuron alpha x -> byte.
int AlphaByte(double x);
// Weight of colour differences for a pixel of alpha a (0 to 255): 0 for
// transparent, 1 for opaque.
double ColourWeight(double a);

}  // namespace kelpie

#endif  // KELPIE_COLOUR_QUANTISER_H_
