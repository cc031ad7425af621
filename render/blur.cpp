// The blur computes, for every byte, a weighted mean of its channel's bytes
// within 6 pixels along a row (horizontal pass into a scratch picture), then
// the same down a column of the scratch picture (vertical pass back into the
// picture). Taps outside the picture are left out of both the weighted sum
// and the sum of weights, so the edges are not darkened. Both sums run over
// the taps in ascending position and the mean is one division: the order of
// the additions decides the last bit of the sum and so, after truncation,
// whether a mean that is an exact integer in real arithmetic comes out one
// lower. The fast path computes sixteen means side by side, only the rows and
// columns asked for, none whose taps are all zero, and one channel where
// several are equal. It first estimates each mean in single precision, which
// settles the byte wherever the mean is not within about 2.5e-4 of a whole
// number (the bound is worked out at EstimatedMeans). Of the other means,
// those whose 13 taps are all equal (flat areas, the common case) take the
// plain blur's byte for such a window from a table made at compile time; the
// rest are computed with the very same double operations, in the very same
// order, as the plain blur.
#include "render/blur.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kelpie {

namespace {

constexpr int kTaps = 2 * kBlurRadius + 1;
constexpr double kW3 = kBlurWeights[3];
constexpr double kW4 = kBlurWeights[4];
constexpr double kW5 = kBlurWeights[5];
constexpr double kW6 = kBlurWeights[6];
static_assert(kBlurWeights[0] == 1.0 && kBlurWeights[1] == 1.0 && kBlurWeights[2] == 1.0,
              "the fast path adds the five centre taps without multiplying");

// A mean as a byte: truncated toward zero and limited to 0..255.
std::uint8_t MeanToByte(double mean) {
  const double t = std::trunc(mean);
  if (t <= 0) return 0;
  if (t >= 255) return 255;
  return static_cast<std::uint8_t>(t);
}

// Sum of the weights of the taps around `centre` that lie in [0, length),
// in ascending tap order.
constexpr double WeightSum(int centre, int length) {
  double sum = 0.0;
  for (int t = std::max(0, centre - kBlurRadius); t <= std::min(length - 1, centre + kBlurRadius);
       ++t) {
    sum += kBlurWeights[t < centre ? centre - t : t - centre];
  }
  return sum;
}

// WeightSum of the means whose 13 taps all lie inside: they sum the same
// weights in the same order wherever they lie, so it is worked out once.
constexpr double kFullWeightSum = WeightSum(kBlurRadius, kTaps);

double FastWeightSum(int centre, int length) {
  if (centre < kBlurRadius || centre + kBlurRadius >= length) return WeightSum(centre, length);
  return kFullWeightSum;
}

// The plain blur's truncated mean around `centre` when every tap inside
// [0, length) is 255: the weighted sum and the weight sum in ascending tap
// order, one division.
std::int32_t MeanOfAll255(int centre, int length) {
  double sum = 0.0;
  double weights = 0.0;
  for (int t = std::max(0, centre - kBlurRadius); t <= std::min(length - 1, centre + kBlurRadius);
       ++t) {
    const double w = kBlurWeights[t < centre ? centre - t : t - centre];
    sum += w * 255;
    weights += w;
  }
  return MeanToByte(sum / weights);
}

// One pass of the plain blur: `count` lines of `length` pixels; pixel i of
// line k, channel c, is at in[k * lineStep + i * pixelStep + c].
void ReferencePass(const std::uint8_t* in, std::uint8_t* out, int count, int length,
                   std::ptrdiff_t lineStep, std::ptrdiff_t pixelStep) {
  for (int k = 0; k < count; ++k) {
    for (int i = 0; i < length; ++i) {
      for (int c = 0; c < 3; ++c) {
        double sum = 0.0;
        double weights = 0.0;
        for (int t = std::max(0, i - kBlurRadius); t <= std::min(length - 1, i + kBlurRadius);
             ++t) {
          const double w = kBlurWeights[std::abs(t - i)];
          sum += w * in[k * lineStep + t * pixelStep + c];
          weights += w;
        }
        out[k * lineStep + i * pixelStep + c] = MeanToByte(sum / weights);
      }
    }
  }
}

// Adjacent output bytes are computed together, one per lane of a vector;
// the lanes never mix. The vector helpers are always inlined, so the note
// that passing such vectors by value depends on the instruction set does not
// concern them.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
constexpr int kLanes = 8;           // doubles per exact vector
constexpr int kBlock = 2 * kLanes;  // pixels per block
typedef double Lanes __attribute__((vector_size(kLanes * sizeof(double))));
typedef std::int32_t IntLanes __attribute__((vector_size(kLanes * sizeof(std::int32_t))));
typedef float FloatLanes __attribute__((vector_size(kLanes * sizeof(float))));

// Truncated means from the single-precision estimate where that is safe.
// Let q be a mean in real numbers (0 <= q < 256). The plain blur's double
// result lies within 28 * 2^-53 * 256 < 2^-40 of q (rounding of the products,
// the two sums and the quotient). The estimate
// y = fl(sum * fl(1 / w)) in single precision (unit roundoff u = 2^-24):
// each weight and each product is off by at most a relative u, the four
// additions of non-negative terms by at most 4u, the inverse and the last
// product by u each, so |y - q| <= 8.1u * 256 < 1.3e-4. y - m and y + m,
// m = 2^-12 (2.44e-4), are rounded by at most 2^-16 (1.6e-5). When both
// truncate to the same K, q lies in (K + 9e-5, K + 1 - 9e-5) (for K = 0 and
// y - m < 0, in [0, 1 - 9e-5)), so the plain result lies strictly between K
// and K + 1 (or in [0, 1)) and truncates to K too.
// Where they differ with y + m truncating to 255, q >= 255 - 3.9e-4, so
// sum over the taps of w * (255 - v) <= 3.9e-4 * 6.15 < 0.0183 = e^-4, the
// smallest weight: every tap inside the picture is 255, and the plain result
// is the one of such a window, given in `all255`.
// Only a block with another lane where the two differ (a mean within about
// 2.5e-4 of a whole number, as in other uniform areas) needs the exact means.
constexpr float kNearInteger = 0x1p-12f;

// The plain blur's byte for a window of 13 taps inside the picture that all
// hold `value`: the same products and sums in the same order, one division,
// truncated. Flat areas make such windows common, and their real mean is a
// whole number, the case the estimate cannot settle. Constant evaluation
// rounds each operation to nearest, as the processor does.
constexpr int UniformMean(int value) {
  double sum = 0.0;
  double weights = 0.0;
  for (int t = -kBlurRadius; t <= kBlurRadius; ++t) {
    const double w = kBlurWeights[t < 0 ? -t : t];
    sum += w * value;
    weights += w;
  }
  return static_cast<int>(sum / weights);  // toward zero: 0..255
}
static_assert(UniformMean(15) == 14 && UniformMean(16) == 16 && UniformMean(109) == 108 &&
              UniformMean(240) == 239 && UniformMean(255) == 255);

// The byte of a uniform window is its value or one less; bit v % 32 of word
// v / 32 is set for the values v that come out one less (eight words, and
// eight of zeros so that the table fills a 512-bit register).
constexpr bool UniformMeansWithinOne() {
  for (int value = 0; value < 256; ++value) {
    if (UniformMean(value) != value && UniformMean(value) != value - 1) return false;
  }
  return true;
}
static_assert(UniformMeansWithinOne());
constexpr std::array<std::uint32_t, 16> MakeLoweredUniforms() {
  std::array<std::uint32_t, 16> bits{};
  for (int value = 0; value < 256; ++value) {
    const auto lowered = static_cast<std::uint32_t>(value - UniformMean(value));
    bits[value / 32] |= lowered << (value % 32);
  }
  return bits;
}
constexpr std::array<std::uint32_t, 16> kLoweredUniforms = MakeLoweredUniforms();
static_assert(std::popcount(kLoweredUniforms[0]) + std::popcount(kLoweredUniforms[1]) +
                  std::popcount(kLoweredUniforms[2]) + std::popcount(kLoweredUniforms[3]) +
                  std::popcount(kLoweredUniforms[4]) + std::popcount(kLoweredUniforms[5]) +
                  std::popcount(kLoweredUniforms[6]) + std::popcount(kLoweredUniforms[7]) ==
              28);

// Rows of the horizontal pass kept at once: at least the 13 a vertical mean
// reads; row k at slot k % kRingRows.
constexpr int kRingRows = 16;
static_assert(kRingRows >= kTaps);

// The fast blur, compiled once for each instruction set.
#define KELPIE_INSTRUCTION_SET_BODY "render/blur_body.inc"
#include "platform/instruction_set_copies.inc"

bool AllZero(const std::vector<std::int32_t>& values) {
  return std::all_of(values.begin(), values.end(), [](std::int32_t v) { return v == 0; });
}

}  // namespace

