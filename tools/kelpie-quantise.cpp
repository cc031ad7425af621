// Quantises a raw picture with the network quantiser, as the converter does
// for a picture with too many colours.
//
// usage: kelpie-quantise WIDTH HEIGHT INPUT.raw OUTPUT.raw
// INPUT holds WIDTH * HEIGHT pixels of four bytes each (red, green, blue,
// straight alpha), rows top to bottom; OUTPUT receives the quantised pixels in
// the same layout. The quantiser's two learning lines go to standard error.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"
#include "platform/console.h"

namespace {

// Parses a size from 0 to 65535; false for anything else.
bool ParseSize(const char* text, std::int32_t& value) {
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || parsed < 0 || parsed > 65535) return false;
  value = static_cast<std::int32_t>(parsed);
  return true;
}

bool ReadAll(const char* path, std::size_t expected, std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "kelpie-quantise: cannot open %s: %s\n", path, std::strerror(errno));
    return false;
  }
  bytes.assign(expected, 0);
  const std::size_t got = expected == 0 ? 0 : std::fread(bytes.data(), 1, expected, file);
  const bool longer = std::fgetc(file) != EOF;
  std::fclose(file);
  if (got != expected || longer) {
    std::fprintf(stderr, "kelpie-quantise: %s holds %s than the %zu bytes of the picture\n", path,
                 longer ? "more" : "fewer", expected);
    return false;
  }
  return true;
}

bool WriteAll(const char* path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "kelpie-quantise: cannot create %s: %s\n", path, std::strerror(errno));
    return false;
  }
  const std::size_t put = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
  const bool closed = std::fclose(file) == 0;
  if (put != bytes.size() || !closed) {
    std::fprintf(stderr, "kelpie-quantise: cannot write %s\n", path);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  kelpie::WorkImage image;
  if (argc != 5 || !ParseSize(argv[1], image.width) || !ParseSize(argv[2], image.height)) {
    std::fprintf(stderr,
                 "usage: kelpie-quantise WIDTH HEIGHT INPUT.raw OUTPUT.raw\n"
                 "  WIDTH and HEIGHT from 0 to 65535; INPUT holds WIDTH * HEIGHT RGBA pixels\n");
    return 1;
  }
  const std::size_t length =
      static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4;
  if (!ReadAll(argv[3], length, image.pixels)) return 1;
  image.rows.resize(static_cast<std::size_t>(image.height));
  for (std::int32_t r = 0; r < image.height; ++r) {
    image.rows[r] = image.pixels.data() + static_cast<std::size_t>(4) * image.width * r;
  }

  auto quantiser = std::make_unique<kelpie::Quantiser>();
  kelpie::Console console;
  kelpie::QuantiseImage(image, *quantiser, console);
  return WriteAll(argv[4], image.pixels) ? 0 : 1;
}
