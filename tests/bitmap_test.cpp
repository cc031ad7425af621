#include "platform/bitmap.h"

#include <gtest/gtest.h>

namespace kelpie {
namespace {

TEST(BitmapTest, NewBitmapsAreZeroAndClearSetsEveryPixel) {
  ArgbBitmap argb(3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(argb.Pixel(x, y), 0u);
  argb.Clear(0x00FFFFFF);
  EXPECT_EQ(argb.Pixel(2, 1), 0x00FFFFFFu);

  RgbBitmap rgb(2, 2);
  EXPECT_EQ(rgb.Pixel(1, 1), 0xFF000000u);
  rgb.Clear(0x12345678);
  EXPECT_EQ(rgb.Pixel(1, 0), 0xFF345678u);
}

TEST(BitmapTest, BlendOverOpaqueRoundsToNearest) {
  // 255 * 224 / 255 = 224 exactly; 255*128/255 + 0 = 128; (200*100+50*155+127)/255 = 109
  EXPECT_EQ(BlendChannelOpaque(255, 0, 224), 224u);
  EXPECT_EQ(BlendChannelOpaque(200, 50, 100), (200u * 100 + 50 * 155 + 127) / 255);
  // x.5 cases cannot occur (255 is odd); 127/255 < .5 rounds down, 128/255 rounds up.
  EXPECT_EQ(BlendChannelOpaque(1, 0, 127), 0u);
  EXPECT_EQ(BlendChannelOpaque(1, 0, 128), 1u);
  EXPECT_EQ(BlendOver(0x80FF0000, 0xFF0000FF), 0xFF80007Fu);
}

TEST(BitmapTest, BlendOverTransparentAndPartialDestinations) {
  EXPECT_EQ(BlendOver(0x00123456, 0x80ABCDEF), 0x80ABCDEFu);  // invisible source
  EXPECT_EQ(BlendOver(0xFF123456, 0x80ABCDEF), 0xFF123456u);  // opaque source
  EXPECT_EQ(BlendOver(0x40FFFFFF, 0x00000000), 0x40FFFFFFu);  // onto transparent black
  EXPECT_EQ(BlendOver(0x40FFFFFF, 0x00FFFFFF), 0x40FFFFFFu);  // onto transparent white
  // Half over half: A = 128 + 128*127/255 = 191.75 -> 192; red weight 128*255 vs 128*127.
  const Argb out = BlendOver(0x80FF0000, 0x800000FF);
  EXPECT_EQ(AlphaOf(out), 192u);
  EXPECT_EQ(RedOf(out), (255u * 128 * 255 + (128 * 255 + 128 * 127) / 2) / (128 * 255 + 128 * 127));
  EXPECT_EQ(BlueOf(out),
            (255u * 128 * 127 + (128 * 255 + 128 * 127) / 2) / (128 * 255 + 128 * 127));
}

TEST(BitmapTest, DrawOverClipsAtEveryEdge) {
  ArgbBitmap source(2, 2);
  source.Clear(0xFF010203);
  ArgbBitmap target(3, 3);
  target.DrawOver(source, -1, -1);
  target.DrawOver(source, 2, 2);
  EXPECT_EQ(target.Pixel(0, 0), 0xFF010203u);
  EXPECT_EQ(target.Pixel(1, 0), 0u);
  EXPECT_EQ(target.Pixel(2, 2), 0xFF010203u);

  RgbBitmap rgb(3, 1);
  ArgbBitmap white(1, 1);
  white.Clear(0xE0FFFFFF);
  rgb.DrawOver(white, 2, 0);
  rgb.DrawOver(white, 3, 0);  // entirely outside
  EXPECT_EQ(rgb.Pixel(2, 0), 0xFFE0E0E0u);
}

}  // namespace
}  // namespace kelpie
