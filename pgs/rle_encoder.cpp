// The plain encoder writes each code byte by byte as the code forms are
// defined. The fast one produces the same runs (see EncodeRle) and writes
// each code of a run shorter than 64 pixels as one word taken from a table
// of every short code, made at compile time from the plain forms.
#include "pgs/rle_encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>

namespace kelpie {

namespace {

using pgs::kMaxDirectIndex;
using pgs::kMaxRun;
using pgs::kMaxShortRun;
using pgs::kMinDirectIndex;

// Appends bytes to the buffer while they fit and counts them all, so that
// the size error can name the full length.
class RleSink {
 public:
  explicit RleSink(RleBuffer& rle) : rle_(rle) {}

  void Put(std::uint8_t byte) {
    if (length_ < RleBuffer::kCapacity) rle_.bytes[length_] = byte;
    ++length_;
  }

  // Appends the first `count` (0 to 4) bytes of `code`, byte i being bits
  // 8i to 8i + 7. Far from the end of the buffer a little-endian machine
  // stores all four at once; the bytes past `count` are overwritten by the
  // next code or lie beyond the data.
  void Append(std::uint32_t code, int count) {
    if (std::endian::native == std::endian::little && length_ + 4 <= RleBuffer::kCapacity)
        [[likely]] {
      std::memcpy(rle_.bytes + length_, &code, 4);
      length_ += count;
      return;
    }
    for (int i = 0; i < count; ++i) Put(static_cast<std::uint8_t>(code >> (8 * i)));
  }

  std::int64_t length() const { return length_; }
  // The buffer and the write position, for a writer that keeps the position
  // in a variable of its own and sets it back (SetLength) when done.
  std::uint8_t* bytes() { return rle_.bytes; }
  void SetLength(std::int64_t length) { length_ = length; }

 private:
  RleBuffer& rle_;
  std::int64_t length_ = 0;
};

// One code for `length` (1 to 16383) pixels of `index`, as its bytes in a
// word (byte i is bits 8i to 8i + 7) and their count.
struct Code {
  std::uint32_t bytes = 0;
  int count = 0;

