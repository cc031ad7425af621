#include "platform/instruction_set.h"

#include <cassert>

namespace kelpie {

bool InstructionSetSupported(InstructionSet set) {
  switch (set) {
    case InstructionSet::kAvx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vl");
    case InstructionSet::kAvx2:
      return __builtin_cpu_supports("avx2");
    default:
      return true;
  }
}

InstructionSet ChooseInstructionSet(InstructionSet wanted) {
  if (wanted != InstructionSet::kBest) {
    assert(InstructionSetSupported(wanted));
    return wanted;
  }
  if (InstructionSetSupported(InstructionSet::kAvx512)) return InstructionSet::kAvx512;
  if (InstructionSetSupported(InstructionSet::kAvx2)) return InstructionSet::kAvx2;
  return InstructionSet::kBaseline;
}

}  // namespace kelpie
