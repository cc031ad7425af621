// The working form of a group picture: RGBA bytes (straight alpha), rows top
// to bottom without gaps, with one pointer per row. The run owns one
// WorkImage and refills it for every picture; only the quantiser changes its
// pixels after loading, in place.
#ifndef KELPIE_COLOUR_PIXEL_BUFFER_H_
#define KELPIE_COLOUR_PIXEL_BUFFER_H_

#include <cstdint>
#include <vector>

#include "platform/bitmap.h"
#include "platform/instruction_set.h"

namespace kelpie {

struct WorkImage {
  std::int32_t width = 0;   // pixels per row
  std::int32_t height = 0;  // rows
  // width * height * 4 bytes: red, green, blue, alpha per pixel, straight
  // alpha. Its memory is kept from one picture to the next (loading reuses
  // it and overwrites every byte), so a run needs no more than its largest
  // picture.
  std::vector<std::uint8_t> pixels;
  // rows[i] == pixels.data() + 4 * width * i; valid until the next load or
  // FreePixels.
  std::vector<std::uint8_t*> rows;
  // The copy of the fast loading LoadPixels runs; kept by loading and
  // FreePixels.
  InstructionSet instructionSet = InstructionSet::kBest;
};

// Copies `picture` into `image`, replacing what it held. The colour bytes are
// copied unchanged (a half-transparent red 0x80FF0000 becomes FF 00 00 80).
void LoadPixels(const ArgbBitmap& picture, WorkImage& image);
// The same, one byte at a time; LoadPixels gives the same bytes.
void LoadPixelsReference(const ArgbBitmap& picture, WorkImage& image);

// Fills `image` from `rgba`, width * height pixels of red, green, blue and
// alpha bytes, rows top to bottom (the raw picture form of the tools).
// REQUIRES: width >= 0, height >= 0, rgba holds 4 * width * height bytes.
void LoadRgbaPixels(std::int32_t width, std::int32_t height, const std::uint8_t* rgba,
                    WorkImage& image);

// Releases the pixel block and the row pointers and sets the size to 0 x 0.
void FreePixels(WorkImage& image);

}  // namespace kelpie

#endif  // KELPIE_COLOUR_PIXEL_BUFFER_H_
