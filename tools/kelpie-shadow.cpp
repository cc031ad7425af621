// Applies the text shadow to a raw picture, as the converter does to every
// text picture before placing it.
//
// usage: kelpie-shadow [--reference] WIDTH HEIGHT INPUT.raw OUTPUT.raw
// INPUT holds WIDTH * HEIGHT pixels of four bytes each (red, green, blue,
// straight alpha), rows top to bottom; OUTPUT receives the picture with its
// shadow in the same layout. --reference uses the plain per-pixel effect and
// blur instead of the fast ones; both must write the same bytes.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/bitmap.h"
#include "render/shadow.h"

namespace {

// Parses a size from 0 to 65535; false for anything else.
bool ParseSize(const char* text, int& value) {
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || parsed < 0 || parsed > 65535) return false;
  value = static_cast<int>(parsed);
  return true;
}

// Reads the whole file, then checks its length, so that a wrong size on the
// command line never allocates more than the file holds.
bool ReadAll(const char* path, std::size_t expected, std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "kelpie-shadow: cannot open %s: %s\n", path, std::strerror(errno));
    return false;
  }
  bytes.clear();
  std::uint8_t buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    bytes.insert(bytes.end(), buffer, buffer + got);
    if (bytes.size() > expected) break;
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    std::fprintf(stderr, "kelpie-shadow: cannot read %s\n", path);
    return false;
  }
  if (bytes.size() != expected) {
    std::fprintf(stderr, "kelpie-shadow: %s holds %s than the %zu bytes of the picture\n", path,
                 bytes.size() > expected ? "more" : "fewer", expected);
    return false;
  }
  return true;
}

bool WriteAll(const char* path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "kelpie-shadow: cannot create %s: %s\n", path, std::strerror(errno));
    return false;
  }
  const std::size_t put = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
  const bool closed = std::fclose(file) == 0;
  if (put != bytes.size() || !closed) {
    std::fprintf(stderr, "kelpie-shadow: cannot write %s\n", path);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool reference = argc > 1 && std::strcmp(argv[1], "--reference") == 0;
  char** args = argv + (reference ? 1 : 0);
  int width = 0;
  int height = 0;
  if (argc - (reference ? 1 : 0) != 5 || !ParseSize(args[1], width) ||
      !ParseSize(args[2], height)) {
    std::fprintf(stderr,
                 "usage: kelpie-shadow [--reference] WIDTH HEIGHT INPUT.raw OUTPUT.raw\n"
                 "  WIDTH and HEIGHT from 0 to 65535; INPUT holds WIDTH * HEIGHT RGBA pixels\n");
    return 1;
  }
  const std::size_t length = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  std::vector<std::uint8_t> bytes;
  if (!ReadAll(args[3], length, bytes)) return 1;

  kelpie::ArgbBitmap picture(width, height);
  for (int y = 0; y < height; ++y) {
    kelpie::Argb* row = picture.Row(y);
    const std::uint8_t* in = bytes.data() + static_cast<std::size_t>(4) * width * y;
    for (int x = 0; x < width; ++x, in += 4) row[x] = kelpie::MakeArgb(in[3], in[0], in[1], in[2]);
  }
  if (reference) {
    kelpie::ApplyShadowReference(picture);
  } else {
    kelpie::ApplyShadow(picture);
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
  return WriteAll(args[4], bytes) ? 0 : 1;
}
