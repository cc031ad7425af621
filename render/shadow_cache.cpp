#include "render/shadow_cache.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include <immintrin.h>

#include "platform/glyph_cache.h"

namespace kelpie {

namespace {

constexpr int kReachBefore = kShadowReachBefore;
constexpr int kReachAfter = kShadowReachAfter;
// Parts of a band to blur are blurred one at a time, each from its own copy
// of the text reaching kReachBefore and kReachAfter pixels beyond it; parts
// are joined unless at least this many columns lie between, so that few
// columns are copied and blurred twice.
constexpr int kJoinGap = kReachBefore + kReachAfter;
// Parts covering at least this share of the picture's pixels are not worth
// copying: the whole picture is blurred instead.
constexpr struct {
  std::int64_t num;
  std::int64_t den;
} kWholeShare = {3, 4};
// After kProbePictures pictures that found less than kFoundShare of their
// pixels' shadows, the next kRestPictures pictures do not look; the first
// judgement is on the first kWarmPictures pictures, which start with an
// empty cache.
constexpr int kWarmPictures = 128;
constexpr int kProbePictures = 16;
constexpr int kRestPictures = 64;
constexpr struct {
  std::int64_t num;
  std::int64_t den;
} kFoundShare = {1, 20};
// The most memory the windows of the parts keep, together, from one picture
// to the next.
constexpr std::size_t kWindowKept = std::size_t{64} << 10;

// Two 32-bit numbers in one word of a key.
inline std::uint64_t Pair(int first, int second) {
  return std::uint64_t{static_cast<std::uint32_t>(first)} << 32 |
         static_cast<std::uint32_t>(second);
}

// The byte kept for each of `n` shadowed pixels at p: its alpha where it is
// one of the three shadow pixels, else 0. Every pixel the shadow writes is
// one of them; where one is text as drawn (black), writing it again changes
// nothing.
inline bool IsShadowPixel(Argb p) {
  return p == kShadowFaint || p == kShadowMedium || p == kShadowDark;
}

void ShadowBytes(const Argb* p, int n, std::uint8_t* out) {
  const auto bytesOf = [](const Argb* q) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i shadow =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi32(v, _mm_set1_epi32(kShadowFaint)),
                                  _mm_cmpeq_epi32(v, _mm_set1_epi32(kShadowMedium))),
                     _mm_cmpeq_epi32(v, _mm_set1_epi32(static_cast<int>(kShadowDark))));
    return _mm_and_si128(_mm_srli_epi32(v, 24), shadow);
  };
  if (n < 16) {
    for (int x = 0; x < n; ++x) {
      out[x] = IsShadowPixel(p[x]) ? static_cast<std::uint8_t>(p[x] >> 24) : 0;
    }
    return;
  }
  // Sixteen pixels a step, the last step ending at n over the one before.
  for (int x = 0;; x += 16) {
    if (x > n - 16) x = n - 16;
    const __m128i low = _mm_packs_epi32(bytesOf(p + x), bytesOf(p + x + 4));
    const __m128i high = _mm_packs_epi32(bytesOf(p + x + 8), bytesOf(p + x + 12));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(low, high));
    if (x == n - 16) break;
  }
}

// The hash of a key's words: each word mixed in by a multiplication, and
// the whole once more at the end, so that its low bits (the slot, the seen
// bit) depend on every word.
std::uint64_t HashWords(const std::vector<std::uint64_t>& words) {
  std::uint64_t h = 0;
  for (const std::uint64_t w : words) h = (std::rotl(h, 23) ^ w) * 0x9E3779B97F4A7C15u;
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93u;
  return h ^ (h >> 32);
}

// Kept shadows take four bits a pixel: the high half of its byte, which
// tells the three shadow alphas (0x40, 0x80, 0xF8) and 0 apart.
void PackShadow(const std::uint8_t* bytes, std::size_t count, std::uint8_t* packed) {
  for (std::size_t i = 0; i < count; i += 2) {
    const unsigned second = i + 1 < count ? bytes[i + 1] : 0;
    packed[i / 2] = static_cast<std::uint8_t>(bytes[i] >> 4 | (second & 0xF0));
  }
}

inline std::uint8_t UnpackedByte(unsigned half) {
  return static_cast<std::uint8_t>(half << 4 | (half == 0xF ? 0x8 : 0));
}

