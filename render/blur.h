// The soft blur under the text shadow: a separable 13-tap blur of a 24-bit
// RGB picture, renormalised at the picture's edges. Each output byte is the
// weighted mean of up to 13 input bytes of the same channel, computed in
// double precision and truncated. The caller owns the pictures and, for the
// fast entry points, the scratch memory.
#ifndef KELPIE_RENDER_BLUR_H_
#define KELPIE_RENDER_BLUR_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/bitmap.h"
#include "platform/instruction_set.h"

namespace kelpie {

// Taps on each side of the centre.
inline constexpr int kBlurRadius = 6;

// Kernel weights w(k) = exp(-q), q the integer quotient of k * k by 8, for
// k = 0 .. kBlurRadius: 1, 1, 1, e^-1, e^-2, e^-3, e^-4, each the correctly
// rounded double (written out so that the bytes never depend on the libm).
inline constexpr double kBlurWeights[kBlurRadius + 1] = {
    1.0,
    1.0,
    1.0,
    0x1.78b56362cef38p-2,
    0x1.152aaa3bf81ccp-3,
    0x1.97db0ccceb0afp-5,
    0x1.2c155b8213cf4p-6,
};

// The plain blur, one mean at a time: for every row, pixel and channel, the
// sum of w(|t - x|) * value and the sum of w(|t - x|) over the taps t from
// x - 6 to x + 6 that lie inside the row, both in ascending t, divided once,
// truncated toward zero and limited to 0..255, into a scratch picture; then
// the same down every column of the scratch picture back into `picture`.
void BlurRgbReference(RgbBitmap& picture);

// One channel of a picture, values 0..255 held in 32-bit integers (so that
// vector code converts them to and from doubles lane for lane): rows top to
// bottom, `width` values each, no padding. The fast blur works on one
// channel at a time.
struct ChannelPlane {
  int width = 0;
  int height = 0;
  std::vector<std::int32_t> values;

  // Makes the plane width x height with every value 0, reusing its memory.
  void Reset(int newWidth, int newHeight) {
    width = newWidth;
    height = newHeight;
    values.assign(static_cast<std::size_t>(newWidth) * static_cast<std::size_t>(newHeight), 0);
  }
  // Makes the plane width x height, reusing its memory, without setting the
  // values: the caller writes every one it reads. `values` may then be
  // longer than width * height (memory only ever grows, by half at least,
  // so that planes creeping up in size take no fresh memory each time).
  void Resize(int newWidth, int newHeight) {
    width = newWidth;
    height = newHeight;
    const std::size_t count =
        static_cast<std::size_t>(newWidth) * static_cast<std::size_t>(newHeight);
    if (count > values.size()) values.resize(std::max(count, values.size() + values.size() / 2));
  }
  std::int32_t* Row(int y) { return values.data() + static_cast<std::size_t>(y) * width; }
  const std::int32_t* Row(int y) const {
    return values.data() + static_cast<std::size_t>(y) * width;
  }
};

// A rectangle of pixels [x0, x1) x [y0, y1).
struct PixelRect {
  int x0 = 0;
  int y0 = 0;
  int x1 = 0;
  int y1 = 0;
};

// The planes blurred side by side by BlurPlaneRows, at most.
inline constexpr int kMaxBlurPlanes = 3;
// Output pixels per block of the fast blur; BlurRows::TakeRow gets a flag
// per block.
inline constexpr int kBlurBlock = 16;

// Working memory of the fast blur, owned by the caller and reused across
// calls; its contents between calls mean nothing.
struct BlurScratch {
  // The copy of the fast blur that runs (platform/instruction_set.h).
  InstructionSet instructionSet = InstructionSet::kBest;
  std::vector<float> rowValues;             // one input row with zero margins (exact)
  std::vector<std::uint8_t> rowGroups;      // per 16 values of it: any non-zero
  std::vector<double> rowWeightSums;        // per output pixel of a row
  std::vector<float> rowWeightInverses;     // 1 / rowWeightSums, rounded to float
  std::vector<std::int32_t> rowMeansOf255;  // per output pixel: its mean where all taps are 255
  std::vector<std::uint8_t> outNonZero;     // per block: any plane's window not all zero
  // Per plane: the last rows of the horizontal pass; per ring row
  // and block, whether any tap was non-zero; per block, such rows among
  // the 13 of the window; one output row.
  std::vector<float> ring[kMaxBlurPlanes];
  std::vector<std::uint8_t> ringNonZero[kMaxBlurPlanes];
  std::vector<std::uint8_t> windowNonZero[kMaxBlurPlanes];  // 0 to 13
  std::vector<std::int32_t> outRow[kMaxBlurPlanes];
  ChannelPlane planes[3];  // for BlurRgb
};

// Blurs only the pixels of `plane` inside `rect` (clipped to the plane):
// afterwards they hold exactly the bytes BlurRgbReference gives that channel;
// all other pixels are left as they were. The means still read the whole
// plane.
void BlurPlaneRect(ChannelPlane& plane, PixelRect rect, BlurScratch& scratch);

// Planes that the fast blur asks for one row at a time and whose blurred
// rows it hands back one at a time (BlurPlaneRows), so that the caller
// never needs to hold a plane whole: it can make each row just before it is
// read and use each blurred row at once.
class BlurRows {
 public:
  virtual ~BlurRows() = default;
  // Writes row y of plane `plane` at the columns [begin, end), whole numbers
  // 0 to 255: column x at values[x - begin].
  virtual void MakeRow(int plane, int y, int begin, int end, float* values) = 0;
  // Takes the blurred row y of every plane: column x of plane p at
  // means[p][x - x0] for the rectangle's columns [x0, x1); valid during the
  // call. nonZero[b] == 0 tells that every plane's means at the columns
  // x0 + kBlurBlock * b .. x0 + kBlurBlock * (b + 1) - 1 are 0 because their
  // windows hold only zeros.
  virtual void TakeRow(int y, const std::int32_t* const* means, const std::uint8_t* nonZero) = 0;
};

// The fast blur of `planeCount` (1 to kMaxBlurPlanes) planes of
// width x height at the pixels inside `rect` (clipped to the planes),
// giving exactly the bytes BlurRgbReference gives each channel. Each row
// that the means read (those within 6 of the rectangle, inside the planes)
// is asked for once per plane, from the top down, or from the bottom up when
// `upwards`. Blurred row y is handed over as soon as every row it reads has
// been asked for, before the next row is asked for: from the top down, row
// y + 7 is asked for only after row y was handed over, so TakeRow may write
// row y of the planes themselves; from the bottom up, the same holds for
// row y - 7.
void BlurPlaneRows(int width, int height, PixelRect rect, int planeCount, bool upwards,
                   BlurRows& rows, BlurScratch& scratch);

// The whole picture, channel by channel: the same bytes as BlurRgbReference.
void BlurRgb(RgbBitmap& picture, BlurScratch& scratch);
void BlurRgb(RgbBitmap& picture);

}  // namespace kelpie

#endif  // KELPIE_RENDER_BLUR_H_
