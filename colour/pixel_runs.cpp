// A run starts at pixel 0 and at every pixel that differs from the one
// before it. The splitter compares a block of pixels with their left
// neighbours at once, which gives one bit per pixel, and appends the
// positions of the set bits by storing a whole vector of candidate positions
// at the end of the list, arranged so that the chosen ones come first, and
// moving the end on by the number of set bits: the positions past the end
// are overwritten by the next store or lie beyond the list. So there is no
// branch per run, only one per block.
#include "colour/pixel_runs.h"

#include <algorithm>
#include <array>
#include <bit>

#include <immintrin.h>

namespace kelpie {

namespace {

// The tail of a row, from pixel x on, one pixel at a time.
int SplitTail(const std::uint8_t* row, std::int32_t width, std::int32_t x, std::int32_t* starts,
              int n) {
  for (; x < width; ++x) {
    starts[n] = x;
    n += PixelKey(row + 4 * static_cast<std::ptrdiff_t>(x)) !=
         PixelKey(row + 4 * static_cast<std::ptrdiff_t>(x) - 4);
  }
  return n;
}

// For every 8-bit value, the positions of its set bits, lowest first (the
// entries past them 0), and how many there are. (The baseline set has no
// instruction that counts bits; std::popcount there is a library call.)
constexpr std::array<std::array<std::int32_t, 8>, 256> MakeByteLanes() {
  std::array<std::array<std::int32_t, 8>, 256> table{};
  for (int bits = 0; bits < 256; ++bits) {
    int k = 0;
    for (int i = 0; i < 8; ++i) {
      if ((bits >> i) & 1) table[bits][k++] = i;
    }
  }
  return table;
}
constexpr auto kByteLanes = MakeByteLanes();
static_assert(kByteLanes[0b1010][0] == 1 && kByteLanes[0b1010][1] == 3);
constexpr std::array<std::uint8_t, 256> MakeByteCounts() {
  std::array<std::uint8_t, 256> counts{};
  for (int bits = 0; bits < 256; ++bits)
    counts[bits] = static_cast<std::uint8_t>(std::popcount(static_cast<unsigned>(bits)));
  return counts;
}
constexpr auto kByteCounts = MakeByteCounts();

// Eight positions in a row of the list.
typedef std::int32_t Positions __attribute__((vector_size(8 * sizeof(std::int32_t))));

#define KELPIE_INSTRUCTION_SET_BODY "colour/pixel_runs_body.inc"
#include "platform/instruction_set_copies.inc"

}  // namespace

PixelRuns::PixelRuns(InstructionSet set) : split_(KELPIE_INSTRUCTION_SET_COPY(set, SplitRow)) {}

int PixelRuns::Split(const std::uint8_t* row, std::int32_t width) {
  if (width <= 0) {
    if (starts_.empty()) starts_.resize(1);
    starts_[0] = 0;
    return 0;
  }
  const std::size_t room = static_cast<std::size_t>(width) + 1;  // see SplitRow
  if (starts_.size() < room) starts_.resize(room);
  std::int32_t* starts = starts_.data();
  starts[0] = 0;
  const int n = split_(row, width, starts);
  starts[n] = width;
  return n;
}

int PixelRuns::SplitReference(const std::uint8_t* row, std::int32_t width) {
  starts_.clear();
  for (std::int32_t x = 0; x < width; ++x) {
    const std::uint8_t* pixel = row + 4 * static_cast<std::ptrdiff_t>(x);
    if (x == 0 || PixelKey(pixel) != PixelKey(pixel - 4)) starts_.push_back(x);
  }
  const int n = static_cast<int>(starts_.size());
  starts_.push_back(std::max(width, 0));
  return n;
}

}  // namespace kelpie