void UnpackShadow(const std::uint8_t* packed, std::size_t count, std::uint8_t* bytes) {
  const __m128i low = _mm_set1_epi8(0x0F);
  const __m128i top = _mm_set1_epi8(static_cast<char>(0xF0));
  const __m128i eight = _mm_set1_epi8(0x08);
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(packed + i / 2));
    const __m128i halves =
        _mm_unpacklo_epi8(_mm_and_si128(v, low), _mm_and_si128(_mm_srli_epi16(v, 4), low));
    const __m128i b = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(halves, 4), top),
                                   _mm_and_si128(_mm_cmpeq_epi8(halves, low), eight));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + i), b);
  }
  for (; i < count; ++i) {
    bytes[i] = UnpackedByte(i % 2 == 0 ? packed[i / 2] & 0xF : packed[i / 2] >> 4);
  }
}

// Putting found shadows into the picture, compiled once for each
// instruction set.
#define KELPIE_INSTRUCTION_SET_BODY "render/shadow_cache_body.inc"
#include "platform/instruction_set_copies.inc"

// The pool takes the budget, but no more than kept shadows' 32-bit places
// reach.
std::size_t PoolSize(std::int64_t budgetBytes) {
  return static_cast<std::size_t>(std::clamp<std::int64_t>(budgetBytes, 0, UINT32_MAX));
}

}  // namespace

ShadowCache::ShadowCache(std::int64_t budgetBytes, bool rests)
    // Not value-initialised: the pages are taken only as shadows fill them.
    : pool_(new std::uint8_t[PoolSize(budgetBytes)]),
      poolSize_(PoolSize(budgetBytes)),
      rests_(rests) {}

void ShadowCache::Apply(ArgbBitmap& text, const TextDrawing& drawing, ShadowScratch& scratch,
                        ShadowCacheScratch& s, std::optional<Argb> ink) {
  const int width = text.width();
  const int height = text.height();
  if (drawing.drawnBefore() || width == 0 || height == 0 || Resting()) {
    ApplyShadow(text, scratch, ink);
    return;
  }
  CutCells(drawing, width, height, s);
  if (s.cellCount == 0) return;  // nothing visible: no shadow
  Find(s);
  const std::int64_t partPixels = PlanParts(s, width, height);
  if (partPixels * kWholeShare.den >= std::int64_t{width} * height * kWholeShare.num) {
    // Blurring the parts would cost about as much as the whole picture: the
    // whole picture, in place.
    ApplyShadow(text, scratch, ink);
    for (std::size_t i = 0; i < s.cellCount; ++i) {
      ShadowCacheScratch::Cell& cell = s.cells[i];
      if (!cell.keep) continue;
      Take(s, cell, text, 0, 0);
      Keep(s, cell);
    }
    return;
  }

  // Each part from its own copy of the text as drawn around it: the picture
  // is not changed until every shadow is known.
  if (s.windows.size() < s.parts.size()) s.windows.resize(s.parts.size());
  for (std::size_t k = 0; k < s.parts.size(); ++k) {
    const ShadowCacheScratch::Part& part = s.parts[k];
    ArgbBitmap& window = s.windows[k];
    window.Resize(part.right - part.left, part.below - part.above);
    for (int y = part.above; y < part.below; ++y) {
      const Argb* row = text.Row(y);
      std::copy(row + part.left, row + part.right, window.Row(y - part.above));
    }
    // Only the part's own pixels: the window's others are read alone.
    const ShadowCacheScratch::Cell& firstCell = s.cells[part.first];
    ApplyShadow(window, scratch, ink,
                PixelRect{firstCell.begin - part.left, firstCell.top - part.above,
                          s.cells[part.last - 1].end - part.left, firstCell.bottom - part.above});
    for (std::size_t i = part.first; i < part.last; ++i) {
      ShadowCacheScratch::Cell& cell = s.cells[i];
      if (cell.found || !cell.keep) continue;
      Take(s, cell, window, part.left, part.above);
      Keep(s, cell);
    }
  }

  // Found cells from their bytes; the others as their part's copy has them
  // (the shadow put in, every other pixel as drawn).
  KELPIE_INSTRUCTION_SET_COPY(scratch.instructionSet, PutFoundShadows)(s, text);
  for (std::size_t k = 0; k < s.parts.size(); ++k) {
    const ShadowCacheScratch::Part& part = s.parts[k];
    const ArgbBitmap& window = s.windows[k];
    for (std::size_t i = part.first; i < part.last; ++i) {
      const ShadowCacheScratch::Cell& cell = s.cells[i];
      if (cell.found) continue;
      for (int y = cell.top; y < cell.bottom; ++y) {
        const Argb* from = window.Row(y - part.above) + (cell.begin - part.left);
        std::copy(from, from + (cell.end - cell.begin), text.Row(y) + cell.begin);
      }
    }
  }
  // The parts of a large picture (a sign across the frame) grow the
  // windows; they are not kept for the next picture, on each of many
  // threads.
  std::size_t windowBytes = 0;
  for (ArgbBitmap& window : s.windows) {
    windowBytes += window.memoryBytes();
    if (windowBytes > kWindowKept) window = ArgbBitmap();
  }
}

