#include "platform/instruction_set.h"

#include <gtest/gtest.h>

namespace kelpie {
namespace {

TEST(InstructionSetTest, ChoiceByName) {
  using enum InstructionSet;
  EXPECT_EQ(ChooseInstructionSetByName(nullptr, kAvx2).set, kAvx2);  // not set: the widest
  EXPECT_EQ(ChooseInstructionSetByName("sse2", kAvx512).set, kSse2);
  EXPECT_EQ(ChooseInstructionSetByName("avx2", kAvx512).warning, "");
  const InstructionSetChoice unknown = ChooseInstructionSetByName("avx9", kAvx512);
  EXPECT_EQ(unknown.set, kAvx512);
  EXPECT_EQ(unknown.warning, "KELPIE_ISA=avx9: unknown; using avx512");
  const InstructionSetChoice lacking = ChooseInstructionSetByName("avx512", kAvx2);
  EXPECT_EQ(lacking.set, kAvx2);
  EXPECT_EQ(lacking.warning, "KELPIE_ISA=avx512: not supported by this processor; using avx2");
}

}  // namespace
}  // namespace kelpie
