#include "platform/glyph_cache.h"

#include <algorithm>
#include <array>

namespace kelpie {

namespace {

// Glyph edges are drawn with 17 levels of coverage (0, 16, 32, ..., 255), the
// classic 4-bit grey-scale anti-aliasing of desktop text. A one-colour line
// of text then needs a few dozen palette entries at most (16 edge alphas,
// the shadow's three, and blends where glyphs overlap), so its picture fits a PGS palette exactly
// instead of going through the lossy network quantiser, which only colourful groups of many events
// still need.
constexpr unsigned kCoverageSteps = 16;

constexpr std::uint8_t QuantiseCoverage(unsigned c) {
  const unsigned level = (c * kCoverageSteps + 127) / 255;
  return static_cast<std::uint8_t>((level * 255 + kCoverageSteps / 2) / kCoverageSteps);
}
static_assert(QuantiseCoverage(0) == 0 && QuantiseCoverage(255) == 255);
static_assert(QuantiseCoverage(8) == 16 && QuantiseCoverage(7) == 0);

constexpr std::array<std::uint8_t, 256> MakeQuantisedCoverage() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned c = 0; c < 256; ++c) table[c] = QuantiseCoverage(c);
  return table;
}
constexpr std::array<std::uint8_t, 256> kQuantisedCoverage = MakeQuantisedCoverage();

// Copies the rendered bitmap of `slot` into `image`. 8-bit grey is rounded to
// the nearest of the coverage levels; a 1-bit bitmap (from a font whose hinting asks for it)
// becomes coverage 0 or 255. Other pixel modes give an empty image.
void CopyBitmap(const FT_GlyphSlot slot, GlyphImage& image) {
  const FT_Bitmap& bitmap = slot->bitmap;
  if (bitmap.width == 0 || bitmap.rows == 0 || bitmap.pitch <= 0) return;
  if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY && bitmap.pixel_mode != FT_PIXEL_MODE_MONO) return;
  image.left = slot->bitmap_left;
  image.top = slot->bitmap_top;
  image.width = static_cast<int>(bitmap.width);
  image.rows = static_cast<int>(bitmap.rows);
  image.coverage.assign(static_cast<std::size_t>(image.width) * image.rows, 0);
  // In locals: the byte stores below could otherwise change them, as far as
  // the compiler knows, and it would read them again for every byte.
  const int width = image.width;
  std::uint8_t* const coverage = image.coverage.data();
  for (int y = 0; y < image.rows; ++y) {
    const unsigned char* src = bitmap.buffer + static_cast<std::size_t>(y) * bitmap.pitch;
    std::uint8_t* dst = coverage + static_cast<std::size_t>(y) * width;
    if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
      // num_grays is 256 for FT_RENDER_MODE_NORMAL, so values are 0..255.
      for (int x = 0; x < width; ++x) dst[x] = kQuantisedCoverage[src[x]];
    } else {
      for (int x = 0; x < width; ++x) dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    }
  }
}

// Cuts the rows and columns of coverage 0 off the edges of `image` (faint
// edges that quantise to 0 leave some), so that its bounds are those of the
// pixels it draws. Drawing coverage 0 leaves a pixel as it is, so the cut
// image draws the same pixels; one without any coverage becomes empty.
void TrimBlankEdges(GlyphImage& image) {
  int x0 = image.width, x1 = 0, y0 = image.rows, y1 = 0;
  for (int y = 0; y < image.rows; ++y) {
    const std::uint8_t* row = image.coverage.data() + static_cast<std::size_t>(y) * image.width;
    const std::uint8_t* end = row + image.width;
    // The first and the last covered pixel of the row, if any.
    const std::uint8_t* first = std::find_if(row, end, [](std::uint8_t c) { return c != 0; });
    if (first == end) continue;
    const std::uint8_t* last = end - 1;
    while (*last == 0) --last;
    x0 = std::min(x0, static_cast<int>(first - row));
    x1 = std::max(x1, static_cast<int>(last - row) + 1);
    y0 = std::min(y0, y);
    y1 = y + 1;
  }
  if (x0 >= x1) {
    image = GlyphImage{};
    return;
  }
  if (x0 == 0 && y0 == 0 && x1 == image.width && y1 == image.rows) return;
  std::vector<std::uint8_t> kept(static_cast<std::size_t>(x1 - x0) * (y1 - y0));
  for (int y = y0; y < y1; ++y) {
    std::copy_n(image.coverage.data() + static_cast<std::size_t>(y) * image.width + x0, x1 - x0,
                kept.data() + static_cast<std::size_t>(y - y0) * (x1 - x0));
  }
  image.left += x0;
  image.top -= y0;
  image.width = x1 - x0;
  image.rows = y1 - y0;
  image.coverage = std::move(kept);
}

}  // namespace

const GlyphImage& GlyphCache::Get(int font, FT_Face face, unsigned glyph) {
  const std::uint64_t key = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(font)) << 32) |
                            static_cast<std::uint64_t>(glyph);
  auto [it, inserted] = images_.try_emplace(key);
  if (!inserted) return it->second;
  if (FT_Load_Glyph(face, glyph, kLoadFlags) == 0 &&
      FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) == 0) {
    CopyBitmap(face->glyph, it->second);
    TrimBlankEdges(it->second);
  }
  return it->second;
}

}  // namespace kelpie
