// The table of a picture's distinct visible colours in order of first
// appearance (top row first, each row left to right), at most 256 entries.
// Fully transparent pixels are never entered: they take index 255 when the
// picture is encoded, so a picture with any of them keeps at most 255 entries.
// The run owns one table; every picture rebuilds it.
#ifndef KELPIE_COLOUR_COLOUR_TABLE_H_
#define KELPIE_COLOUR_COLOUR_TABLE_H_

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "colour/pixel_buffer.h"
#include "colour/pixel_runs.h"
#include "colour/quantiser.h"

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

// What counting a picture's colours found.
struct ColourCount {
  // False for the colour error: more than 256 visible colours, or 256 and a
  // fully transparent pixel, which would need a 257th index.
  bool ok = false;
  std::int32_t entryCount = 0;  // the table's entries when ok, else 0
  bool quantised = false;       // the picture was reduced to 256 colours first
  LearningFigures learning;     // the reduction's figures, when quantised
};

// The index of the first entry whose four bytes equal `rgba` (red, green,
// blue, alpha), or -1 if there is none. Searches linearly from entry 0; the
// plain form of the look-up that ColourIndex makes fast.
int FindColour(const ColourTable& table, const std::uint8_t* rgba);

// The alpha byte of a key.
inline unsigned KeyAlpha(std::uint32_t key) {
  return std::endian::native == std::endian::little ? key >> 24 : key & 0xFF;
}

// An exact map from the key of a visible colour to the index of its first
// entry in a ColourTable: what FindColour gives, found by hashing instead of
// a linear search. A table has at most 256 entries and the map four times as
// many slots, so most keys sit in their first slot. Fully transparent colours
// are never entered, which leaves key 0 (alpha 0) free to mark an empty slot;
// an empty slot's index is -1.
class ColourIndex {
 public:
  static constexpr int kSlots = 4 * ColourTable::kMaxEntries;

  ColourIndex() { Clear(); }
  void Clear() {
    std::memset(keys_, 0, sizeof keys_);
    std::memset(indexes_, 0xFF, sizeof indexes_);  // -1
  }

  // The index entered for `key`, or -1 (always for a key whose alpha is 0).
  int Find(std::uint32_t key) const {
    const std::uint32_t slot = Slot(key);
    const std::uint32_t first = keys_[slot];
    // Nearly always the first slot decides: it holds the key, and its index
    // is the answer, or it is empty, and its index -1 is (key 0 included,
    // which matches the empty slot's key). Visible and transparent runs
    // alternate unpredictably, so there is no branch on which: the one test,
    // whether the slot holds another key, is a product of two words that is
    // 0 exactly when one of them is (it cannot overflow 64 bits).
    if (static_cast<std::uint64_t>(first ^ key) * first != 0) [[unlikely]] {
      return FindFurther(key, slot);
    }
    return indexes_[slot];
  }
  // REQUIRES: `key` not entered yet, its alpha byte not 0, fewer than
  // kSlots keys entered.
  void Insert(std::uint32_t key, int index) {
    std::uint32_t slot = Slot(key);
    while (keys_[slot] != 0) slot = (slot + 1) % kSlots;
    keys_[slot] = key;
    indexes_[slot] = static_cast<std::int16_t>(index);
  }
  // Enters every visible colour of `table` with the index of its first
  // entry, so that Find(PixelKey(p)) == FindColour(table, p) for every
  // pixel p whose alpha is not 0 (entries with alpha 0 are left out; no
  // visible pixel can match them).
  void Build(const ColourTable& table);

  // Find's common case alone: true, with `index` what Find gives, when the
  // key's first slot holds it (a key 0 finds any empty slot so). False
  // tells nothing; Find then answers.
  bool FindInFirstSlot(std::uint32_t key, int& index) const {
    const std::uint32_t slot = Slot(key);
    index = indexes_[slot];
    return keys_[slot] == key;
  }

 private:
  // Find past an occupied first slot that holds another key.
  int FindFurther(std::uint32_t key, std::uint32_t slot) const {
    for (slot = (slot + 1) % kSlots;; slot = (slot + 1) % kSlots) {
      if (keys_[slot] == 0) return -1;
      if (keys_[slot] == key) return indexes_[slot];
    }
  }

