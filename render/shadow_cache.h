// Shadows remembered from one line to the next. A text pixel's shadow
// depends only on the text in the 11 columns to its left and the 6 to its
// right (over the picture's whole height), and a film's lines repeat the
// same glyphs side by side at the same distances over and over. So a
// picture drawn from glyphs is cut into spans of columns whose neighbouring
// glyphs stay the same; the shadow of each span is kept under those glyphs,
// their places and the picture's height, and a span whose glyphs come again
// as they were takes the kept shadow instead of blurring. The bytes are the
// same as ApplyShadow gives.
#ifndef KELPIE_RENDER_SHADOW_CACHE_H_
#define KELPIE_RENDER_SHADOW_CACHE_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/bitmap.h"
#include "platform/text_face.h"
#include "render/shadow.h"

namespace kelpie {

// Work memory of ShadowCache::Apply, one per thread.
struct ShadowCacheScratch {
  struct Span {
    int begin = 0;  // columns [begin, end) of the text picture
    int end = 0;
    std::string key;  // what its shadow depends on
    std::size_t hash = 0;
    bool found = false;    // its shadow came from the cache, into `found`
    bool blurred = false;  // it lies in a part of the picture that was blurred
    bool keep = false;     // its shadow is to be kept once blurred
    // When found: its rows [firstRow, firstRow + rows) take a shadow, whose
    // bytes start at `at` in `found`.
    int firstRow = 0;
    int rows = 0;
    std::size_t at = 0;
  };
  // A glyph that draws something, and the columns whose shadow it reaches.
  struct Reach {
    const TextDrawing::Glyph* glyph;
    int begin;
    int end;
  };
  std::vector<Reach> reaches;
  std::vector<Span> spans;  // the first `spanCount` are the picture's
  std::size_t spanCount = 0;
  std::vector<int> cuts;
  std::vector<std::uint8_t> found;   // the shadows found
  std::vector<std::uint8_t> shadow;  // one shadow being kept
  ArgbBitmap window;                 // the columns of one part being blurred
};

class ShadowCache {
 public:
  // The cache takes at most `budgetBytes` for keys and shadows, plus its
  // index; when full, it starts again.
  explicit ShadowCache(std::int64_t budgetBytes);

  // ApplyShadow(text, scratch, ink) for `text` just drawn from `drawing`
  // on a transparent picture of its size. Safe to call from several
  // threads at once.
  void Apply(ArgbBitmap& text, const TextDrawing& drawing, ShadowScratch& scratch,
             ShadowCacheScratch& spans, std::optional<Argb> ink);

  // Columns of text whose shadow was taken from the cache, and blurred, so far.
  std::int64_t foundColumns() const;
  std::int64_t blurredColumns() const;

 private:
  static constexpr std::size_t kSeenBits = std::size_t{1} << 20;

  // A kept shadow: its span's rows [firstRow, firstRow + rows), row by row,
  // each pixel the alpha of the shadow pixel it becomes or 0, at `at` in
  // the pool; its other rows take no shadow.
  struct Kept {
    std::size_t at = 0;
    int firstRow = 0;
    int rows = 0;
  };

  // Looks up the spans of `s`, copying the shadows found, and marks those
  // not found that were seen once before, to keep.
  void Find(ShadowCacheScratch& s);
  // Keeps the shadows of the spans [first, last) of `s` marked to keep,
  // read off `shadowed`, whose column 0 is text column `origin`.
  void Keep(ShadowCacheScratch& s, std::size_t first, std::size_t last, const ArgbBitmap& shadowed,
            int origin);

  mutable std::mutex mutex_;
  // Keys and shadows, one after the other from the start; its pages are
  // taken as it fills.
  std::unique_ptr<std::uint8_t[]> pool_;
  std::size_t poolSize_;
  std::size_t used_ = 0;
  std::unordered_map<std::string_view, Kept> kept_;  // keys in the pool
  // Spans seen once, by a bit of their key's hash: a span's shadow is kept
  // when it comes a second time, so that the many that never come again
  // (most of a Chinese script's) take no room.
  std::vector<std::uint64_t> seen_ = std::vector<std::uint64_t>(kSeenBits / 64);
  std::size_t seenCount_ = 0;
  std::int64_t foundColumns_ = 0;
  std::int64_t blurredColumns_ = 0;
};

}  // namespace kelpie

#endif  // KELPIE_RENDER_SHADOW_CACHE_H_