  constexpr void Add(std::uint32_t byte) {
    bytes |= byte << (8 * count);
    ++count;
  }
};

constexpr Code MakeCode(std::uint8_t index, int length) {
  Code code;
  if (index == 0) {
    code.Add(pgs::kRleEscape);
    if (length <= kMaxShortRun) {
      code.Add(static_cast<std::uint8_t>(length));
    } else {
      code.Add(static_cast<std::uint8_t>(pgs::kRleLongRun | (length >> 8)));
      code.Add(static_cast<std::uint8_t>(length & 0xFF));
    }
    return code;
  }
  if (length <= 2 && index >= kMinDirectIndex && index <= kMaxDirectIndex) {
    code.Add(index);
    if (length == 2) code.Add(index);
    return code;
  }
  code.Add(pgs::kRleEscape);
  if (length <= kMaxShortRun) {
    code.Add(static_cast<std::uint8_t>(pgs::kRleIndexed | length));
  } else {
    code.Add(static_cast<std::uint8_t>(pgs::kRleIndexed | pgs::kRleLongRun | (length >> 8)));
    code.Add(static_cast<std::uint8_t>(length & 0xFF));
  }
  code.Add(index);
  return code;
}

// A run longer than the 14-bit length field is split: full 16383-pixel runs
// first, then the remainder in its ordinary form.
void PutRunPlain(RleSink& sink, std::uint8_t index, std::int32_t length) {
  auto put = [&sink](std::uint8_t k, int n) {
    const Code code = MakeCode(k, n);
    for (int i = 0; i < code.count; ++i) sink.Put(static_cast<std::uint8_t>(code.bytes >> (8 * i)));
  };
  while (length > kMaxRun) {
    put(index, kMaxRun);
    length -= kMaxRun;
  }
  if (length > 0) put(index, length);
}

// Every code of a run shorter than 64 pixels: entry 64 * index + length
// holds the code's bytes in its low three bytes (no short code is longer)
// and their count in the top byte.
constexpr int kShortRuns = kMaxShortRun + 1;
static_assert(kShortRuns == 64);
using ShortCodeTable = std::array<std::uint32_t, 256 * kShortRuns>;

constexpr ShortCodeTable MakeShortCodes() {
  ShortCodeTable table{};
  for (int index = 0; index < 256; ++index) {
    for (int length = 1; length < kShortRuns; ++length) {
      const Code code = MakeCode(static_cast<std::uint8_t>(index), length);
      table[index * kShortRuns + length] = code.bytes | static_cast<std::uint32_t>(code.count)
                                                            << 24;
    }
  }
  return table;
}
constexpr ShortCodeTable kShortCodes = MakeShortCodes();
static_assert(kShortCodes[5 * kShortRuns + 1] == (0x05u | 1u << 24));
static_assert(kShortCodes[5 * kShortRuns + 2] == (0x0505u | 2u << 24));
static_assert(kShortCodes[5 * kShortRuns + 3] == (0x00u | 0x83u << 8 | 0x05u << 16 | 3u << 24));
static_assert(kShortCodes[0 * kShortRuns + 3] == (0x00u | 0x03u << 8 | 2u << 24));
static_assert(kShortCodes[58 * kShortRuns + 1] == (0x00u | 0x81u << 8 | 0x3Au << 16 | 3u << 24));

inline void PutRun(RleSink& sink, std::uint8_t index, std::int32_t length) {
  if (length < kShortRuns) [[likely]] {
    // The top byte (the count) is stored too, and overwritten like the other
    // bytes past the code.
    const std::uint32_t entry = kShortCodes[index * kShortRuns + length];
    sink.Append(entry, static_cast<int>(entry >> 24));
    return;
  }
  while (length > kMaxRun) {
    const Code code = MakeCode(index, kMaxRun);
    sink.Append(code.bytes, code.count);
    length -= kMaxRun;
  }
  const Code code = MakeCode(index, length);
  sink.Append(code.bytes, code.count);
}

// The end-of-line code.
inline void PutEndOfLine(RleSink& sink) {
  sink.Append(pgs::kRleEscape | 0x00 << 8, 2);
}

// Stores the codes of a run of 64 pixels or more at bytes + at, each as
// four bytes, and returns the write position after them.
[[gnu::noinline]] std::int64_t PutLongRun(std::uint8_t* bytes, std::int64_t at, std::uint8_t index,
                                          std::int32_t length) {
  while (length > kMaxRun) {
    const Code code = MakeCode(index, kMaxRun);
    std::memcpy(bytes + at, &code.bytes, 4);
    at += code.count;
    length -= kMaxRun;
  }
  const Code code = MakeCode(index, length);
  std::memcpy(bytes + at, &code.bytes, 4);
  return at + code.count;
}

template <typename Keys>
[[gnu::noinline]] int FindOrEnterOutOfLine(std::uint32_t key, ColourIndex& colours,
                                           ColourTable& table) {
  return FindOrEnter<Keys>(key, colours, table);
}

// What CodeRow did: the write position after the row, or -1 when it stopped
// at a colour that does not fit the full table; and whether it met a
// transparent run before the end.
struct CodedRow {
  std::int64_t at;
  bool transparent;
};

// The fast form of RunCoder::CountAndCodeRow for a row of count >= 1 runs
// that starts with no run pending, far enough from the end of the buffer
// that every code is stored whole: a row of `width` pixels in `count` runs
// takes at most count + width / 16383 codes (a run longer than 16383 pixels
// is split) of at most four bytes, each stored as four, and the two of the
// row's end. Writes from bytes + at.
//
// Nearly every run's colour sits in its first slot of the index, so the loop
// tests only that and leaves all else (other slots, new colours, the full
// table) to FindOrEnter; the write position and the run being joined stay
// in local variables, which the byte stores cannot change.
template <typename Keys>
CodedRow CodeRow(const std::uint8_t* row, const std::int32_t* starts, int count,
                 ColourIndex& colours, ColourTable& table, std::uint8_t* bytes, std::int64_t at) {
  // Sets `found` to the index of the colour of the run at `start`; false
  // when it does not fit the full table.
  auto indexOf = [row, &colours, &table](std::int32_t start, int& found) {
    const std::uint32_t key = PixelKey(row + 4 * static_cast<std::ptrdiff_t>(start));
    if (colours.FindInFirstSlot(key, found)) [[likely]] {
      return true;
    }
    found = FindOrEnterOutOfLine<Keys>(key, colours, table);
    return found != kNoRoomForColour;
  };
  // Returns the write position after the code.
  auto put = [bytes](std::int64_t at, int index, std::int32_t length) {
    if (length < kShortRuns) [[likely]] {
      // The top byte (the count) is stored too, and overwritten like the
      // other bytes past the code.
      const std::uint32_t entry = kShortCodes[index * kShortRuns + length];
      std::memcpy(bytes + at, &entry, 4);
      return at + (entry >> 24);
    }
    return PutLongRun(bytes, at, static_cast<std::uint8_t>(index), length);
  };
  std::int32_t start = starts[0];
  int found;
  if (!indexOf(start, found)) return {-1, false};
  int seen = found;            // negative once a transparent run was met
  int current = found & 0xFF;  // as a byte: a transparent run joins a run of index 255
  std::int32_t next = starts[1];
  std::int32_t run = next - start;
  for (int i = 1; i < count; ++i) {
    start = next;
    next = starts[i + 1];
    if (!indexOf(start, found)) [[unlikely]] {
      return {-1, seen < 0};
    }
    seen |= found;
    const int index = found & 0xFF;
    if (index == current) [[unlikely]] {
      run += next - start;
      continue;
    }
    at = put(at, current, run);
    current = index;
    run = next - start;
  }
  at = put(at, current, run);
  const std::uint16_t endOfLine = pgs::kRleEscape | 0x00 << 8;
  std::memcpy(bytes + at, &endOfLine, 2);
  return {at + 2, seen < 0};
}

// Joins the runs of equal pixels of a row into runs of equal indexes and
// writes each as its code; EndRow writes the row's last run and the
// end-of-line code. It holds its sink by value, so that the compiler can
// keep the write position in a register across the byte stores.
class RunCoder {
 public:
  explicit RunCoder(RleBuffer& rle) : sink_(rle) {}

