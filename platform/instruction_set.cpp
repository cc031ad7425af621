#include "platform/instruction_set.h"

#include <cassert>
#include <cstring>

namespace kelpie {

bool InstructionSetSupported(InstructionSet set) {
  switch (set) {
    case InstructionSet::kAvx512:
      return InstructionSetSupported(InstructionSet::kAvx2) && __builtin_cpu_supports("avx512f") &&
             __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
    case InstructionSet::kAvx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
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
  return InstructionSet::kSse2;
}

const char* InstructionSetName(InstructionSet set) {
  switch (set) {
    case InstructionSet::kAvx512:
      return "avx512";
    case InstructionSet::kAvx2:
      return "avx2";
    case InstructionSet::kSse2:
      return "sse2";
    default:
      return "best";
  }
}

InstructionSetChoice ChooseInstructionSetByName(const char* name, InstructionSet widest) {
  InstructionSetChoice choice;
  widest = ChooseInstructionSet(widest);
  choice.set = widest;
  if (name == nullptr || *name == '\0') return choice;
  // The sets nest: each one's instructions are part of the next.
  for (InstructionSet set :
       {InstructionSet::kSse2, InstructionSet::kAvx2, InstructionSet::kAvx512}) {
    if (std::strcmp(name, InstructionSetName(set)) != 0) continue;
    if (set <= widest) {
      choice.set = set;
    } else {
      choice.warning = std::string("KELPIE_ISA=") + name +
                       ": not supported by this processor; using " + InstructionSetName(widest);
    }
    return choice;
  }
  choice.warning =
      std::string("KELPIE_ISA=") + name + ": unknown; using " + InstructionSetName(widest);
  return choice;
}

}  // namespace kelpie