void ShadowCache::CutCells(const TextDrawing& drawing, int width, int height,
                           ShadowCacheScratch& s) {
  // The glyphs that draw something, and the pixels whose shadow each can
  // reach: [left - 6, right + 11) across and down.
  s.reaches.clear();
  const auto clamp = [](long v, int limit) {
    return static_cast<int>(std::clamp(v, 0L, long{limit}));
  };
  for (const TextDrawing::Glyph& g : drawing.glyphs()) {
    const GlyphImage& image = *g.image;
    if (image.empty() || g.left >= width || g.left + image.width <= 0 || g.top >= height ||
        g.top + image.rows <= 0) {
      continue;
    }
    s.reaches.push_back(
        {&g, clamp(g.left - kReachAfter, width), clamp(g.left + image.width + kReachBefore, width),
         clamp(g.top - kReachAfter, height), clamp(g.top + image.rows + kReachBefore, height)});
  }

  // Each line of text is a band of rows, cut into spans where a glyph comes
  // within reach or goes out of it. The key of a cell: its size, the colour,
  // how far the picture's right and bottom edges are when the cell reads
  // past them, and each glyph that reaches it, in drawing order, with its
  // place in the cell and how much of it the picture's left and top edges
  // cut off. (No other edge matters: the blur reads nothing before the first
  // column or row, where the text is transparent.)
  // A band begins a little below each line's top, where the shadow of the
  // line above, but for its descenders, has ended and that of the line's
  // own capitals has not begun: the band of a second line then holds the
  // same glyphs at the same places as the band of a line on its own.
  const TextLines& lines = drawing.lines();
  const long below = std::max(0, lines.baseline + 1 + kReachBefore - lines.spacing);
  s.bands.assign({0, height});
  for (long top : lines.tops) {
    if (top + below > 0 && top + below < height) s.bands.push_back(static_cast<int>(top + below));
  }
  std::sort(s.bands.begin(), s.bands.end());
  s.bands.erase(std::unique(s.bands.begin(), s.bands.end()), s.bands.end());
  s.cellCount = 0;
  for (std::size_t b = 0; b + 1 < s.bands.size(); ++b) {
    const int top = s.bands[b];
    const int bottom = s.bands[b + 1];
    // The glyphs that reach the band, in drawing order.
    s.bandReaches.clear();
    s.cuts.assign({0, width});
    for (const ShadowCacheScratch::Reach& r : s.reaches) {
      if (r.top < bottom && r.bottom > top) {
        s.bandReaches.push_back(r);
        s.cuts.push_back(r.left);
        s.cuts.push_back(r.right);
      }
    }
    std::sort(s.cuts.begin(), s.cuts.end());
    s.cuts.erase(std::unique(s.cuts.begin(), s.cuts.end()), s.cuts.end());
    for (std::size_t c = 0; c + 1 < s.cuts.size(); ++c) {
      const int begin = s.cuts[c];
      const int end = s.cuts[c + 1];
      if (s.cells.size() == s.cellCount) s.cells.emplace_back();
      ShadowCacheScratch::Cell& cell = s.cells[s.cellCount];
      cell.begin = begin;
      cell.end = end;
      cell.top = top;
      cell.bottom = bottom;
      cell.found = false;
      cell.keep = false;
      cell.rows = 0;
      // The key in 64-bit words, two numbers of 32 bits each but for the
      // image's address.
      std::vector<std::uint64_t>& words = s.keyWords;
      words.clear();
      words.push_back(Pair(end - begin, bottom - top));
      words.push_back(Pair(static_cast<int>(drawing.colour()), 0));
      words.push_back(Pair(end + kReachAfter > width ? width - begin : -1,
                           bottom + kReachAfter > height ? height - top : -1));
      const std::size_t header = words.size();
      // Every glyph of the band is written, and the end moved past it only
      // when it reaches the cell: which do cannot be guessed.
      words.resize(header + 3 * s.bandReaches.size());
      std::size_t n = header;
      for (const ShadowCacheScratch::Reach& r : s.bandReaches) {
        const TextDrawing::Glyph& g = *r.glyph;
        words[n] = reinterpret_cast<std::uintptr_t>(g.image);
        words[n + 1] = Pair(static_cast<int>(g.left - begin), static_cast<int>(g.top - top));
        words[n + 2] =
            Pair(static_cast<int>(std::max(0L, -g.left)), static_cast<int>(std::max(0L, -g.top)));
        n += 3 * static_cast<std::size_t>((r.left < end) & (r.right > begin));
      }
      words.resize(n);
      // A cell no glyph reaches reads only transparent text: no shadow.
      if (n == header) continue;
      cell.key.assign(reinterpret_cast<const char*>(words.data()),
                      words.size() * sizeof(std::uint64_t));
      cell.hash = HashWords(words);
      ++s.cellCount;
    }
  }
}

