#include "render/shadow_cache.h"

#include <algorithm>
#include <cstring>

#include <emmintrin.h>

#include "platform/glyph_cache.h"

namespace kelpie {

namespace {

constexpr int kReachLeft = kShadowReachBefore;
constexpr int kReachRight = kShadowReachAfter;
// Parts of the picture to blur are blurred one at a time, each from its own
// copy of the text reaching kReachLeft and kReachRight columns beyond it.
// Parts are at least this far apart, so that no part's copy holds columns
// whose shadow an earlier part has already written.
constexpr int kJoinGap = kReachLeft + kReachRight;
// The most memory the window of a part keeps from one picture to the next.
constexpr std::size_t kWindowKept = std::size_t{256} << 10;

template <typename T>
void Append(std::string& key, const T& value) {
  key.append(reinterpret_cast<const char*>(&value), sizeof value);
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

// The `n` text pixels at p as drawn, shadowed from their kept bytes: a byte
// other than 0 is the alpha of a black pixel, any other pixel stays.
void PutShadow(const std::uint8_t* bytes, int n, Argb* p) {
  const __m128i zero = _mm_setzero_si128();
  // The four pixels at q from the four bytes in the low lanes of `b`: byte
  // b in the top byte of a 32-bit lane is b << 24.
  const auto put = [&zero](__m128i b, Argb* q) {
    const __m128i shadow = _mm_unpacklo_epi16(zero, _mm_unpacklo_epi8(zero, b));
    __m128i* at = reinterpret_cast<__m128i*>(q);
    const __m128i kept = _mm_and_si128(_mm_loadu_si128(at), _mm_cmpeq_epi32(shadow, zero));
    _mm_storeu_si128(at, _mm_or_si128(kept, shadow));
  };
  if (n < 4) {
    for (int x = 0; x < n; ++x) {
      if (bytes[x] != 0) p[x] = Argb{bytes[x]} << 24;
    }
    return;
  }
  // Sixteen or four pixels a step, the last step ending at n over the one
  // before (putting a shadow twice gives it once).
  const int step = n >= 16 ? 16 : 4;
  for (int x = 0;; x += step) {
    if (x > n - step) x = n - step;
    if (step == 16) {
      __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + x));
      for (int k = 0; k < 4; ++k, b = _mm_srli_si128(b, 4)) put(b, p + x + 4 * k);
    } else {
      std::int32_t four;
      std::memcpy(&four, bytes + x, sizeof four);
      put(_mm_cvtsi32_si128(four), p + x);
    }
    if (x == n - step) break;
  }
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

}  // namespace

ShadowCache::ShadowCache(std::int64_t budgetBytes)
    // Not value-initialised: the pages are taken only as shadows fill them.
    : pool_(new std::uint8_t[static_cast<std::size_t>(std::max<std::int64_t>(budgetBytes, 0))]),
      poolSize_(static_cast<std::size_t>(std::max<std::int64_t>(budgetBytes, 0))) {}

void ShadowCache::Apply(ArgbBitmap& text, const TextDrawing& drawing, ShadowScratch& scratch,
                        ShadowCacheScratch& s, std::optional<Argb> ink) {
  const int width = text.width();
  const int height = text.height();
  if (drawing.drawnBefore() || width == 0 || height == 0) {
    ApplyShadow(text, scratch, ink);
    return;
  }
  // The glyphs that draw something, and the columns whose shadow each can
  // reach: [left - 6, right + 11).
  std::vector<ShadowCacheScratch::Reach>& reaches = s.reaches;
  reaches.clear();
  s.cuts.assign({0, width});
  for (const TextDrawing::Glyph& g : drawing.glyphs()) {
    const GlyphImage& image = *g.image;
    if (image.empty() || g.left >= width || g.left + image.width <= 0 || g.top >= height ||
        g.top + image.rows <= 0) {
      continue;
    }
    const auto column = [width](long x) {
      return static_cast<int>(std::clamp(x, 0L, long{width}));
    };
    const ShadowCacheScratch::Reach reach{&g, column(g.left - kReachRight),
                                          column(g.left + image.width + kReachLeft)};
    reaches.push_back(reach);
    s.cuts.push_back(reach.begin);
  }
  std::sort(s.cuts.begin(), s.cuts.end());
  s.cuts.erase(std::unique(s.cuts.begin(), s.cuts.end()), s.cuts.end());

  // Between two cuts the same glyphs reach every column. The key of such a
  // span: the picture's height, the span's width, the colour, how far the
  // picture's edges are when the span reads past them, and each glyph that
  // reaches it with its place from the span's first column, in drawing order.
  s.spanCount = 0;
  for (std::size_t c = 0; c + 1 < s.cuts.size(); ++c) {
    const int begin = s.cuts[c];
    const int end = s.cuts[c + 1];
    if (s.spans.size() == s.spanCount) s.spans.emplace_back();
    ShadowCacheScratch::Span& span = s.spans[s.spanCount];
    span.begin = begin;
    span.end = end;
    span.found = false;
    span.blurred = false;
    span.keep = false;
    std::string& key = span.key;
    key.clear();
    Append(key, height);
    Append(key, end - begin);
    Append(key, drawing.colour());
    Append(key, begin < kReachLeft ? begin : -1);
    Append(key, end + kReachRight > width ? width - begin : -1);
    const std::size_t header = key.size();
    for (const ShadowCacheScratch::Reach& r : reaches) {
      if (r.begin >= end || r.end <= begin) continue;
      Append(key, r.glyph->image);
      Append(key, r.glyph->left - begin);
      Append(key, r.glyph->top);
    }
    // A span no glyph reaches reads only transparent text: no shadow.
    if (key.size() == header) continue;
    span.hash = std::hash<std::string>()(key);
    ++s.spanCount;
  }
  if (s.spanCount == 0) return;

  Find(s);

  // Blur the spans not found, in parts of spans near each other, from left
  // to right. A part reads the text kReachLeft columns before it and
  // kReachRight after it, all still as drawn.
  for (std::size_t first = 0; first < s.spanCount;) {
    if (s.spans[first].found) {
      ++first;
      continue;
    }
    // Spans not found join the part unless found ones of kJoinGap columns
    // or more lie between: the columns no glyph reaches cost next to
    // nothing to blur, and a part of its own would copy its text again.
    std::size_t last = first + 1;  // one past the last span of the part
    int foundBetween = 0;
    for (std::size_t next = last; next < s.spanCount; ++next) {
      const ShadowCacheScratch::Span& span = s.spans[next];
      if (span.found) {
        foundBetween += span.end - span.begin;
        if (foundBetween >= kJoinGap) break;
      } else {
        last = next + 1;
        foundBetween = 0;
      }
    }
    const int begin = s.spans[first].begin;
    const int end = s.spans[last - 1].end;
    for (std::size_t i = first; i < last; ++i) s.spans[i].blurred = true;
    const int from = std::max(0, begin - kReachLeft);
    const int to = std::min(width, end + kReachRight);
    if (from == 0 && to == width) {
      ApplyShadow(text, scratch, ink);
      Keep(s, first, last, text, 0);
    } else {
      ArgbBitmap& window = s.window;
      window.Resize(to - from, height);
      for (int y = 0; y < height; ++y) {
        const Argb* row = text.Row(y);
        std::copy(row + from, row + to, window.Row(y));
      }
      ApplyShadow(window, scratch, ink);
      for (int y = 0; y < height; ++y) {
        const Argb* row = window.Row(y);
        std::copy(row + (begin - from), row + (end - from), text.Row(y) + begin);
      }
      Keep(s, first, last, window, from);
    }
    first = last;
  }
  // A part of a large picture (a sign across the frame) grows the window;
  // it is not kept for the next picture, on each of many threads.
  if (s.window.memoryBytes() > kWindowKept) s.window = ArgbBitmap();

  // The shadows found, where no part was blurred.
  for (std::size_t i = 0; i < s.spanCount; ++i) {
    const ShadowCacheScratch::Span& span = s.spans[i];
    if (span.blurred || !span.found) continue;
    const int n = span.end - span.begin;
    for (int r = 0; r < span.rows; ++r) {
      PutShadow(s.found.data() + span.at + static_cast<std::size_t>(r) * n, n,
                text.Row(span.firstRow + r) + span.begin);
    }
  }
}

void ShadowCache::Find(ShadowCacheScratch& s) {
  s.found.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = 0; i < s.spanCount; ++i) {
    ShadowCacheScratch::Span& span = s.spans[i];
    const int n = span.end - span.begin;
    const auto it = kept_.find(span.key);
    if (it != kept_.end()) {
      const Kept& kept = it->second;
      span.found = true;
      span.firstRow = kept.firstRow;
      span.rows = kept.rows;
      span.at = s.found.size();
      const std::size_t count = static_cast<std::size_t>(n) * kept.rows;
      s.found.resize(span.at + count);
      UnpackShadow(pool_.get() + kept.at, count, s.found.data() + span.at);
      foundColumns_ += n;
      continue;
    }
    blurredColumns_ += n;
    std::uint64_t& word = seen_[span.hash / 64 % seen_.size()];
    const std::uint64_t bit = std::uint64_t{1} << (span.hash % 64);
    span.keep = (word & bit) != 0;
    if (!span.keep) {
      word |= bit;
      // Half the bits set: start again, before every span looks seen.
      if (++seenCount_ > kSeenBits / 2) {
        std::fill(seen_.begin(), seen_.end(), 0);
        seenCount_ = 0;
      }
    }
  }
}

