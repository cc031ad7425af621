// Splits a row of 32-bit pixels into runs of equal pixels. The colour scans
// and the run-length coder visit a picture run by run rather than pixel by
// pixel; most of their time went into finding where runs end, one
// unpredictable branch per run, so the splitter finds every run start of a
// row first, with comparisons of many pixels at once and no branch per run.
#ifndef KELPIE_COLOUR_PIXEL_RUNS_H_
#define KELPIE_COLOUR_PIXEL_RUNS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/instruction_set.h"

namespace kelpie {

// A pixel's four bytes as they lie in memory, as one word, to compare and
// look up colours whole. Two pixels have the same key exactly when all four
// bytes are equal.
inline std::uint32_t PixelKey(const std::uint8_t* pixel) {
  std::uint32_t key;
  std::memcpy(&key, pixel, sizeof key);
  return key;
}

// The run starts of the row last split, reused from row to row.
class PixelRuns {
 public:
  // Splits with the copy of the fast splitter for `set`.
  explicit PixelRuns(InstructionSet set = InstructionSet::kBest);

  // Splits `row` (`width` pixels of four bytes) and returns the number of
  // runs n (0 for width 0). Afterwards run i covers pixels [Start(i),
  // Start(i + 1)) for i < n: Start(0) is 0, Start(n) is width, and every
  // other start is a pixel that differs from the one before it.
  int Split(const std::uint8_t* row, std::int32_t width);
  // The same, one pixel at a time; Split gives the same runs.
  int SplitReference(const std::uint8_t* row, std::int32_t width);
  std::int32_t Start(int i) const { return starts_[static_cast<std::size_t>(i)]; }
  // Start(0) .. Start(n) in a row; valid until the next split.
  const std::int32_t* Starts() const { return starts_.data(); }

 private:
  int (*split_)(const std::uint8_t* row, std::int32_t width, std::int32_t* starts);
  std::vector<std::int32_t> starts_;
};

// Calls visit(start, end, key) for every run of equal pixels of `row`
// (`width` pixels), from left to right: [start, end) is a maximal stretch of
// pixels with the same key, `key`. Stops early when visit returns false.
template <typename Visit>
inline void ForEachPixelRun(const std::uint8_t* row, std::int32_t width, PixelRuns& runs,
                            Visit&& visit) {
  const int count = runs.Split(row, width);
  for (int i = 0; i < count; ++i) {
    const std::int32_t start = runs.Start(i);
    if (!visit(start, runs.Start(i + 1), PixelKey(row + 4 * static_cast<std::ptrdiff_t>(start)))) {
      return;
    }
  }
}

}  // namespace kelpie

#endif  // KELPIE_COLOUR_PIXEL_RUNS_H_
