#include "colour/pixel_runs.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tests/pixel_helpers.h"

namespace kelpie {
namespace {

TEST(PixelRunsTest, FastSplitGivesTheReferenceRunsOnEverySet) {
  for (InstructionSet set : testing::SupportedSets()) {
    std::mt19937 random(10);
    PixelRuns fast(set);
    PixelRuns reference;
    // Every width up to a few blocks, then longer rows; pixels of few values
    // in stretches of repeats, differing in a single byte.
    for (int round = 0; round < 1000; ++round) {
      const int width = round < 200 ? round / 4 : static_cast<int>(random() % 2000);
      const unsigned values = 1 + random() % 4;
      const unsigned repeat = random() % 41;
      std::vector<std::uint32_t> row(width);
      for (int x = 0; x < width; ++x) {
        const bool same = x > 0 && random() % 41 < repeat;
        row[x] = same ? row[x - 1] : random() % values << (8 * (random() % 4));
      }
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(row.data());
      const int count = fast.Split(bytes, width);
      ASSERT_EQ(count, reference.SplitReference(bytes, width)) << InstructionSetName(set);
      for (int i = 0; i <= count; ++i) ASSERT_EQ(fast.Start(i), reference.Start(i)) << width;
    }
  }
}

}  // namespace
}  // namespace kelpie
