#include "platform/bitmap.h"

#include <gtest/gtest.h>

namespace kelpie {
namespace {

TEST(BitmapTest, BlendOverRoundsToNearest) {
  // (255 * 224) / 255 = 224 exactly; (200 * 100 + 50 * 155 + 127) / 255 = 109;
  // 1 * 127 / 255 < 1/2 rounds down, 1 * 128 / 255 up (no x.5: 255 is odd).
  EXPECT_EQ(BlendChannelOpaque(255, 0, 224), 224u);
  EXPECT_EQ(BlendChannelOpaque(200, 50, 100), 109u);
  EXPECT_EQ(BlendChannelOpaque(1, 0, 127), 0u);
  EXPECT_EQ(BlendChannelOpaque(1, 0, 128), 1u);
  EXPECT_EQ(BlendOver(0x80FF0000, 0xFF0000FF), 0xFF80007Fu);
  EXPECT_EQ(BlendOver(0x00123456, 0x80ABCDEF), 0x80ABCDEFu);  // invisible source
  EXPECT_EQ(BlendOver(0xFF123456, 0x80ABCDEF), 0xFF123456u);  // opaque source
  EXPECT_EQ(BlendOver(0x40FFFFFF, 0x000000FF), 0x40FFFFFFu);  // onto transparent
  // Half over half: A = 128 + 128 * 127 / 255 = 191.75 -> 192; weights 128 *
  // 255 and 128 * 127: red 255 * 32640 / 48896 = 170.2 -> 170, blue 84.8 -> 85.
  EXPECT_EQ(BlendOver(0x80FF0000, 0x800000FF), MakeArgb(192, 170, 0, 85));
}

TEST(BitmapTest, DrawOverClipsAndBlendsEveryPixel) {
  // A 3 x 2 source of alphas 0, 128 and 255 drawn at (1, -1), clipped right
  // and top, over transparent pixels (the fast way: the visible source
  // pixels themselves), half-transparent ones and an opaque RGB picture.
  ArgbBitmap source(3, 2);
  const Argb pixels[] = {0, 0, 0, 0x00123456, 0x80FF0000, 0xFF00FF00};
  for (int i = 0; i < 6; ++i) source.SetPixel(i % 3, i / 3, pixels[i]);
  for (const Argb under : {0x00ABCDEFu, 0x800000FFu}) {
    ArgbBitmap canvas(3, 2);
    canvas.Clear(under);
    canvas.DrawOver(source, 1, -1);
    EXPECT_EQ(canvas.Pixel(0, 0), under);
    EXPECT_EQ(canvas.Pixel(1, 0), under);
    EXPECT_EQ(canvas.Pixel(2, 0), BlendOver(0x80FF0000, under));
    EXPECT_EQ(canvas.Pixel(2, 1), under);
  }
  RgbBitmap rgb(3, 1);
  rgb.Clear(0x000000FF);
  rgb.DrawOver(source, 1, -1);
  EXPECT_EQ(rgb.Pixel(1, 0), 0xFF0000FFu);
  EXPECT_EQ(rgb.Pixel(2, 0), 0xFF80007Fu);
}

}  // namespace
}  // namespace kelpie
