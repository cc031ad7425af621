// Reads a script file as a sequence of text lines, whatever their length.
// A UTF-8 byte-order mark at the start is skipped, and the line end (line
// feed, or carriage return and line feed) is not part of a line.
#ifndef KELPIE_PLATFORM_SCRIPT_FILE_H_
#define KELPIE_PLATFORM_SCRIPT_FILE_H_

#include <cstdio>
#include <string>

namespace kelpie {

class ScriptFile {
 public:
  ScriptFile() = default;
  ScriptFile(const ScriptFile&) = delete;
  ScriptFile& operator=(const ScriptFile&) = delete;
  ~ScriptFile();

  // Opens `path` for reading. Returns false when it cannot be read (missing,
  // no permission, a directory).
  bool Open(const std::string& path);

  // Reads the next line into *line (UTF-8, without its line end). Returns
  // false at the end of the file, or when reading fails (see read_error()).
  bool NextLine(std::string* line);

  // errno of a failed read (an I/O error, no memory for a huge line), 0 when
  // the file was read to its end.
  int read_error() const { return read_error_; }

  // 1-based number of the line last returned by NextLine.
  long line_number() const { return line_number_; }

 private:
  std::FILE* file_ = nullptr;
  char* buffer_ = nullptr;
  std::size_t capacity_ = 0;
  long line_number_ = 0;
  int read_error_ = 0;
};

}  // namespace kelpie

#endif  // KELPIE_PLATFORM_SCRIPT_FILE_H_