std::int64_t ShadowCache::PlanParts(ShadowCacheScratch& s, int width, int height) {
  // The parts to blur: in each band, the cells not found, joined unless
  // found ones of kJoinGap columns or more lie between, each with the
  // pixels around it that its shadow reads.
  s.parts.clear();
  std::int64_t partPixels = 0;
  for (std::size_t first = 0; first < s.cellCount;) {
    if (s.cells[first].found) {
      ++first;
      continue;
    }
    const int top = s.cells[first].top;
    std::size_t last = first + 1;  // one past the last cell of the part
    int foundBetween = 0;
    for (std::size_t next = last; next < s.cellCount && s.cells[next].top == top; ++next) {
      const ShadowCacheScratch::Cell& cell = s.cells[next];
      if (cell.found) {
        foundBetween += cell.end - cell.begin;
        if (foundBetween >= kJoinGap) break;
      } else {
        last = next + 1;
        foundBetween = 0;
      }
    }
    ShadowCacheScratch::Part part;
    part.first = first;
    part.last = last;
    part.left = std::max(0, s.cells[first].begin - kReachBefore);
    part.right = std::min(width, s.cells[last - 1].end + kReachAfter);
    part.above = std::max(0, top - kReachBefore);
    part.below = std::min(height, s.cells[first].bottom + kReachAfter);
    partPixels += std::int64_t{part.right - part.left} * (part.below - part.above);
    s.parts.push_back(part);
    first = last;
  }
  return partPixels;
}

void ShadowCache::Take(ShadowCacheScratch& s, ShadowCacheScratch::Cell& cell,
                       const ArgbBitmap& shadowed, int originX, int originY) {
  const int n = cell.end - cell.begin;
  cell.at = s.bytes.size();
  s.bytes.resize(cell.at + static_cast<std::size_t>(n) * (cell.bottom - cell.top));
  // Only the rows from the first to the last with a shadow pixel.
  int firstRow = -1;
  int rows = 0;
  std::uint8_t* out = s.bytes.data() + cell.at;
  for (int y = cell.top; y < cell.bottom; ++y) {
    ShadowBytes(shadowed.Row(y - originY) + (cell.begin - originX), n, out);
    // An or of the whole row, without leaving at the first shadow pixel
    // (where that is cannot be guessed).
    std::uint8_t any = 0;
    for (int x = 0; x < n; ++x) any |= out[x];
    if (any != 0) {
      if (firstRow < 0) firstRow = y - cell.top;
      rows = y - cell.top + 1 - firstRow;
      out += n;
    } else if (firstRow >= 0) {
      out += n;  // a row without shadow between two with: kept
    }
  }
  // Rows after the last with a shadow pixel are not kept.
  cell.firstRow = std::max(firstRow, 0);
  cell.rows = rows;
  s.bytes.resize(cell.at + static_cast<std::size_t>(n) * rows);
}

bool ShadowCache::Resting() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (restLeft_ == 0) return false;
  --restLeft_;
  return true;
}

