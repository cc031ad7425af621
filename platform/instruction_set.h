// The vector instruction sets the pixel loops are compiled for, and the one
// way every fast path is built for them. Each fast path gives the same bytes
// on every set; the choice exists so that a run, a test or a benchmark can
// pick any set the processor has. The set travels in the stage's own scratch
// or state (BlurScratch, ShadowScratch, PixelRuns, WorkImage, Quantiser);
// kBest there means the widest set the processor has.
//
// One source, one copy per set: a fast path writes its vector code once, in a
// body file of its own (render/blur_body.inc and the like), and its .cpp
// compiles it once per set with
//   #define KELPIE_INSTRUCTION_SET_BODY "render/blur_body.inc"
//   #include "platform/instruction_set_copies.inc"
// Each copy lies in a namespace of its own (avx512, avx2, sse2) with every
// function in it compiled for that set, so no vector crosses a call between
// code compiled for different sets. Inside a copy, kInstructionSet names its
// set (for `if constexpr` where the sets need different instructions) and
// kVectorBytes the width of its registers. The stage then calls the copy for
// the set its scratch holds through KELPIE_INSTRUCTION_SET_COPY.
#ifndef KELPIE_PLATFORM_INSTRUCTION_SET_H_
#define KELPIE_PLATFORM_INSTRUCTION_SET_H_

#include <string>

namespace kelpie {

// kSse2 is the x86-64 baseline; kAvx2 means AVX2 and POPCNT; kAvx512 means
// AVX-512 F, BW and VL besides.
enum class InstructionSet { kBest, kSse2, kAvx2, kAvx512 };

// Whether the processor runs `set` (kBest: always).
bool InstructionSetSupported(InstructionSet set);

// `wanted`, or for kBest the widest supported set. REQUIRES: supported.
InstructionSet ChooseInstructionSet(InstructionSet wanted);

// "avx512", "avx2", "sse2" ("best" for kBest).
const char* InstructionSetName(InstructionSet set);

// The set a run asks for by name, as in the environment variable KELPIE_ISA.
struct InstructionSetChoice {
  InstructionSet set = InstructionSet::kBest;  // never kBest
  std::string warning;  // one line without a newline, empty when the name was taken
};

// The set named `name` ("avx512", "avx2" or "sse2"; null or empty for the
// widest), given that `widest` is the widest set the processor has. An
// unknown name or a set wider than `widest` gives `widest` and a warning:
// "KELPIE_ISA=avx9: unknown; using avx512". Reads nothing and prints nothing.
InstructionSetChoice ChooseInstructionSetByName(
    const char* name, InstructionSet widest = ChooseInstructionSet(InstructionSet::kBest));

// The copy of `avx512`, `avx2` and `sse2` (one function compiled for each
// set) that runs on `set`, after ChooseInstructionSet.
template <typename Function>
Function* InstructionSetCopy(InstructionSet set, Function* avx512, Function* avx2, Function* sse2) {
  switch (ChooseInstructionSet(set)) {
    case InstructionSet::kAvx512:
      return avx512;
    case InstructionSet::kAvx2:
      return avx2;
    default:
      return sse2;
  }
}

// The copy of `function` from platform/instruction_set_copies.inc for `set`.
#define KELPIE_INSTRUCTION_SET_COPY(set, function) \
  ::kelpie::InstructionSetCopy((set), avx512::function, avx2::function, sse2::function)

}  // namespace kelpie

#endif  // KELPIE_PLATFORM_INSTRUCTION_SET_H_
