// Writes the two PGS display sets of one picture: one that shows it at the
// group's start and one that removes it at the group's end (eight segments).
#ifndef KELPIE_PGS_DISPLAY_SET_WRITER_H_
#define KELPIE_PGS_DISPLAY_SET_WRITER_H_

#include <cstdint>
#include <vector>

#include "colour/colour_table.h"
#include "driver/script_reader.h"
#include "pgs/rle_encoder.h"

namespace kelpie {

struct PicturePlacement {
  std::int32_t posX = 0;  // screen pixels, top-left corner of the picture
  std::int32_t posY = 0;
  std::int32_t width = 0;  // picture size in pixels
  std::int32_t height = 0;
  std::int32_t start = 0;  // milliseconds
  std::int32_t end = 0;    // milliseconds
};

// Appends the eight segments to `out`.
// REQUIRES: rle.rleLength <= the object segment's limit.
void AppendDisplaySets(const PicturePlacement& placement, const PlayRes& video,
                       const ColourTable& table, const RleBuffer& rle,
                       std::vector<std::uint8_t>& out);

}  // namespace kelpie

#endif  // KELPIE_PGS_DISPLAY_SET_WRITER_H_
