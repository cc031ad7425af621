// Helpers of the tests that check fast pixel paths against their plain forms.
#ifndef KELPIE_TESTS_PIXEL_HELPERS_H_
#define KELPIE_TESTS_PIXEL_HELPERS_H_

#include <vector>

#include "platform/bitmap.h"
#include "platform/instruction_set.h"

namespace kelpie::testing {

// Every instruction set this machine runs; each copy must give the plain bytes.
inline std::vector<InstructionSet> SupportedSets() {
  std::vector<InstructionSet> sets;
  for (InstructionSet set :
       {InstructionSet::kSse2, InstructionSet::kAvx2, InstructionSet::kAvx512}) {
    if (InstructionSetSupported(set)) sets.push_back(set);
  }
  return sets;
}

inline bool SamePixels(const ArgbBitmap& a, const ArgbBitmap& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.Pixel(x, y) != b.Pixel(x, y)) return false;
  return true;
}

}  // namespace kelpie::testing

#endif  // KELPIE_TESTS_PIXEL_HELPERS_H_
