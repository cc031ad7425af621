// Reading and writing the raw pictures that the stage tools take and give:
// width * height pixels of four bytes, rows top to bottom, nothing else.
// Errors are printed on standard error after the tool's name.
#ifndef KELPIE_TOOLS_RAW_PICTURE_FILE_H_
#define KELPIE_TOOLS_RAW_PICTURE_FILE_H_

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kelpie::tools {

// Parses a picture size from 0 to 65535; false for anything else.
inline bool ParseSize(const char* text, int& value) {
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || parsed < 0 || parsed > 65535) return false;
  value = static_cast<int>(parsed);
  return true;
}

// Reads the file at `path`, which must hold exactly `expected` bytes. It is
// read in pieces and its length checked as it grows, so that a wrong size on
// the command line never allocates more than the file holds.
inline bool ReadRawPicture(const char* tool, const char* path, std::size_t expected,
                           std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "%s: cannot open %s: %s\n", tool, path, std::strerror(errno));
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
    std::fprintf(stderr, "%s: cannot read %s\n", tool, path);
    return false;
  }
  if (bytes.size() != expected) {
    std::fprintf(stderr, "%s: %s holds %s than the %zu bytes of the picture\n", tool, path,
                 bytes.size() > expected ? "more" : "fewer", expected);
    return false;
  }
  return true;
}

inline bool WriteRawPicture(const char* tool, const char* path,
                            const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "%s: cannot create %s: %s\n", tool, path, std::strerror(errno));
    return false;
  }
  const std::size_t put = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
  const bool closed = std::fclose(file) == 0;
  if (put != bytes.size() || !closed) {
    std::fprintf(stderr, "%s: cannot write %s\n", tool, path);
    return false;
  }
  return true;
}

}  // namespace kelpie::tools

#endif  // KELPIE_TOOLS_RAW_PICTURE_FILE_H_
