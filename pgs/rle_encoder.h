// Run-length codes a picture as PGS object data: every pixel becomes its
// index in the colour table (index 255 for fully transparent pixels) and
// every row ends with 0x00 0x00. The code forms are listed in pgs_format.h.
#ifndef KELPIE_PGS_RLE_ENCODER_H_
#define KELPIE_PGS_RLE_ENCODER_H_

#include <cstdint>

#include "colour/colour_table.h"
#include "colour/pixel_buffer.h"
#include "pgs/pgs_format.h"
#include "platform/bitmap.h"

namespace kelpie {

// Object data of the current picture. The run owns one and reuses it.
struct RleBuffer {
  // Room for the largest object a player holds; longer data is only counted.
  static constexpr std::int32_t kCapacity = pgs::kMaxPlayerObjectData + 64;
  // Written before it is read; left uninitialised, so that only the pages a
  // picture's data reach take memory.
  std::uint8_t bytes[kCapacity];
  // Length of the picture's object data in bytes. After a size error it is
  // the full length the data would have (saturated at INT32_MAX), which may
  // exceed kCapacity; only the first kCapacity bytes are then held.
  std::int32_t rleLength = 0;
};

// The object-data index of one pixel (red, green, blue, alpha): 255 when its
// alpha is 0, else the first table entry with the same four bytes. A visible
// colour missing from the table (possible only after the colour error) also
// takes 255.
std::uint8_t PixelIndex(const ColourTable& table, const std::uint8_t* rgba);

// Encodes `image` against `table` into `rle`. Returns false when the data
// exceeds what a player holds of one object (pgs::kMaxPlayerObjectData bytes).
// Runs longer than 16383 pixels are written as 16383-pixel runs followed by
// the remainder; a row of zero width is just its end-of-line code.
// Each pixel's index is found through a ColourIndex, once per run of equal
// pixels; EncodeRleReference looks every pixel up with PixelIndex, as plainly
// as the code forms are defined, and gives the same bytes, length, messages
// and result.
bool EncodeRle(const WorkImage& image, const ColourTable& table, RleBuffer& rle);
bool EncodeRleReference(const WorkImage& image, const ColourTable& table, RleBuffer& rle);

// The colour probe of `picture` (ScanColours with probe set, reading the
// ARGB values directly) with every run coded into `rle` on the way. When the
// probe completes, which it does whenever the table never fills, `table` is
// what CountColours builds and `rle` what EncodeRle writes for the loaded
// picture, rleLength included; otherwise both are unfinished. Rows r with
// rowUsed[r] == 0, when `rowUsed` is given, are taken as fully transparent
// without being read. `set` is the instruction set of the run splitter.
ScanResult EncodeRleWhileCounting(const ArgbBitmap& picture, ColourTable& table, RleBuffer& rle,
                                  const std::uint8_t* rowUsed = nullptr,
                                  InstructionSet set = InstructionSet::kBest);

// Whether a player holds the object data in `rle`.
inline bool FitsPlayer(const RleBuffer& rle) {
  return rle.rleLength <= pgs::kMaxPlayerObjectData;
}

}  // namespace kelpie

#endif  // KELPIE_PGS_RLE_ENCODER_H_
