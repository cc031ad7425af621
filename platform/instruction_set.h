// The vector instruction sets the pixel loops are compiled for. Every fast
// path gives the same bytes on each of them; the choice exists so that tests
// and benchmarks can run each one the machine supports.
#ifndef KELPIE_PLATFORM_INSTRUCTION_SET_H_
#define KELPIE_PLATFORM_INSTRUCTION_SET_H_

namespace kelpie {

// kBest is the widest the machine supports; kAvx512 means AVX-512 F, BW and VL.
enum class InstructionSet { kBest, kBaseline, kAvx2, kAvx512 };

bool InstructionSetSupported(InstructionSet set);

// `wanted`, or for kBest the widest supported set. REQUIRES: supported.
InstructionSet ChooseInstructionSet(InstructionSet wanted);

}  // namespace kelpie

#endif  // KELPIE_PLATFORM_INSTRUCTION_SET_H_
