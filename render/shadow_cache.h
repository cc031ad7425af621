// Shadows remembered from one line to the next. A text pixel's shadow
// depends only on the text from 11 pixels before it to 6 after it, across
// and down (kShadowReachBefore, kShadowReachAfter), and a film's lines
// repeat the same glyphs side by side at the same distances over and over.
// So a picture drawn from glyphs is cut into cells, each line of text into
// spans of columns, which the same glyphs reach throughout; the shadow of a
// cell is kept under those glyphs and their places in it, and a cell whose
// glyphs come again as they were takes the kept shadow instead of blurring.
// The bytes are the same as ApplyShadow gives.
#ifndef KELPIE_RENDER_SHADOW_CACHE_H_
#define KELPIE_RENDER_SHADOW_CACHE_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bitmap.h"
#include "platform/text_face.h"
#include "render/shadow.h"

namespace kelpie {

// Work memory of ShadowCache::Apply, one per thread.
struct ShadowCacheScratch {
  // A glyph that draws something, and the columns [left, right) and rows
  // [top, bottom) whose shadow it reaches.
  struct Reach {
    const TextDrawing::Glyph* glyph;
    int left;
    int right;
    int top;
    int bottom;
  };
  // Columns [begin, end) of rows [top, bottom) of the text picture, which the
  // same glyphs reach throughout.
  struct Cell {
    int begin = 0;
    int end = 0;
    int top = 0;
    int bottom = 0;
    std::string key;  // what its shadow depends on
    std::uint64_t hash = 0;
    bool found = false;  // its shadow came from the cache
    bool keep = false;   // its shadow is to be kept once blurred
    // Its shadow, once found or blurred to keep: its rows [top + firstRow,
    // top + firstRow + rows), each pixel the alpha of the shadow pixel it
    // becomes or 0, from `at` in `bytes`; its other rows take no shadow.
    int firstRow = 0;
    int rows = 0;
    std::size_t at = 0;
  };
  std::vector<Reach> reaches;
  std::vector<Reach> bandReaches;  // those of one band
  std::vector<Cell> cells;         // the first `cellCount` are the picture's
  std::size_t cellCount = 0;
  std::vector<int> bands;
  std::vector<int> cuts;
  std::vector<std::uint64_t> keyWords;
  // Cells [first, last) of one band blurred together from the text pixels
  // [left, right) x [above, below).
  struct Part {
    std::size_t first;
    std::size_t last;
    int left;
    int right;
    int above;
    int below;
  };
  std::vector<Part> parts;
  // The shadows of the cells found, and of those blurred to keep.
  std::vector<std::uint8_t, UnfilledAllocator<std::uint8_t>> bytes;
  std::vector<ArgbBitmap> windows;  // each part's pixels, blurred
};

class ShadowCache {
 public:
  // The cache takes at most `budgetBytes` for keys and shadows, plus its
  // index; when full, it starts again. `rests`: whether it stops looking for
  // a while when pictures find almost nothing.
  explicit ShadowCache(std::int64_t budgetBytes, bool rests = true);

  // ApplyShadow(text, scratch, ink) for `text` just drawn from `drawing`
  // on a transparent picture of its size. Safe to call from several
  // threads at once.
  void Apply(ArgbBitmap& text, const TextDrawing& drawing, ShadowScratch& scratch,
             ShadowCacheScratch& cells, std::optional<Argb> ink);

  // Pixels of text whose shadow was taken from the cache, and blurred, so far.
  std::int64_t foundPixels() const;
  std::int64_t blurredPixels() const;

 private:
  static constexpr std::size_t kSeenBits = std::size_t{1} << 20;

  // A kept shadow: its key at `keyAt` in the pool, `keyLength` bytes, and
  // right after it its cell's rows [firstRow, firstRow + rows), row by row,
  // each pixel the alpha of the shadow pixel it becomes or 0; its other rows
  // take no shadow. keyLength 0 marks an empty slot.
  struct Kept {
    std::uint64_t hash = 0;
    std::uint32_t keyAt = 0;
    std::uint32_t keyLength = 0;
    std::int32_t firstRow = 0;
    std::int32_t rows = 0;
  };
  // The index of kept shadows: open addressing by the key's hash, at most
  // half full, so that a look-up reads one slot or a few next to it.
  static constexpr std::size_t kSlots = std::size_t{1} << 14;
  static constexpr std::size_t kMostKept = kSlots / 2;

  // Whether this picture is not to be looked up (see Find).
  bool Resting();
  // The slot that holds `key`, or the empty slot where it would go.
  // REQUIRES: the lock held.
  Kept& SlotOf(std::string_view key, std::uint64_t hash);
  // Cuts the picture of `width` x `height` pixels that `drawing` draws into
  // the cells s.cells[0, s.cellCount), with their keys.
  static void CutCells(const TextDrawing& drawing, int width, int height, ShadowCacheScratch& s);
  // Plans s.parts, the parts that blur the cells not found; gives the pixels
  // of the copies they blur from.
  static std::int64_t PlanParts(ShadowCacheScratch& s, int width, int height);
  // Looks up the cells of `s`, copying the shadows found, and marks those
  // not found that were seen once before, to keep.
  void Find(ShadowCacheScratch& s);
  // Reads the shadow of `cell` off `shadowed`, whose pixel (0, 0) is text
  // pixel (originX, originY), into s.bytes.
  static void Take(ShadowCacheScratch& s, ShadowCacheScratch::Cell& cell,
                   const ArgbBitmap& shadowed, int originX, int originY);
  // Keeps the shadow of `cell`, once taken.
  void Keep(const ShadowCacheScratch& s, const ShadowCacheScratch::Cell& cell);

  mutable std::mutex mutex_;
  // Keys and shadows, one after the other from the start; its pages are
  // taken as it fills.
  std::unique_ptr<std::uint8_t[]> pool_;
  std::size_t poolSize_;
  std::size_t used_ = 0;
  std::vector<Kept> kept_ = std::vector<Kept>(kSlots);
  std::size_t keptCount_ = 0;
  // Cells seen once, by a bit of their key's hash: a cell's shadow is kept
  // when it comes a second time, so that the many that never come again
  // (most of a Chinese script's) take no room.
  std::vector<std::uint64_t> seen_ = std::vector<std::uint64_t>(kSeenBits / 64);
  std::size_t seenCount_ = 0;
  std::int64_t foundPixels_ = 0;
  std::int64_t blurredPixels_ = 0;
  bool rests_;
  std::int64_t lookedUp_ = 0;  // pictures looked up before the recent ones
  // The pictures looked up lately, and the pixels found and looked up.
  int recentPictures_ = 0;
  std::int64_t recentFound_ = 0;
  std::int64_t recentLooked_ = 0;
  int restLeft_ = 0;  // pictures still not to be looked up
};

}  // namespace kelpie

#endif  // KELPIE_RENDER_SHADOW_CACHE_H_