void ShadowCache::Find(ShadowCacheScratch& s) {
  s.bytes.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  const std::int64_t foundBefore = foundPixels_;
  const std::int64_t blurredBefore = blurredPixels_;
  for (std::size_t i = 0; i < s.cellCount; ++i) {
    ShadowCacheScratch::Cell& cell = s.cells[i];
    const std::int64_t pixels = std::int64_t{cell.end - cell.begin} * (cell.bottom - cell.top);
    const Kept& kept = SlotOf(cell.key, cell.hash);
    if (kept.keyLength != 0) {
      cell.found = true;
      cell.firstRow = kept.firstRow;
      cell.rows = kept.rows;
      cell.at = s.bytes.size();
      const std::size_t count = static_cast<std::size_t>(cell.end - cell.begin) * kept.rows;
      s.bytes.resize(cell.at + count);
      UnpackShadow(pool_.get() + kept.keyAt + kept.keyLength, count, s.bytes.data() + cell.at);
      foundPixels_ += pixels;
      continue;
    }
    blurredPixels_ += pixels;
    std::uint64_t& word = seen_[cell.hash / 64 % seen_.size()];
    const std::uint64_t bit = std::uint64_t{1} << (cell.hash % 64);
    cell.keep = (word & bit) != 0;
    if (!cell.keep) {
      word |= bit;
      // Half the bits set: start again, before every cell looks seen.
      if (++seenCount_ > kSeenBits / 2) {
        std::fill(seen_.begin(), seen_.end(), 0);
        seenCount_ = 0;
      }
    }
  }
  // When a run of pictures finds almost nothing, as in a script of
  // thousands of different ideographs, the cache rests for a while: looking
  // up and keeping would cost more than it saves.
  recentFound_ += foundPixels_ - foundBefore;
  recentLooked_ += foundPixels_ - foundBefore + blurredPixels_ - blurredBefore;
  if (++recentPictures_ == (lookedUp_ < kWarmPictures ? kWarmPictures : kProbePictures)) {
    lookedUp_ += recentPictures_;
    if (rests_ && recentFound_ * kFoundShare.den < recentLooked_ * kFoundShare.num) {
      restLeft_ = kRestPictures;
    }
    recentPictures_ = 0;
    recentFound_ = 0;
    recentLooked_ = 0;
  }
}

ShadowCache::Kept& ShadowCache::SlotOf(std::string_view key, std::uint64_t hash) {
  for (std::size_t i = hash % kSlots;; i = (i + 1) % kSlots) {
    Kept& slot = kept_[i];
    if (slot.keyLength == 0 ||
        (slot.hash == hash && slot.keyLength == key.size() &&
         std::memcmp(pool_.get() + slot.keyAt, key.data(), key.size()) == 0)) {
      return slot;
    }
  }
}

void ShadowCache::Keep(const ShadowCacheScratch& s, const ShadowCacheScratch::Cell& cell) {
  const std::size_t count = static_cast<std::size_t>(cell.end - cell.begin) * cell.rows;
  const std::size_t size = cell.key.size() + (count + 1) / 2;
  std::lock_guard<std::mutex> lock(mutex_);
  Kept* slot = &SlotOf(cell.key, cell.hash);
  if (size > poolSize_ || slot->keyLength != 0) return;  // too large, or kept by another thread
  if (used_ + size > poolSize_ || keptCount_ == kMostKept) {
    // Full: every kept shadow goes (none is in use outside the lock).
    std::fill(kept_.begin(), kept_.end(), Kept{});
    keptCount_ = 0;
    used_ = 0;
    slot = &SlotOf(cell.key, cell.hash);
  }
  Kept& kept = *slot;
  kept.hash = cell.hash;
  kept.keyAt = static_cast<std::uint32_t>(used_);
  kept.keyLength = static_cast<std::uint32_t>(cell.key.size());
  kept.firstRow = cell.firstRow;
  kept.rows = cell.rows;
  std::memcpy(pool_.get() + used_, cell.key.data(), cell.key.size());
  PackShadow(s.bytes.data() + cell.at, count, pool_.get() + used_ + cell.key.size());
  used_ += size;
  ++keptCount_;
}

std::int64_t ShadowCache::foundPixels() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return foundPixels_;
}

std::int64_t ShadowCache::blurredPixels() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return blurredPixels_;
}

}  // namespace kelpie
