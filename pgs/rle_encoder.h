// Run-length codes a picture as PGS object data: every pixel becomes its
// index in the colour table (index 255 for fully transparent pixels) and
// every row ends with 0x00 0x00.
#ifndef KELPIE_PGS_RLE_ENCODER_H_
#define KELPIE_PGS_RLE_ENCODER_H_

#include <cstdint>

#include "colour/colour_table.h"
#include "colour/pixel_buffer.h"
#include "platform/console.h"

namespace kelpie {

// Object data of the current picture. The run owns one and reuses it.
struct RleBuffer {
  static constexpr std::int32_t kCapacity = 67000;
  std::uint8_t bytes[kCapacity] = {};
  // Length of the picture's object data; may exceed kCapacity after a size
  // error, in which case only the first kCapacity bytes are held.
  std::int32_t rleLength = 0;
};

// Encodes `image` against `table` into `rle`. Returns false, after printing
// the size error and waiting for a key, when the data does not fit one object
// segment.
bool EncodeRle(const WorkImage& image, const ColourTable& table, RleBuffer& rle, Console& console);

}  // namespace kelpie

#endif  // KELPIE_PGS_RLE_ENCODER_H_