  static std::uint32_t Slot(std::uint32_t key) {
    static_assert(kSlots == 1 << 10);
    return (key * 0x9E3779B1u) >> (32 - 10);  // Fibonacci hashing: the top 10 bits
  }

  std::uint32_t keys_[kSlots];
  std::int16_t indexes_[kSlots];  // 0 to 255, or -1 for an empty slot
};

// How a colour scan ended and what it met; exposed so that the plain scan and
// the fast one can be compared.
enum class ScanEnd {
  kComplete,  // every pixel was visited
  kFull,      // probe only: stopped at the end of a row that left the table full
  kOverflow,  // stopped at a colour that did not fit the full table
};
struct ScanResult {
  ScanEnd end = ScanEnd::kComplete;
  bool transparent = false;  // a pixel with alpha 0 was visited before the end
};

// Clears `table` and enters the visible colours of `image` in scan order; a
// probe also stops at the end of any row after which the table is full.
// ScanColours is the fast form of ScanColoursReference (one linear search per
// pixel) and gives the same table and result.
ScanResult ScanColours(const WorkImage& image, ColourTable& table, bool probe);
ScanResult ScanColoursReference(const WorkImage& image, ColourTable& table, bool probe);

// The two forms in which pixels reach a colour scan, as 32-bit keys (equal
// keys, equal pixels): the WorkImage's bytes red, green, blue, alpha read as
// one word, and the picture's ARGB values 0xAARRGGBB themselves.
struct RgbaKeys {
  static unsigned Alpha(std::uint32_t key) { return KeyAlpha(key); }
  static void Colour(std::uint32_t key, std::uint8_t (&rgba)[4]) {
    std::memcpy(rgba, &key, sizeof rgba);
  }
};
struct ArgbKeys {
  static unsigned Alpha(std::uint32_t key) { return key >> 24; }
  static void Colour(std::uint32_t key, std::uint8_t (&rgba)[4]) {
    rgba[0] = static_cast<std::uint8_t>(key >> 16);
    rgba[1] = static_cast<std::uint8_t>(key >> 8);
    rgba[2] = static_cast<std::uint8_t>(key);
    rgba[3] = static_cast<std::uint8_t>(key >> 24);
  }
};

// Enters the colour of `key` as the next entry. REQUIRES: entryCount < 256.
template <typename Keys>
inline void EnterColour(ColourTable& table, std::uint32_t key) {
  std::uint8_t rgba[4];
  Keys::Colour(key, rgba);
  const std::int32_t i = table.entryCount++;
  table.red[i] = rgba[0];
  table.green[i] = rgba[1];
  table.blue[i] = rgba[2];
  table.alpha[i] = rgba[3];
}

// What FindOrEnter gives for a new colour when the table is full.
constexpr int kNoRoomForColour = -2;

// One step of a colour scan, for a pixel of key `key` (in the form `Keys`)
// visited after every pixel before it: the index of its colour in `table`,
// which `colours` indexes, entering the colour first when it is new and
// visible; -1 when it is transparent (such a key is never entered, so it is
// not found either); kNoRoomForColour when it is new and the table full.
//
// A scan visits only the first pixel of each run of equal pixels: once that
// pixel has been visited, each of the others is either transparent or found
// in the table, so visiting them would change nothing.
template <typename Keys>
inline int FindOrEnter(std::uint32_t key, ColourIndex& colours, ColourTable& table) {
  int found = colours.Find(key);
  // Transparent and visible pixels alternate unpredictably: no branch on
  // which this one is, only one taken for a new colour.
  if (((found >> 31) & static_cast<int>(Keys::Alpha(key) != 0)) != 0) [[unlikely]] {
    if (table.entryCount == ColourTable::kMaxEntries) return kNoRoomForColour;
    found = table.entryCount;
    colours.Insert(key, found);
    EnterColour<Keys>(table, key);
  }
  return found;
}

// The verdict on a complete counting scan that built `table`: the colour
// error when the scan overflowed, or when it filled the table and met a
// fully transparent pixel.
ColourCount JudgeColourCount(const ColourTable& table, const ScanResult& count);

// Builds `table` from `image`, quantising the picture in place first when a
// probe finds the table full and a fully transparent pixel. After the colour
// error the table holds the first 256 colours.
ColourCount CountColours(WorkImage& image, ColourTable& table, Quantiser& quantiser);

}  // namespace kelpie

#endif  // KELPIE_COLOUR_COLOUR_TABLE_H_
