// Quantises a raw picture with the network quantiser, as the converter does
// for a picture with too many colours.
//
// usage: kelpie-quantise WIDTH HEIGHT INPUT.raw OUTPUT.raw
// INPUT holds WIDTH * HEIGHT pixels of four bytes each (red, green, blue,
// straight alpha), rows top to bottom; OUTPUT receives the quantised pixels in
// the same layout. The quantiser's two learning lines go to standard error.
// Every instruction set (KELPIE_ISA=avx512, avx2 or sse2) writes the same
// bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"
#include "platform/instruction_set.h"
#include "tools/raw_picture_file.h"

int main(int argc, char** argv) {
  kelpie::WorkImage image;
  if (argc != 5 || !kelpie::tools::ParseSize(argv[1], image.width) ||
      !kelpie::tools::ParseSize(argv[2], image.height)) {
    std::fprintf(stderr,
                 "usage: kelpie-quantise WIDTH HEIGHT INPUT.raw OUTPUT.raw\n"
                 "  WIDTH and HEIGHT from 0 to 65535; INPUT holds WIDTH * HEIGHT RGBA pixels\n");
    return 1;
  }
  const std::size_t length =
      static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4;
  if (!kelpie::tools::ReadRawPicture("kelpie-quantise", argv[3], length, image.pixels)) return 1;
  image.rows.resize(static_cast<std::size_t>(image.height));
  for (std::int32_t r = 0; r < image.height; ++r) {
    image.rows[r] = image.pixels.data() + static_cast<std::size_t>(4) * image.width * r;
  }

  const kelpie::InstructionSetChoice isa =
      kelpie::ChooseInstructionSetByName(std::getenv("KELPIE_ISA"));
  if (!isa.warning.empty()) std::fprintf(stderr, "kelpie-quantise: %s\n", isa.warning.c_str());
  auto quantiser = std::make_unique<kelpie::Quantiser>();
  quantiser->instructionSet = isa.set;
  const kelpie::LearningFigures figures = kelpie::QuantiseImage(image, *quantiser);
  std::fprintf(stderr, "beginning 1D learning: initial radius=%d\n", figures.initialRadius);
  std::fprintf(stderr, "finished 1D learning: final alpha=%f !\n", figures.finalAlpha);
  return kelpie::tools::WriteRawPicture("kelpie-quantise", argv[4], image.pixels) ? 0 : 1;
}
