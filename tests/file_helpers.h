// Small file and text helpers shared by the tests that run the built program.
#ifndef KELPIE_TESTS_FILE_HELPERS_H_
#define KELPIE_TESTS_FILE_HELPERS_H_

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kelpie::testing {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// How often `what` occurs in `text`, overlaps included.
inline int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace kelpie::testing

#endif  // KELPIE_TESTS_FILE_HELPERS_H_
