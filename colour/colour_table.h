// The table of a picture's distinct visible colours in order of first
// appearance (top row first, each row left to right), at most 256 entries.
// Fully transparent pixels are never entered: they take index 255 when the
// picture is encoded.
#ifndef KELPIE_COLOUR_COLOUR_TABLE_H_
#define KELPIE_COLOUR_COLOUR_TABLE_H_

#include <cstdint>

#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"
#include "platform/console.h"

namespace kelpie {

struct ColourTable {
  std::uint8_t red[256] = {};
  std::uint8_t green[256] = {};
  std::uint8_t blue[256] = {};
  std::uint8_t alpha[256] = {};
  std::int32_t entryCount = 0;
};

struct ColourCount {
  bool ok = false;  // false after the colour error
  std::int32_t entryCount = 0;
};

// Builds `table` from `image`, quantising the picture first when it needs it,
// and prints the picture's colour line (numbered by *imageNumber, which then
// grows) or the colour error with its key wait.
ColourCount CountColours(WorkImage& image, ColourTable& table, Quantiser& quantiser,
                         std::int32_t& imageNumber, Console& console);

}  // namespace kelpie

#endif  // KELPIE_COLOUR_COLOUR_TABLE_H_
