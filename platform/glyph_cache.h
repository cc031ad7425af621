// Rendered glyphs kept for the whole run: films repeat the same few hundred
// characters thousands of times, so every glyph of every font is rasterised
// once, on first use, and its coverage reused for measuring and drawing.
#ifndef KELPIE_PLATFORM_GLYPH_CACHE_H_
#define KELPIE_PLATFORM_GLYPH_CACHE_H_

#include <cstdint>
#include <unordered_map>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H

namespace kelpie {

// Anti-aliased coverage of one glyph drawn with its origin on whole pixels,
// without blank edge rows or columns.
struct GlyphImage {
  int left = 0;  // pixels from the origin to the first column, rightwards
  int top = 0;   // pixels from the baseline up to the first row
  int width = 0;
  int rows = 0;
  std::vector<std::uint8_t> coverage;  // width * rows bytes, 0 (none) to 255 (full), rows top down

  bool empty() const { return width == 0 || rows == 0; }
};

class GlyphCache {
 public:
  // FreeType load flags used for every glyph; HarfBuzz must be given the same
  // so that shaped advances match the rendered shapes. Outlines only (no
  // embedded bitmap strikes), with the font's default hinting.
  static constexpr FT_Int32 kLoadFlags = FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP;

  // The image of glyph `glyph` of `face`, which the caller knows as font
  // number `font`, rendered on first use. A glyph that fails to load or render
  // gives an empty image. The reference stays valid as long as the cache.
  // REQUIRES: `face` is always the same face for the same `font`, and its
  // size does not change.
  const GlyphImage& Get(int font, FT_Face face, unsigned glyph);

 private:
  std::unordered_map<std::uint64_t, GlyphImage> images_;
};

}  // namespace kelpie

#endif  // KELPIE_PLATFORM_GLYPH_CACHE_H_
