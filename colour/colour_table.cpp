// Counting a picture's colours. A probe scan walks the picture until the
// table is full (at the first colour that does not fit, or at the end of a
// row that filled it). Only when it has met a fully transparent pixel by then
// and the table is full is the picture quantised, because 256 colours and
// transparency cannot share 256 indexes. A second, complete scan then builds
// the table that the encoder uses; it rejects a picture with more than 256
// visible colours, or with 256 colours and a transparent pixel.
#include "colour/colour_table.h"

namespace kelpie {

namespace {

enum class ScanEnd {
  kComplete,  // every pixel was visited
  kFull,      // probe only: stopped at the end of a row that left the table full
  kOverflow,  // stopped at a colour that did not fit the full table
};

struct ScanResult {
  ScanEnd end = ScanEnd::kComplete;
  bool transparent = false;  // a pixel with alpha 0 was visited
};

// Clears `table` and enters the colours of `image` in scan order. A probe
// stops at the end of any row after which the table is full.
ScanResult ScanColours(const WorkImage& image, ColourTable& table, bool probe) {
  table = ColourTable{};
  ScanResult result;
  for (std::int32_t r = 0; r < image.height; ++r) {
    const std::uint8_t* pixel = image.rows[r];
    for (std::int32_t x = 0; x < image.width; ++x, pixel += 4) {
      if (pixel[3] == 0) {
        result.transparent = true;
        continue;
      }
      if (FindColour(table, pixel) >= 0) continue;
      if (table.entryCount == ColourTable::kMaxEntries) {
        result.end = ScanEnd::kOverflow;
        return result;
      }
      const std::int32_t i = table.entryCount++;
      table.red[i] = pixel[0];
      table.green[i] = pixel[1];
      table.blue[i] = pixel[2];
      table.alpha[i] = pixel[3];
    }
    if (probe && table.entryCount == ColourTable::kMaxEntries) {
      result.end = ScanEnd::kFull;
      return result;
    }
  }
  return result;
}

ColourCount ColourError(Console& console) {
  console.Out("Error: the png file \"%s\" has more than 256 colors\n", "dummy");
  console.WaitForKey();
  return ColourCount{false, 0};
}

}  // namespace

int FindColour(const ColourTable& table, const std::uint8_t* rgba) {
  for (std::int32_t i = 0; i < table.entryCount; ++i) {
    if (table.red[i] == rgba[0] && table.green[i] == rgba[1] && table.blue[i] == rgba[2] &&
        table.alpha[i] == rgba[3]) {
      return i;
    }
  }
  return -1;
}

ColourCount CountColours(WorkImage& image, ColourTable& table, Quantiser& quantiser,
                         std::int32_t& imageNumber, Console& console) {
  const ScanResult probe = ScanColours(image, table, /*probe=*/true);
  if (probe.transparent && table.entryCount == ColourTable::kMaxEntries) {
    QuantiseImage(image, quantiser, console);
  }
  const ScanResult count = ScanColours(image, table, /*probe=*/false);
  if (count.end == ScanEnd::kOverflow) return ColourError(console);
  if (count.transparent && table.entryCount == ColourTable::kMaxEntries) {
    return ColourError(console);
  }
  console.Out("\tImage[%04d] has %d color(s); size: %dx%d\n", imageNumber, table.entryCount,
              image.width, image.height);
  ++imageNumber;
  return ColourCount{true, table.entryCount};
}

}  // namespace kelpie
