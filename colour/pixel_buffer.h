// The working form of a group picture: RGBA bytes (straight alpha), rows top
// to bottom without gaps, with one pointer per row. The run owns one
// WorkImage and refills it for every picture.
#ifndef KELPIE_COLOUR_PIXEL_BUFFER_H_
#define KELPIE_COLOUR_PIXEL_BUFFER_H_

#include <cstdint>
#include <vector>

#include "platform/bitmap.h"

namespace kelpie {

struct WorkImage {
  std::int32_t width = 0;
  std::int32_t height = 0;
  // width * height * 4 bytes: red, green, blue, alpha per pixel.
  std::vector<std::uint8_t> pixels;
  // rows[i] == pixels.data() + 4 * width * i; valid until the next LoadPixels.
  std::vector<std::uint8_t*> rows;
};

// Copies `picture` into `image`, replacing what it held.
void LoadPixels(const ArgbBitmap& picture, WorkImage& image);

// Releases the pixel block and the row pointers.
void FreePixels(WorkImage& image);

}  // namespace kelpie

#endif  // KELPIE_COLOUR_PIXEL_BUFFER_H_
