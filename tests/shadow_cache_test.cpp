#include "render/shadow_cache.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <initializer_list>
#include <optional>
#include <random>
#include <vector>

#include "platform/glyph_cache.h"
#include "tests/pixel_helpers.h"

namespace kelpie {
namespace {

// Changing one column of random text changes the shadow from 6 columns
// before it to 11 after it, and nowhere else: what the cache's keys hold.
TEST(ShadowCacheTest, ShadowReadsTheReachOfColumnsAroundIt) {
  std::mt19937 random(1);
  std::uniform_int_distribution<unsigned> byte(0, 255);
  // White text, opaque or not, over a share `density` / 256 of the pixels.
  const auto text = [&byte, &random](ArgbBitmap& b, int x0, int x1, unsigned density) {
    for (int y = 0; y < b.height(); ++y) {
      for (int x = x0; x < x1; ++x) {
        const unsigned roll = byte(random);
        b.SetPixel(x, y,
                   roll < density / 2 ? 0xFFFFFFFF
                   : roll < density   ? byte(random) << 24 | 0xFFFFFF
                                      : 0);
      }
    }
  };
  constexpr int kColumn = 20;
  int before = 0;  // the farthest change seen after the column, which reads it as before
  int after = 0;
  for (int trial = 0; trial < 400; ++trial) {
    ArgbBitmap first(40, 12);
    text(first, 0, first.width(), byte(random));
    ArgbBitmap second = first;
    text(second, kColumn, kColumn + 1, 200);
    ApplyShadow(first);
    ApplyShadow(second);
    for (int y = 0; y < first.height(); ++y) {
      for (int x = 0; x < first.width(); ++x) {
        if (x == kColumn || first.Pixel(x, y) == second.Pixel(x, y)) continue;
        ASSERT_GE(x, kColumn - kShadowReachAfter);
        ASSERT_LE(x, kColumn + kShadowReachBefore);
        before = std::max(before, x - kColumn);
        after = std::max(after, kColumn - x);
      }
    }
  }
  EXPECT_EQ(before, kShadowReachBefore);
  EXPECT_EQ(after, kShadowReachAfter);
}

// Lines of a few made-up glyphs, so that the same neighbours come back at the
// same distances, as in a film: glyphs apart, touching and overlapping, one
// or two lines of text, cut by the picture's edges on every side, several
// heights and inks. Every
// line is shadowed through caches of two sizes (the small one starts again
// many times) and must match the effect without a cache, byte for byte.
TEST(ShadowCacheTest, CellsTakenFromTheCacheGiveTheSameBytesOnEverySet) {
  std::mt19937 random(7);
  const auto uniform = [&random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  const auto pick = [&uniform](std::initializer_list<int> values) {
    return *(values.begin() + uniform(0, static_cast<int>(values.size()) - 1));
  };
  std::vector<GlyphImage> glyphs(3);
  for (GlyphImage& g : glyphs) {
    g.width = uniform(3, 12);
    g.rows = uniform(4, 12);
    for (int i = 0; i < g.width * g.rows; ++i) {
      const int roll = uniform(0, 9);
      g.coverage.push_back(static_cast<std::uint8_t>(roll < 4   ? 255
                                                     : roll < 7 ? uniform(1, 254)
                                                                : 0));
    }
  }
  const Argb inks[] = {0xFFFFFFFF, 0xFFFFFF00, 0xFF000000, 0x80C86432};
  struct Line {
    TextDrawing drawing;
    int width;
    int height;
  };
  // Few glyphs, distances and edges, so that spans often have the same
  // glyphs near them and differ only further away or in where the picture
  // ends.
  std::vector<Line> lines;
  for (int n = 0; n < 600; ++n) {
    // One line of text, or two of 15 rows each, the second from row 15.
    const bool twoLines = uniform(0, 3) == 0;
    const int height = twoLines ? 30 : pick({14, 18});
    std::vector<TextDrawing::Glyph> placed;
    long x = pick({-8, -4, 0, 3, 9});
    const int count = uniform(1, 4);
    for (int k = 0; k < count; ++k) {
      const GlyphImage& g = glyphs[uniform(0, 2)];
      const long top = uniform(0, 5) == 0 ? pick({-2, height - 6}) : 2;
      placed.push_back({&g, x, top + (twoLines && uniform(0, 1) == 1 ? 15 : 0)});
      x += g.width + pick({-3, 0, 2, 4, 6, 11});
    }
    const int width = std::max(1, static_cast<int>(x) + pick({-6, -1, 0, 4, 12, 20}));
    TextLines textLines{{0}, 12, 15};
    if (twoLines) textLines.tops.push_back(15);
    lines.push_back({TextDrawing(inks[uniform(0, 3)], placed, textLines), width, height});
  }

  for (InstructionSet set : testing::SupportedSets()) {
    SCOPED_TRACE(InstructionSetName(set));
    ShadowScratch scratch;
    scratch.instructionSet = set;
    ShadowCacheScratch cells;
    // Random lines find little on their first passes: the caches must not
    // rest.
    ShadowCache small(16 << 10, /*rests=*/false);
    ShadowCache large(4 << 20, /*rests=*/false);
    std::int64_t blurredBefore = 0;
    ArgbBitmap reused;
    for (int pass = 0; pass < 3; ++pass) {
      // A cell's shadow is kept the second time it is blurred.
      if (pass == 2) blurredBefore = large.blurredPixels();
      for (std::size_t n = 0; n < lines.size(); ++n) {
        const Line& line = lines[n];
        ArgbBitmap drawn(line.width, line.height);
        const bool overTransparent = line.drawing.DrawOn(drawn);
        if (pass == 0) {
          // Drawn as lines are, on a picture cleared first (and left as the
          // line before left it): the same pixels and answer, where glyphs
          // overlap too.
          ASSERT_EQ(line.drawing.DrawOnClear(reused, line.width, line.height), overTransparent);
          ASSERT_TRUE(testing::SamePixels(reused, drawn)) << "line " << n;
        }
        const std::optional<Argb> ink =
            overTransparent ? std::optional<Argb>(line.drawing.colour()) : std::nullopt;
        ArgbBitmap expected = drawn;
        ApplyShadow(expected, scratch, ink);
        for (ShadowCache* cache : {&small, &large}) {
          ArgbBitmap cached = drawn;
          cache->Apply(cached, line.drawing, scratch, cells, ink);
          ASSERT_TRUE(testing::SamePixels(cached, expected)) << "line " << n << " pass " << pass;
        }
      }
    }
    EXPECT_EQ(large.blurredPixels(), blurredBefore);
    EXPECT_GT(small.foundPixels(), 0);
  }
}

}  // namespace
}  // namespace kelpie
