// The table of a picture's distinct visible colours in order of first
// appearance (top row first, each row left to right), at most 256 entries.
// Fully transparent pixels are never entered: they take index 255 when the
// picture is encoded, so a picture with any of them keeps at most 255 entries.
// The run owns one table; every picture rebuilds it.
#ifndef KELPIE_COLOUR_COLOUR_TABLE_H_
#define KELPIE_COLOUR_COLOUR_TABLE_H_

#include <cstdint>

#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"
#include "platform/console.h"

namespace kelpie {

struct ColourTable {
  static constexpr std::int32_t kMaxEntries = 256;
  // Entry i is the colour red[i], green[i], blue[i], alpha[i] (straight
  // alpha, never 0). Bytes of the entries from entryCount on are 0.
  std::uint8_t red[kMaxEntries] = {};
  std::uint8_t green[kMaxEntries] = {};
  std::uint8_t blue[kMaxEntries] = {};
  std::uint8_t alpha[kMaxEntries] = {};
  std::int32_t entryCount = 0;  // 0 to 256
};

struct ColourCount {
  bool ok = false;              // false after the colour error
  std::int32_t entryCount = 0;  // the table's entries when ok, else 0
};

// The index of the first entry whose four bytes equal `rgba` (red, green,
// blue, alpha), or -1 if there is none. Searches linearly from entry 0.
int FindColour(const ColourTable& table, const std::uint8_t* rgba);

// Builds `table` from `image`, quantising the picture in place first when a
// probe finds the table full and a fully transparent pixel, and prints on the
// console's standard output either the picture's colour line (numbered by
// imageNumber, which then grows by one) or the colour error, followed by a key
// wait. After the colour error the table holds the first 256 colours.
ColourCount CountColours(WorkImage& image, ColourTable& table, Quantiser& quantiser,
                         std::int32_t& imageNumber, Console& console);

}  // namespace kelpie

#endif  // KELPIE_COLOUR_COLOUR_TABLE_H_
