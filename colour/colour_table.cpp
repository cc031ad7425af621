// Counting a picture's colours. A probe scan walks the picture until the
// table is full (at the first colour that does not fit, or at the end of a
// row that filled it). Only when it has met a fully transparent pixel by then
// and the table is full is the picture quantised, because 256 colours and
// transparency cannot share 256 indexes. A second, complete scan then builds
// the table that the encoder uses; it rejects a picture with more than 256
// visible colours, or with 256 colours and a transparent pixel.
#include "colour/colour_table.h"

#include <cstddef>

namespace kelpie {

int FindColour(const ColourTable& table, const std::uint8_t* rgba) {
  for (std::int32_t i = 0; i < table.entryCount; ++i) {
    if (table.red[i] == rgba[0] && table.green[i] == rgba[1] && table.blue[i] == rgba[2] &&
        table.alpha[i] == rgba[3]) {
      return i;
    }
  }
  return -1;
}

void ColourIndex::Build(const ColourTable& table) {
  Clear();
  for (std::int32_t i = 0; i < table.entryCount; ++i) {
    const std::uint8_t rgba[4] = {table.red[i], table.green[i], table.blue[i], table.alpha[i]};
    const std::uint32_t key = PixelKey(rgba);
    // A later duplicate of an entry is never the first match.
    if (rgba[3] != 0 && Find(key) < 0) Insert(key, i);
  }
}

ScanResult ScanColoursReference(const WorkImage& image, ColourTable& table, bool probe) {
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
      EnterColour<RgbaKeys>(table, PixelKey(pixel));
    }
    if (probe && table.entryCount == ColourTable::kMaxEntries) {
      result.end = ScanEnd::kFull;
      return result;
    }
  }
  return result;
}

// The plain scan, with runs of equal pixels passed over in one step (see
// FindOrEnter) and colours found through a ColourIndex kept beside the table,
// which gives the same answer as the linear search (entries are distinct).
ScanResult ScanColours(const WorkImage& image, ColourTable& table, bool probe) {
  table = ColourTable{};
  ColourIndex colours;
  PixelRuns runs(image.instructionSet);
  ScanResult result;
  for (std::int32_t r = 0; r < image.height; ++r) {
    const std::uint8_t* row = image.rows[r];
    const int count = runs.Split(row, image.width);
    for (int i = 0; i < count; ++i) {
      const int found = FindOrEnter<RgbaKeys>(
          PixelKey(row + 4 * static_cast<std::ptrdiff_t>(runs.Start(i))), colours, table);
      if (found == kNoRoomForColour) {
        result.end = ScanEnd::kOverflow;
        return result;
      }
      result.transparent |= found < 0;
    }
    if (probe && table.entryCount == ColourTable::kMaxEntries) {
      result.end = ScanEnd::kFull;
      return result;
    }
  }
  return result;
}

ColourCount JudgeColourCount(const ColourTable& table, const ScanResult& count) {
  ColourCount result;
  result.ok = count.end != ScanEnd::kOverflow &&
              !(count.transparent && table.entryCount == ColourTable::kMaxEntries);
  if (result.ok) result.entryCount = table.entryCount;
  return result;
}

ColourCount CountColours(WorkImage& image, ColourTable& table, Quantiser& quantiser) {
  const ScanResult probe = ScanColours(image, table, /*probe=*/true);
  const bool quantise = probe.transparent && table.entryCount == ColourTable::kMaxEntries;
  LearningFigures learning;
  if (quantise) learning = QuantiseImage(image, quantiser);
  // A probe that saw the whole picture (it never stopped, so the table never
  // filled) did exactly what the counting pass does; over the same pixels the
  // counting pass would rebuild the same table and result.
  const ScanResult count = !quantise && probe.end == ScanEnd::kComplete
                               ? probe
                               : ScanColours(image, table, /*probe=*/false);
  ColourCount result = JudgeColourCount(table, count);
  result.quantised = quantise;
  result.learning = learning;
  return result;
}

}  // namespace kelpie
