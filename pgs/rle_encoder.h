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
#include "platform/console.h"

namespace kelpie {

// Object data of the current picture. The run owns one and reuses it.
struct RleBuffer {
  static constexpr std::int32_t kCapacity = 67000;
  static_assert(kCapacity > pgs::kMaxObjectData);
  std::uint8_t bytes[kCapacity] = {};
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

// Encodes `image` against `table` into `rle`. When the data exceeds what one
// object segment carries (pgs::kMaxObjectData bytes), prints the size error on
// the console's standard output, waits for a key and returns false.
// Runs longer than 16383 pixels are written as 16383-pixel runs followed by
// the remainder; a row of zero width is just its end-of-line code.
// Each pixel's index is found through a ColourIndex, once per run of equal
// pixels; EncodeRleReference looks every pixel up with PixelIndex, as plainly
// as the code forms are defined, and gives the same bytes, length, messages
// and result.
bool EncodeRle(const WorkImage& image, const ColourTable& table, RleBuffer& rle, Console& console);
bool EncodeRleReference(const WorkImage& image, const ColourTable& table, RleBuffer& rle,
                        Console& console);

// LoadPixels, CountColours and, when the count succeeds, EncodeRle: the same
// table, data, console lines, key waits and results, in one pass over
// `picture` for every picture whose table does not fill up. Only such a
// picture is loaded into `image` (the quantiser works on it); otherwise
// `image` is left as it was.
struct CountAndEncode {
  ColourCount count;     // as CountColours returns it
  bool encoded = false;  // as EncodeRle returns it; false when not called
};
CountAndEncode CountColoursAndEncodeRle(const ArgbBitmap& picture, WorkImage& image,
                                        ColourTable& table, Quantiser& quantiser,
                                        std::int32_t& imageNumber, RleBuffer& rle,
                                        Console& console);

}  // namespace kelpie

#endif  // KELPIE_PGS_RLE_ENCODER_H_
