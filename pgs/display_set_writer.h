// Writes the two PGS display sets of one picture: one that shows it at the
// group's start and one that removes it at the group's end, eight segments
// in all (composition, window, palette, object, end; composition, window,
// end). The byte layout is in pgs_format.h.
#ifndef KELPIE_PGS_DISPLAY_SET_WRITER_H_
#define KELPIE_PGS_DISPLAY_SET_WRITER_H_

#include <cstdint>
#include <span>
#include <vector>

#include "colour/colour_table.h"
#include "pgs/pgs_format.h"
#include "pgs/rle_encoder.h"

namespace kelpie {

// One picture shown in one object.
struct PicturePlacement {
  std::int32_t posX = 0;  // screen pixels, top-left corner of the picture
  std::int32_t posY = 0;
  std::int32_t width = 0;  // picture size in pixels
  std::int32_t height = 0;
  std::int32_t start = 0;  // milliseconds
  std::int32_t end = 0;    // milliseconds
};

// One object of a picture: where it stands, its size and its run-length data.
struct PictureObject {
  std::int32_t posX = 0;  // screen pixels, top-left corner
  std::int32_t posY = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  const std::uint8_t* data = nullptr;  // run-length data, `length` bytes
  std::int32_t length = 0;
};

// Why AppendDisplaySets wrote nothing.
enum class DisplaySetStatus {
  kWritten,
  kObjectDataTooLong,  // an object's data longer than a player holds
  kPictureTooLarge,    // a width or height outside 0 to 65535: the size fields cannot hold it
  kBadObjectCount,     // not one or two objects
};

// The 90 kHz time stamp of `ms` milliseconds: trunc(ms * 90.09) in 64 bits,
// of which the low 32 bits are written.
std::uint32_t TimeStamp(std::int32_t ms);

// A stamp `lead` ticks before `stamp`, or 0 where that would fall below 0
// (a picture shown in the first 65 ms).
inline std::uint32_t StampBefore(std::uint32_t stamp, std::uint32_t lead) {
  return stamp > lead ? stamp - lead : 0;
}

// A palette entry's colour, full-range YCrCb, from straight red, green, blue.
struct YCrCb {
  std::uint8_t y = 0;
  std::uint8_t cr = 0;
  std::uint8_t cb = 0;
};
YCrCb ToYCrCb(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// Appends the display set that shows `objects` (one or two, each in a window
// of its own) at startMs and the one that removes them at endMs: composition,
// windows, palette (the first table.entryCount entries), every object's
// segments, end; then composition, windows, end. Object data longer than one
// object segment continues in further segments. Positions and the video size
// are written as their low 16 bits. Writes nothing, and says why, when the
// objects do not fit the stream.
DisplaySetStatus AppendDisplaySets(std::int32_t startMs, std::int32_t endMs,
                                   const pgs::VideoSize& video, const ColourTable& table,
                                   std::span<const PictureObject> objects,
                                   std::vector<std::uint8_t>& out);

// The same for one picture in one object, with the object data in `rle`.
DisplaySetStatus AppendDisplaySets(const PicturePlacement& placement, const pgs::VideoSize& video,
                                   const ColourTable& table, const RleBuffer& rle,
                                   std::vector<std::uint8_t>& out);

}  // namespace kelpie

#endif  // KELPIE_PGS_DISPLAY_SET_WRITER_H_