void BlurRgbReference(RgbBitmap& picture) {
  const int width = picture.width();
  const int height = picture.height();
  if (width == 0 || height == 0) return;
  const std::ptrdiff_t stride = picture.stride();
  std::vector<std::uint8_t> scratch(static_cast<std::size_t>(height) * stride, 0);
  std::uint8_t* pixels = picture.Row(0);
  ReferencePass(pixels, scratch.data(), height, width, stride, 3);
  ReferencePass(scratch.data(), pixels, width, height, 3, stride);
}

void BlurPlaneRows(int width, int height, PixelRect rect, int planeCount, bool upwards,
                   BlurRows& rows, BlurScratch& s) {
  const int x0 = std::max(0, rect.x0);
  const int y0 = std::max(0, rect.y0);
  const int x1 = std::min(width, rect.x1);
  const int y1 = std::min(height, rect.y1);
  if (x0 >= x1 || y0 >= y1) return;
  KELPIE_INSTRUCTION_SET_COPY(s.instructionSet, BlurPlanesByRow)
  (width, height, x0, y0, x1, y1, planeCount, upwards, rows, s);
}

namespace {

// The rows of one plane held whole, blurred in place: from the top down,
// row y is written only after the last row that reads it.
class WholePlaneRows final : public BlurRows {
 public:
  WholePlaneRows(ChannelPlane& plane, int x0, int x1) : plane_(plane), x0_(x0), x1_(x1) {}
  void MakeRow(int, int y, int begin, int end, float* values) override {
    const std::int32_t* in = plane_.Row(y);
    for (int x = begin; x < end; ++x) values[x - begin] = static_cast<float>(in[x]);
  }
  void TakeRow(int y, const std::int32_t* const* means, const std::uint8_t*) override {
    std::copy(means[0], means[0] + (x1_ - x0_), plane_.Row(y) + x0_);
  }

