// Applies the text shadow to a raw picture, as the converter does to every
// text picture before placing it.
//
// usage: kelpie-shadow [--reference] WIDTH HEIGHT INPUT.raw OUTPUT.raw
// INPUT holds WIDTH * HEIGHT pixels of four bytes each (red, green, blue,
// straight alpha), rows top to bottom; OUTPUT receives the picture with its
// shadow in the same layout. --reference uses the plain per-pixel effect and
// blur instead of the fast ones; both must write the same bytes, as must the
// fast ones on every instruction set (KELPIE_ISA=avx512, avx2 or sse2).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/bitmap.h"
#include "platform/instruction_set.h"
#include "render/shadow.h"
#include "tools/raw_picture_file.h"

int main(int argc, char** argv) {
  const bool reference = argc > 1 && std::strcmp(argv[1], "--reference") == 0;
  char** args = argv + (reference ? 1 : 0);
  int width = 0;
  int height = 0;
  if (argc - (reference ? 1 : 0) != 5 || !kelpie::tools::ParseSize(args[1], width) ||
      !kelpie::tools::ParseSize(args[2], height)) {
    std::fprintf(stderr,
                 "usage: kelpie-shadow [--reference] WIDTH HEIGHT INPUT.raw OUTPUT.raw\n"
                 "  WIDTH and HEIGHT from 0 to 65535; INPUT holds WIDTH * HEIGHT RGBA pixels\n");
    return 1;
  }
  const std::size_t length = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  std::vector<std::uint8_t> bytes;
  if (!kelpie::tools::ReadRawPicture("kelpie-shadow", args[3], length, bytes)) return 1;

  kelpie::ArgbBitmap picture(width, height);
  for (int y = 0; y < height; ++y) {
    kelpie::Argb* row = picture.Row(y);
    const std::uint8_t* in = bytes.data() + static_cast<std::size_t>(4) * width * y;
    for (int x = 0; x < width; ++x, in += 4) row[x] = kelpie::MakeArgb(in[3], in[0], in[1], in[2]);
  }
  const kelpie::InstructionSetChoice isa =
      kelpie::ChooseInstructionSetByName(std::getenv("KELPIE_ISA"));
  if (!isa.warning.empty()) std::fprintf(stderr, "kelpie-shadow: %s\n", isa.warning.c_str());
  if (reference) {
    kelpie::ApplyShadowReference(picture);
  } else {
    kelpie::ShadowScratch scratch;
    scratch.instructionSet = isa.set;
    kelpie::ApplyShadow(picture, scratch);
  }
  for (int y = 0; y < height; ++y) {
    const kelpie::Argb* row = picture.Row(y);
    std::uint8_t* out = bytes.data() + static_cast<std::size_t>(4) * width * y;
    for (int x = 0; x < width; ++x, out += 4) {
      out[0] = static_cast<std::uint8_t>(kelpie::RedOf(row[x]));
      out[1] = static_cast<std::uint8_t>(kelpie::GreenOf(row[x]));
      out[2] = static_cast<std::uint8_t>(kelpie::BlueOf(row[x]));
      out[3] = static_cast<std::uint8_t>(kelpie::AlphaOf(row[x]));
    }
  }
  return kelpie::tools::WriteRawPicture("kelpie-shadow", args[4], bytes) ? 0 : 1;
}