  void Add(std::uint8_t index, std::int32_t length) {
    if (index == current_) [[unlikely]] {
      run_ += length;
      return;
    }
    if (run_ > 0) [[likely]] {
      PutRun(sink_, static_cast<std::uint8_t>(current_), run_);
    }
    current_ = index;
    run_ = length;
  }
  void EndRow() {
    if (run_ > 0) PutRun(sink_, static_cast<std::uint8_t>(current_), run_);
    current_ = kNoRun;
    run_ = 0;
    PutEndOfLine(sink_);
  }
  // The colour count and the coding of one row in one pass: for each run of
  // equal pixels, run i being [starts[i], starts[i + 1]) of the key at its
  // first pixel, finds its index in `colours`, entering a new visible colour
  // in `table` and `colours` as the count does, and codes it with Add; then
  // EndRow. Returns false, with the row unfinished, at a colour that does
  // not fit the full table. Sets `transparent` when a transparent run was
  // met before the end.
  template <typename Keys>
  bool CountAndCodeRow(const std::uint8_t* row, const std::int32_t* starts, int count,
                       std::int32_t width, ColourIndex& colours, ColourTable& table,
                       bool& transparent) {
    // See CodeRow for the room that the fast form needs.
    const std::int64_t most = 4 * (static_cast<std::int64_t>(count) + width / kMaxRun) + 4;
    if (std::endian::native == std::endian::little && count > 0 &&
        sink_.length() + most <= RleBuffer::kCapacity && current_ == kNoRun) [[likely]] {
      const CodedRow coded =
          CodeRow<Keys>(row, starts, count, colours, table, sink_.bytes(), sink_.length());
      transparent |= coded.transparent;
      if (coded.at < 0) return false;
      sink_.SetLength(coded.at);
      return true;
    }
    for (int i = 0; i < count; ++i) {
      const int found = FindOrEnter<Keys>(
          PixelKey(row + 4 * static_cast<std::ptrdiff_t>(starts[i])), colours, table);
      if (found == kNoRoomForColour) return false;
      transparent |= found < 0;
      Add(static_cast<std::uint8_t>(found), starts[i + 1] - starts[i]);
    }
    EndRow();
    return true;
  }
  const RleSink& sink() const { return sink_; }

 private:
  static constexpr int kNoRun = -1;  // matches no index