void ShadowCache::Keep(ShadowCacheScratch& s, std::size_t first, std::size_t last,
                       const ArgbBitmap& shadowed, int origin) {
  const int height = shadowed.height();
  for (std::size_t i = first; i < last; ++i) {
    const ShadowCacheScratch::Span& span = s.spans[i];
    if (!span.keep) continue;
    const std::size_t n = static_cast<std::size_t>(span.end - span.begin);
    s.shadow.resize(n * static_cast<std::size_t>(height));
    // Only the rows from the first to the last with a shadow pixel.
    int firstRow = height;
    int lastRow = -1;
    for (int y = 0; y < height; ++y) {
      std::uint8_t* row = s.shadow.data() + y * n;
      ShadowBytes(shadowed.Row(y) + (span.begin - origin), static_cast<int>(n), row);
      if (std::any_of(row, row + n, [](std::uint8_t b) { return b != 0; })) {
        firstRow = std::min(firstRow, y);
        lastRow = y;
      }
    }
    Kept kept;
    kept.firstRow = lastRow >= firstRow ? firstRow : 0;
    kept.rows = lastRow >= firstRow ? lastRow + 1 - firstRow : 0;
    const std::size_t count = n * static_cast<std::size_t>(kept.rows);
    const std::size_t size = span.key.size() + (count + 1) / 2;
    std::lock_guard<std::mutex> lock(mutex_);
    if (size > poolSize_ || kept_.contains(span.key)) continue;
    if (used_ + size > poolSize_) {
      // Full: every kept shadow goes (none is in use outside the lock).
      kept_.clear();
      used_ = 0;
    }
    std::uint8_t* key = pool_.get() + used_;
    std::memcpy(key, span.key.data(), span.key.size());
    kept.at = used_ + span.key.size();
    PackShadow(s.shadow.data() + kept.firstRow * n, count, pool_.get() + kept.at);
    used_ += size;
    kept_.emplace(std::string_view(reinterpret_cast<const char*>(key), span.key.size()), kept);
  }
}

std::int64_t ShadowCache::foundColumns() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return foundColumns_;
}

std::int64_t ShadowCache::blurredColumns() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return blurredColumns_;
}

}  // namespace kelpie
