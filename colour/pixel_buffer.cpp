#include "colour/pixel_buffer.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kelpie {

namespace {

// Sizes the block for width x height pixels and points the rows into it.
// The memory of the previous picture is reused; bytes beyond what it held are
// zero-filled, the others keep old values, and every caller overwrites them
// all.
void MakeBlock(std::int32_t width, std::int32_t height, WorkImage& image) {
  image.width = width;
  image.height = height;
  const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  // Room to grow by half, so that pictures creeping up in size do not each
  // take fresh memory (and its page faults).
  if (bytes > image.pixels.capacity()) {
    image.pixels.reserve(std::max(bytes, image.pixels.capacity() * 3 / 2));
  }
  image.pixels.resize(bytes);
  image.rows.resize(static_cast<std::size_t>(height));
  for (std::int32_t r = 0; r < height; ++r) {
    image.rows[r] = image.pixels.data() + static_cast<std::size_t>(4) * width * r;
  }
}

}  // namespace

void LoadPixelsReference(const ArgbBitmap& picture, WorkImage& image) {
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

namespace {

#define KELPIE_INSTRUCTION_SET_BODY "colour/pixel_buffer_body.inc"
#include "platform/instruction_set_copies.inc"

}  // namespace

void LoadPixels(const ArgbBitmap& picture, WorkImage& image) {
  if constexpr (std::endian::native != std::endian::little) {
    LoadPixelsReference(picture, image);
    return;
  }
  MakeBlock(picture.width(), picture.height(), image);
  // The bitmap's rows and the block's both lie without gaps, so the picture
  // is one run of width * height pixels.
  const std::size_t count = image.pixels.size() / 4;
  auto* swap = KELPIE_INSTRUCTION_SET_COPY(image.instructionSet, SwapRedAndBlue);
  if (count > 0) swap(picture.Row(0), image.pixels.data(), count);
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
