// The blur computes, for every byte, a weighted mean of its channel's bytes
// within 6 pixels along a row (horizontal pass into a scratch picture), then
// the same down a column of the scratch picture (vertical pass back into the
// picture). Taps outside the picture are left out of both the weighted sum
// and the sum of weights, so the edges are not darkened. Both sums run over
// the taps in ascending position and the mean is one division: the order of
// the additions decides the last bit of the sum and so, after truncation,
// whether a mean that is an exact integer in real arithmetic comes out one
// lower. Every faster path below therefore performs the very same double
// operations in the very same order for each byte it computes; it only
// chooses which bytes to compute and computes eight of them side by side:
// only the rows and columns asked for, none whose taps are all zero, and
// one channel where several are equal.
#include "render/blur.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>

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

// Eight adjacent output bytes are computed together, one per lane; the lanes
// never mix, so each lane performs exactly the scalar sequence of operations.
// The vector helpers are always inlined, so the note that passing such
// vectors by value depends on the instruction set does not concern them.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
constexpr int kLanes = 8;
typedef double Lanes __attribute__((vector_size(kLanes * sizeof(double))));
typedef std::int32_t IntLanes __attribute__((vector_size(kLanes * sizeof(std::int32_t))));

template <typename V, typename T>
inline __attribute__((always_inline)) V LoadVector(const T* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename V, typename T>
inline __attribute__((always_inline)) void StoreVector(T* p, V v) {
  std::memcpy(p, &v, sizeof v);
}

// The weighted sums of eight adjacent means whose taps, in ascending order,
// are at p, p + step, ..., p + 12 * step (each the first of eight lanes).
// Identities that make it the plain sum, lane by lane:
//   - The plain sum starts at +0.0, and +0.0 + p == p for every p >= 0, so
//     the sum may start at the first product.
//   - w(0) = w(1) = w(2) = 1.0 and 1.0 * v == v exactly, so the five centre
//     taps are added unmultiplied.
//   - A tap outside the picture reads +0.0, whose product is +0.0, and
//     s + (+0.0) == s for every s >= 0: the padded sum equals the sum over
//     the taps inside the picture.
inline __attribute__((always_inline)) Lanes WeightedSum(const double* p, std::ptrdiff_t step) {
  Lanes sum = LoadVector<Lanes>(p) * kW6;
  sum += LoadVector<Lanes>(p + step) * kW5;
  sum += LoadVector<Lanes>(p + 2 * step) * kW4;
  sum += LoadVector<Lanes>(p + 3 * step) * kW3;
  sum += LoadVector<Lanes>(p + 4 * step);
  sum += LoadVector<Lanes>(p + 5 * step);
  sum += LoadVector<Lanes>(p + 6 * step);
  sum += LoadVector<Lanes>(p + 7 * step);
  sum += LoadVector<Lanes>(p + 8 * step);
  sum += LoadVector<Lanes>(p + 9 * step) * kW3;
  sum += LoadVector<Lanes>(p + 10 * step) * kW4;
  sum += LoadVector<Lanes>(p + 11 * step) * kW5;
  sum += LoadVector<Lanes>(p + 12 * step) * kW6;
  return sum;
}

// Truncated means. Every mean lies in [0, 256): the weighted sum of values
// of at most 255 is at most 255 times the weight sum up to rounding, so the
// conversion (which truncates toward zero) is in range and the limit to
// 0..255 of the plain version never changes anything here.
inline __attribute__((always_inline)) IntLanes TruncatedMeans(Lanes sum, Lanes weights) {
  return __builtin_convertvector(sum / weights, IntLanes);
}

inline __attribute__((always_inline)) bool AnyNonZero(IntLanes v) {
  std::uint64_t words[sizeof v / 8];
  std::memcpy(words, &v, sizeof v);
  std::uint64_t any = 0;
  for (std::uint64_t w : words) any |= w;
  return any != 0;
}

// Rows of the horizontal pass kept at once: at least the 13 a vertical mean
// reads. Each row is stored twice, at slot k % kRingRows and kRingRows
// further, so that any 13 consecutive rows lie at one fixed stride.
constexpr int kRingRows = 16;
static_assert(kRingRows >= kTaps);

// The fast blur of the pixels [x0, x1) x [y0, y1) of one plane (clipped,
// not empty). Lanes are adjacent pixels. The horizontal pass runs only over
// the rows that feed those pixels and only at their columns; its rows go
// into the ring, each read by the vertical pass of the 13 output rows
// around it, so no output is written before the input under it is read.
inline __attribute__((always_inline)) void BlurPlaneBody(ChannelPlane& plane, int x0, int y0,
                                                         int x1, int y1, BlurScratch& s) {
  const int width = plane.width;
  const int height = plane.height;
  const int outPixels = x1 - x0;
  const int blocks = (outPixels + kLanes - 1) / kLanes;
  const int laneStride = blocks * kLanes;

  // Weight sums of the means of a row, by output pixel, summed exactly as
  // the plain blur sums them (so the same doubles); 1.0 in unused lanes.
  s.rowWeightSums.resize(laneStride);
  for (int j = 0; j < laneStride; ++j) {
    s.rowWeightSums[j] = j < outPixels ? FastWeightSum(x0 + j, width) : 1.0;
  }

  // One input row: index i is pixel x0 - 6 + i, so the taps of output pixel
  // j are at j .. j + 12, in the groups of 8 values j / 8 .. j / 8 + 2.
  // Pixels outside the plane are zero; the margin covers the last block's
  // taps and their groups.
  constexpr int kGroupsRead = 3;
  static_assert(kGroupsRead * kLanes >= kLanes + 2 * kBlurRadius);
  const int rowOrigin = x0 - kBlurRadius;
  const int rowLength = laneStride + (kGroupsRead - 1) * kLanes;
  s.rowInts.assign(rowLength, 0);
  s.rowValues.resize(rowLength);
  s.rowGroups.resize(rowLength / kLanes);
  const int copyBegin = std::max(0, rowOrigin);
  const int copyEnd = std::min(width, rowOrigin + rowLength);

  s.ring.resize(static_cast<std::size_t>(2 * kRingRows) * laneStride);
  s.ringNonZero.resize(static_cast<std::size_t>(kRingRows) * blocks);
  s.windowNonZero.assign(blocks, 0);

  const int paddedRows = (y1 - y0) + 2 * kBlurRadius;
  for (int k = 0; k < paddedRows; ++k) {
    // Horizontal pass of padded row k (plane row y0 - 6 + k) into the ring.
    const int slot = k % kRingRows;
    std::uint8_t* nonZero = s.ringNonZero.data() + static_cast<std::size_t>(slot) * blocks;
    double* out = s.ring.data() + static_cast<std::size_t>(slot) * laneStride;
    double* mirror = out + static_cast<std::size_t>(kRingRows) * laneStride;
    const int y = y0 - kBlurRadius + k;
    if (y < 0 || y >= height) {
      std::fill(out, out + laneStride, 0.0);
      std::fill(mirror, mirror + laneStride, 0.0);
      std::fill(nonZero, nonZero + blocks, 0);
    } else {
      std::int32_t* ints = s.rowInts.data();
      std::memcpy(ints + (copyBegin - rowOrigin), plane.Row(y) + copyBegin,
                  sizeof(std::int32_t) * (copyEnd - copyBegin));
      double* values = s.rowValues.data();
      for (int i = 0; i < rowLength; i += kLanes) {
        const IntLanes group = LoadVector<IntLanes>(ints + i);
        StoreVector(values + i, __builtin_convertvector(group, Lanes));
        s.rowGroups[i / kLanes] = AnyNonZero(group);
      }
      for (int b = 0; b < blocks; ++b) {
        const int j = b * kLanes;
        Lanes result{};
        nonZero[b] = 0;
        std::uint8_t anyTap = 0;
        for (int g = 0; g < kGroupsRead; ++g) anyTap |= s.rowGroups[b + g];
        // Every tap zero: the mean is +0.0 / w == 0.
        if (anyTap != 0) {
          const IntLanes means =
              TruncatedMeans(WeightedSum(values + j, 1), LoadVector<Lanes>(&s.rowWeightSums[j]));
          result = __builtin_convertvector(means, Lanes);
          nonZero[b] = AnyNonZero(means);
        }
        StoreVector(out + j, result);
        StoreVector(mirror + j, result);
      }
    }
    for (int b = 0; b < blocks; ++b) s.windowNonZero[b] += nonZero[b];
    if (k < kTaps - 1) continue;

    // Vertical pass of output row i over padded rows i .. i + 12.
    const int i = k - (kTaps - 1);
    const Lanes weights = Lanes{} + FastWeightSum(y0 + i, height);
    const double* column = s.ring.data() + static_cast<std::size_t>(i % kRingRows) * laneStride;
    std::int32_t* result = plane.Row(y0 + i) + x0;
    for (int b = 0; b < blocks; ++b) {
      const int j = b * kLanes;
      IntLanes means{};
      // Every tap zero: the mean is +0.0 / w == 0.
      if (s.windowNonZero[b] != 0) {
        means = TruncatedMeans(WeightedSum(column + j, laneStride), weights);
      }
      if (j + kLanes <= outPixels) {
        StoreVector(result + j, means);
      } else {
        for (int l = 0; l < outPixels - j; ++l) result[j + l] = means[l];
      }
    }
    const std::uint8_t* leaving =
        s.ringNonZero.data() + static_cast<std::size_t>(i % kRingRows) * blocks;
    for (int b = 0; b < blocks; ++b) s.windowNonZero[b] -= leaving[b];
  }
}

// The same body compiled for each instruction set; the operations and their
// order are those written above whichever set carries them out.
__attribute__((target("avx512f"))) void BlurPlaneAvx512(ChannelPlane& plane, int x0, int y0, int x1,
                                                        int y1, BlurScratch& s) {
  BlurPlaneBody(plane, x0, y0, x1, y1, s);
}
__attribute__((target("avx2"))) void BlurPlaneAvx2(ChannelPlane& plane, int x0, int y0, int x1,
                                                   int y1, BlurScratch& s) {
  BlurPlaneBody(plane, x0, y0, x1, y1, s);
}
void BlurPlaneBaseline(ChannelPlane& plane, int x0, int y0, int x1, int y1, BlurScratch& s) {
  BlurPlaneBody(plane, x0, y0, x1, y1, s);
}

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

bool InstructionSetSupported(InstructionSet set) {
  switch (set) {
    case InstructionSet::kAvx512:
      return __builtin_cpu_supports("avx512f");
    case InstructionSet::kAvx2:
      return __builtin_cpu_supports("avx2");
    default:
      return true;
  }
}

InstructionSet ChooseInstructionSet(InstructionSet wanted) {
  if (wanted != InstructionSet::kBest) {
    assert(InstructionSetSupported(wanted));
    return wanted;
  }
  if (InstructionSetSupported(InstructionSet::kAvx512)) return InstructionSet::kAvx512;
  if (InstructionSetSupported(InstructionSet::kAvx2)) return InstructionSet::kAvx2;
  return InstructionSet::kBaseline;
}

void BlurPlaneRect(ChannelPlane& plane, PixelRect rect, BlurScratch& s) {
  const int x0 = std::max(0, rect.x0);
  const int y0 = std::max(0, rect.y0);
  const int x1 = std::min(plane.width, rect.x1);
  const int y1 = std::min(plane.height, rect.y1);
  if (x0 >= x1 || y0 >= y1) return;
  switch (ChooseInstructionSet(s.instructionSet)) {
    case InstructionSet::kAvx512:
      BlurPlaneAvx512(plane, x0, y0, x1, y1, s);
      break;
    case InstructionSet::kAvx2:
      BlurPlaneAvx2(plane, x0, y0, x1, y1, s);
      break;
    default:
      BlurPlaneBaseline(plane, x0, y0, x1, y1, s);
      break;
  }
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
