#include "colour/pixel_buffer.h"

#include <cstring>

namespace kelpie {

namespace {

// Allocates a zero-filled block for width x height pixels and points the
// rows into it.
void MakeBlock(std::int32_t width, std::int32_t height, WorkImage& image) {
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
  image.rows.assign(static_cast<std::size_t>(height), nullptr);
  for (std::int32_t r = 0; r < height; ++r) {
    image.rows[r] = image.pixels.data() + static_cast<std::size_t>(4) * width * r;
  }
}

}  // namespace

void LoadPixels(const ArgbBitmap& picture, WorkImage& image) {
  MakeBlock(picture.width(), picture.height(), image);
  for (std::int32_t r = 0; r < image.height; ++r) {
    const Argb* src = picture.Row(r);
    std::uint8_t* dst = image.rows[r];
    for (std::int32_t x = 0; x < image.width; ++x) {
      dst[4 * x] = static_cast<std::uint8_t>(RedOf(src[x]));
      dst[4 * x + 1] = static_cast<std::uint8_t>(GreenOf(src[x]));
      dst[4 * x + 2] = static_cast<std::uint8_t>(BlueOf(src[x]));
      dst[4 * x + 3] = static_cast<std::uint8_t>(AlphaOf(src[x]));
    }
  }
}

void LoadRgbaPixels(std::int32_t width, std::int32_t height, const std::uint8_t* rgba,
                    WorkImage& image) {
  MakeBlock(width, height, image);
  if (!image.pixels.empty()) std::memcpy(image.pixels.data(), rgba, image.pixels.size());
}

void FreePixels(WorkImage& image) {
  image.width = 0;
  image.height = 0;
  image.pixels.clear();
  image.pixels.shrink_to_fit();
  image.rows.clear();
  image.rows.shrink_to_fit();
}

}  // namespace kelpie
