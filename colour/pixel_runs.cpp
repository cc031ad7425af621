// A run starts at pixel 0 and at every pixel that differs from the one
// before it. Each form of the splitter compares a block of pixels with their
// left neighbours at once, which gives one bit per pixel, and appends the
// positions of the set bits by storing a whole vector of candidate positions
// at the end of the list, arranged so that the chosen ones come first, and
// moving the end on by the number of set bits: the positions past the end
// are overwritten by the next store or lie beyond the list. So there is no
// branch per run, only one per block.
#include "colour/pixel_runs.h"

#include <array>
#include <bit>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kelpie {

namespace {

// The widest block, in pixels: the list needs this much room past its end.
constexpr int kWidestBlock = 16;

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

// For every kBits-bit value, the positions of its set bits, lowest first
// (the entries past them 0).
template <int kBits>
constexpr std::array<std::array<std::int32_t, kBits>, 1 << kBits> MakeSetBitPositions() {
  std::array<std::array<std::int32_t, kBits>, 1 << kBits> table{};
  for (int bits = 0; bits < (1 << kBits); ++bits) {
    int k = 0;
    for (int i = 0; i < kBits; ++i) {
      if ((bits >> i) & 1) table[bits][k++] = i;
    }
  }
  return table;
}
constexpr auto kNibblePositions = MakeSetBitPositions<4>();
static_assert(kNibblePositions[0b1010][0] == 1 && kNibblePositions[0b1010][1] == 3);

// Bit i set when pixel p + 4i differs from the one before it, for 16 pixels
// (REQUIRES: the pixel before p exists).
inline unsigned Changes16(const std::uint8_t* p) {
#if defined(__SSE2__)
  __m128i same[4];
  for (int q = 0; q < 4; ++q) {
    const __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q));
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q - 4));
    same[q] = _mm_cmpeq_epi32(now, before);
  }
  // Each comparison gives 0 or -1 per pixel, which saturating packs keep as
  // they are: sixteen bytes, one per pixel, in order.
  const __m128i bytes =
      _mm_packs_epi16(_mm_packs_epi32(same[0], same[1]), _mm_packs_epi32(same[2], same[3]));
  return ~static_cast<unsigned>(_mm_movemask_epi8(bytes)) & 0xFFFFu;
#else
  unsigned changes = 0;
  for (int i = 0; i < 16; ++i) {
    changes |= static_cast<unsigned>(PixelKey(p + 4 * i) != PixelKey(p + 4 * i - 4)) << i;
  }
  return changes;
#endif
}

int SplitBaseline(const std::uint8_t* row, std::int32_t width, std::int32_t* starts) {
  int n = 1;
  std::int32_t x = 1;
  for (; x + 16 <= width; x += 16) {
    const unsigned changes = Changes16(row + 4 * static_cast<std::ptrdiff_t>(x));
    for (int q = 0; q < 4; ++q) {
      const unsigned bits = (changes >> (4 * q)) & 0xF;
      const std::int32_t base = x + 4 * q;
      for (int i = 0; i < 4; ++i) starts[n + i] = base + kNibblePositions[bits][i];
      n += std::popcount(bits);
    }
  }
  return SplitTail(row, width, x, starts, n);
}

#if defined(__x86_64__)
// For every 8-bit mask, the lanes of its set bits, lowest first.
constexpr auto kByteLanes = MakeSetBitPositions<8>();

__attribute__((target("avx2,popcnt"))) int SplitAvx2(const std::uint8_t* row, std::int32_t width,
                                                     std::int32_t* starts) {
  int n = 1;
  std::int32_t x = 1;
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  for (; x + 8 <= width; x += 8) {
    const std::uint8_t* p = row + 4 * static_cast<std::ptrdiff_t>(x);
    const __m256i now = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - 4));
    const unsigned same = static_cast<unsigned>(
        _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(now, before))));
    const unsigned changes = ~same & 0xFFu;
    const __m256i chosen = _mm256_permutevar8x32_epi32(
        _mm256_add_epi32(lanes, _mm256_set1_epi32(x)),
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kByteLanes[changes].data())));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(starts + n), chosen);
    n += std::popcount(changes);
  }
  return SplitTail(row, width, x, starts, n);
}

// The compression is done in a register and the whole vector stored: the
// form that compresses straight into memory is far slower on some machines.
__attribute__((target("avx512f,avx512bw,avx512vl,popcnt"))) int SplitAvx512(const std::uint8_t* row,
                                                                            std::int32_t width,
                                                                            std::int32_t* starts) {
  int n = 1;
  std::int32_t x = 1;
  const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  for (; x + 16 <= width; x += 16) {
    const std::uint8_t* p = row + 4 * static_cast<std::ptrdiff_t>(x);
    const __m512i now = _mm512_loadu_si512(p);
    const __m512i before = _mm512_loadu_si512(p - 4);
    const __mmask16 changes = _mm512_cmpneq_epi32_mask(now, before);
    const __m512i chosen =
        _mm512_maskz_compress_epi32(changes, _mm512_add_epi32(lanes, _mm512_set1_epi32(x)));
    _mm512_storeu_si512(starts + n, chosen);
    n += std::popcount(static_cast<unsigned>(changes));
  }
  return SplitTail(row, width, x, starts, n);
}
#endif

}  // namespace

int PixelRuns::Split(const std::uint8_t* row, std::int32_t width) {
  if (width <= 0) {
    if (starts_.empty()) starts_.resize(1);
    starts_[0] = 0;
    return 0;
  }
  // Run starts never outnumber the pixels before the current block, so a
  // block's store ends at most kWidestBlock entries past the row's width.
  const std::size_t room = static_cast<std::size_t>(width) + kWidestBlock + 1;
  if (starts_.size() < room) starts_.resize(room);
  std::int32_t* starts = starts_.data();
  starts[0] = 0;
  int n;
  switch (set_) {
#if defined(__x86_64__)
    case InstructionSet::kAvx512:
      n = SplitAvx512(row, width, starts);
      break;
    case InstructionSet::kAvx2:
      n = SplitAvx2(row, width, starts);
      break;
#endif
    default:
      n = SplitBaseline(row, width, starts);
      break;
  }
  starts[n] = width;
  return n;
}

}  // namespace kelpie
