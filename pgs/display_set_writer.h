// Writes the two PGS display sets of one picture: one that shows it at the
// group's start and one that removes it at the group's end, eight segments
// in all (composition, window, palette, object, end; composition, window,
// end). The byte layout is in pgs_format.h.
#ifndef KELPIE_PGS_DISPLAY_SET_WRITER_H_
#define KELPIE_PGS_DISPLAY_SET_WRITER_H_

#include <cstdint>
#include <vector>

#include "colour/colour_table.h"
#include "pgs/pgs_format.h"
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

// Why AppendDisplaySets wrote nothing.
enum class DisplaySetStatus {
  kWritten,
  kObjectDataTooLong,  // rle.rleLength outside 0 to pgs::kMaxObjectData
  kPictureTooLarge,    // width or height outside 0 to 65535: the size fields cannot hold it
};

// The 90 kHz time stamp of `ms` milliseconds: trunc(ms * 90.09) in 64 bits,
// of which the low 32 bits are written. Derived stamps subtract modulo 2^32.
std::uint32_t TimeStamp(std::int32_t ms);

// A palette entry's colour, full-range YCrCb, from straight red, green, blue.
struct YCrCb {
  std::uint8_t y = 0;
  std::uint8_t cr = 0;
  std::uint8_t cb = 0;
};
YCrCb ToYCrCb(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// Appends the eight segments to `out`: the palette from the first
// table.entryCount entries, the object from rle.bytes[0, rle.rleLength).
// Positions and the video size are written as their low 16 bits. Writes
// nothing, and says why, when the picture does not fit an object segment.
DisplaySetStatus AppendDisplaySets(const PicturePlacement& placement, const pgs::VideoSize& video,
                                   const ColourTable& table, const RleBuffer& rle,
                                   std::vector<std::uint8_t>& out);

}  // namespace kelpie

#endif  // KELPIE_PGS_DISPLAY_SET_WRITER_H_
