// A checked reader of PGS streams (".sup"): splits the bytes into segments,
// checks every field length against its segment, and groups the segments into
// display sets (a composition segment, then windows, palettes and objects, up
// to an end segment). The first malformed segment stops the reader, which
// names it with its byte offset. Also decodes object run-length data into
// rows of palette indexes. Used by the .sup tools and the tests.
#ifndef KELPIE_PGS_SUP_READER_H_
#define KELPIE_PGS_SUP_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pgs/pgs_format.h"

namespace kelpie {

struct SupSegment {
  std::size_t offset = 0;  // byte offset of the segment header in the stream
  pgs::SegmentType type = pgs::SegmentType::kEnd;
  std::uint32_t pts = 0;  // 90 kHz ticks
  std::uint32_t dts = 0;  // 90 kHz ticks
  // The payload inside the stream given to ReadSup; valid as long as it is.
  const std::uint8_t* payload = nullptr;
  std::uint16_t size = 0;  // payload bytes
};

struct SupCompositionObject {
  std::uint16_t objectId = 0;
  std::uint8_t windowId = 0;
  std::uint8_t croppedFlag = 0;
  std::uint16_t x = 0;  // screen pixels
  std::uint16_t y = 0;
  // The crop rectangle, present when croppedFlag has pgs::kObjectCropped.
  std::uint16_t cropX = 0;
  std::uint16_t cropY = 0;
  std::uint16_t cropWidth = 0;
  std::uint16_t cropHeight = 0;
};

struct SupComposition {
  std::uint16_t videoWidth = 0;
  std::uint16_t videoHeight = 0;
  std::uint8_t frameRate = 0;
  std::uint16_t number = 0;
  std::uint8_t state = 0;
  std::uint8_t paletteUpdate = 0;
  std::uint8_t paletteId = 0;
  std::vector<SupCompositionObject> objects;
};

struct SupWindow {
  std::uint8_t id = 0;
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
};

struct SupPaletteEntry {
  std::uint8_t id = 0;
  std::uint8_t y = 0;  // full-range YCrCb
  std::uint8_t cr = 0;
  std::uint8_t cb = 0;
  std::uint8_t alpha = 0;
};

struct SupPalette {
  std::uint8_t id = 0;
  std::uint8_t version = 0;
  std::vector<SupPaletteEntry> entries;
};

struct SupObject {
  std::uint16_t id = 0;
  std::uint8_t version = 0;
  std::uint16_t width = 0;  // pixels
  std::uint16_t height = 0;
  std::size_t dataOffset = 0;      // stream offset of the first run-length byte
  std::vector<std::uint8_t> data;  // run-length data, fragments joined
};

struct SupDisplaySet {
  std::size_t offset = 0;  // stream offset of its composition segment
  std::uint32_t pts = 0;   // of the composition segment, 90 kHz ticks
  std::uint32_t dts = 0;
  SupComposition composition;
  std::vector<SupWindow> windows;
  std::vector<SupPalette> palettes;
  std::vector<SupObject> objects;
  std::vector<SupSegment> segments;  // all of the set's segments in stream order
};

struct SupError {
  std::size_t offset = 0;  // byte offset of the offending segment (or code)
  std::string message;
};

// Reads the whole stream. Returns false at the first malformed segment with
// `error` naming it; `sets` then holds the display sets completed before it.
bool ReadSup(const std::uint8_t* data, std::size_t size, std::vector<SupDisplaySet>& sets,
             SupError& error);

// Decodes run-length object data into width x height indexes, rows top to
// bottom. Every row must end with its end-of-line code and hold exactly
// `width` pixels; no bytes may follow the last row. On failure `error.offset`
// is the offset of the offending code within `data`.
bool DecodeRle(const std::uint8_t* data, std::size_t size, int width, int height,
               std::vector<std::uint8_t>& indexes, SupError& error);

// Formats 90 kHz ticks as h:mm:ss.mmm (ticks / 90 milliseconds, truncated).
std::string FormatTicks(std::uint32_t ticks);

}  // namespace kelpie

#endif  // KELPIE_PGS_SUP_READER_H_