  RleSink sink_;
  int current_ = kNoRun;  // index of the run being counted, kNoRun before a row's first pixel
  std::int32_t run_ = 0;  // its length so far
};

// Sets rleLength to the data written by `sink` and applies the size test.
bool FinishObject(std::int64_t length, RleBuffer& rle) {
  rle.rleLength = static_cast<std::int32_t>(
      std::min<std::int64_t>(length, std::numeric_limits<std::int32_t>::max()));
  return FitsPlayer(rle);
}

}  // namespace

std::uint8_t PixelIndex(const ColourTable& table, const std::uint8_t* rgba) {
  if (rgba[3] == 0) return pgs::kTransparentIndex;
  const int found = FindColour(table, rgba);
  return found < 0 ? pgs::kTransparentIndex : static_cast<std::uint8_t>(found);
}

bool EncodeRleReference(const WorkImage& image, const ColourTable& table, RleBuffer& rle) {
  rle.rleLength = 0;
  RleSink sink(rle);
  for (std::int32_t r = 0; r < image.height; ++r) {
    const std::uint8_t* pixel = image.rows[r];
    if (image.width > 0) {
      std::uint8_t current = PixelIndex(table, pixel);
      std::int32_t run = 1;
      for (std::int32_t x = 1; x < image.width; ++x) {
        pixel += 4;
        const std::uint8_t index = PixelIndex(table, pixel);
        if (index == current) {
          ++run;
        } else {
          PutRunPlain(sink, current, run);
          current = index;
          run = 1;
        }
      }
      PutRunPlain(sink, current, run);
    }
    sink.Put(pgs::kRleEscape);
    sink.Put(0x00);
  }
  return FinishObject(sink.length(), rle);
}

// The reference with two shortcuts that leave the runs as they are:
//   - Equal pixels have equal indexes (the index is a function of the four
//     bytes), so a stretch of equal pixels is looked up once and joins the
//     current run or starts the next one as a whole.
//   - The look-up goes through a ColourIndex built from the table, which
//     gives the first matching entry, as FindColour does.
bool EncodeRle(const WorkImage& image, const ColourTable& table, RleBuffer& rle) {
  rle.rleLength = 0;
  RunCoder coder(rle);
  ColourIndex colours;
  colours.Build(table);
  PixelRuns runs(image.instructionSet);
  for (std::int32_t r = 0; r < image.height; ++r) {
    const std::uint8_t* row = image.rows[r];
    ForEachPixelRun(row, image.width, runs,
                    [&](std::int32_t start, std::int32_t end, std::uint32_t key) {
                      // The index keeps no colour with alpha 0, so a transparent pixel is
                      // not found and takes index 255 (-1 as a byte) like a colour missing
                      // from the table.
                      static_assert(static_cast<std::uint8_t>(-1) == pgs::kTransparentIndex);
                      coder.Add(static_cast<std::uint8_t>(colours.Find(key)), end - start);
                      return true;
                    });
    coder.EndRow();
  }
  return FinishObject(coder.sink().length(), rle);
}

// A probe scan that sees the whole picture is the colour count itself (see
// CountColours), and the indexes it tells on the way are those of the final
// table, so the data is coded during that scan. The scan reads the picture's
// ARGB values directly: they are equal exactly when the WorkImage's bytes
// would be, and the entries are made of their channels, so the table and the
// indexes are the same. The scan is ScanColours's, with the finding of each
// run's index and its code in one loop.
ScanResult EncodeRleWhileCounting(const ArgbBitmap& picture, ColourTable& table, RleBuffer& rle,
                                  const std::uint8_t* rowUsed, InstructionSet set) {
  rle.rleLength = 0;
  table = ColourTable{};
  ColourIndex colours;
  PixelRuns runs(set);
  RunCoder coder(rle);
  ScanResult result;
  const std::int32_t width = picture.width();
  for (std::int32_t r = 0; r < picture.height(); ++r) {
    if (rowUsed != nullptr && rowUsed[r] == 0) {
      // A row known to be fully transparent: one transparent run, which
      // enters nothing, as a scan of its pixels would find.
      result.transparent |= width > 0;
      if (width > 0) coder.Add(pgs::kTransparentIndex, width);
      coder.EndRow();
    } else {
      const auto* row = reinterpret_cast<const std::uint8_t*>(picture.Row(r));
      const int count = runs.Split(row, width);
      if (!coder.CountAndCodeRow<ArgbKeys>(row, runs.Starts(), count, width, colours, table,
                                           result.transparent)) {
        result.end = ScanEnd::kOverflow;
        break;
      }
    }
    if (table.entryCount == ColourTable::kMaxEntries) {
      result.end = ScanEnd::kFull;
      break;
    }
  }
  FinishObject(coder.sink().length(), rle);
  return result;
}

}  // namespace kelpie