 private:
  ChannelPlane& plane_;
  int x0_;
  int x1_;
};

}  // namespace

void BlurPlaneRect(ChannelPlane& plane, PixelRect rect, BlurScratch& s) {
  const int x0 = std::max(0, rect.x0);
  const int x1 = std::min(plane.width, rect.x1);
  WholePlaneRows rows(plane, x0, x1);
  BlurPlaneRows(plane.width, plane.height, rect, 1, /*upwards=*/false, rows, s);
}

void BlurRgb(RgbBitmap& picture, BlurScratch& s) {
  const int width = picture.width();
  const int height = picture.height();
  if (width == 0 || height == 0) return;
  for (int c = 0; c < 3; ++c) {
    ChannelPlane& plane = s.planes[c];
    plane.Reset(width, height);
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* in = picture.Row(y) + c;
      std::int32_t* out = plane.Row(y);
      for (int x = 0; x < width; ++x) out[x] = in[3 * x];
    }
  }
  // A channel equal to an earlier one gives that channel's means (the same
  // operations on the same values), and an all-zero channel gives zero
  // means; only the other channels are blurred.
  int source[3];
  for (int c = 0; c < 3; ++c) {
    source[c] = c;
    for (int e = 0; e < c && source[c] == c; ++e) {
      if (s.planes[e].values == s.planes[c].values) source[c] = e;
    }
  }
  for (int c = 0; c < 3; ++c) {
    if (source[c] == c && !AllZero(s.planes[c].values)) {
      BlurPlaneRect(s.planes[c], PixelRect{0, 0, width, height}, s);
    }
  }
  for (int y = 0; y < height; ++y) {
    std::uint8_t* out = picture.Row(y);
    for (int c = 0; c < 3; ++c) {
      const std::int32_t* in = s.planes[source[c]].Row(y);
      for (int x = 0; x < width; ++x) out[3 * x + c] = static_cast<std::uint8_t>(in[x]);
    }
  }
}

void BlurRgb(RgbBitmap& picture) {
  BlurScratch scratch;
  BlurRgb(picture, scratch);
}

}  // namespace kelpie
