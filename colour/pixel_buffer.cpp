#include "colour/pixel_buffer.h"

namespace kelpie {

void LoadPixels(const ArgbBitmap& picture, WorkImage& image) {
  image.width = picture.width();
  image.height = picture.height();
  image.pixels.assign(static_cast<std::size_t>(image.width) * image.height * 4, 0);
  image.rows.assign(static_cast<std::size_t>(image.height), nullptr);
  for (int r = 0; r < image.height; ++r) {
    image.rows[r] = image.pixels.data() + static_cast<std::size_t>(4) * image.width * r;
    const Argb* src = picture.Row(r);
    std::uint8_t* dst = image.rows[r];
    for (int x = 0; x < image.width; ++x) {
      dst[4 * x] = static_cast<std::uint8_t>(RedOf(src[x]));
      dst[4 * x + 1] = static_cast<std::uint8_t>(GreenOf(src[x]));
      dst[4 * x + 2] = static_cast<std::uint8_t>(BlueOf(src[x]));
      dst[4 * x + 3] = static_cast<std::uint8_t>(AlphaOf(src[x]));
    }
  }
}

void FreePixels(WorkImage& image) {
  image.pixels.clear();
  image.rows.clear();
}

}  // namespace kelpie
