#include "platform/script_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kelpie {

ScriptFile::~ScriptFile() {
  if (file_ != nullptr) std::fclose(file_);
  std::free(buffer_);
}

bool ScriptFile::Open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) return false;
  struct stat info {};
  if (fstat(fileno(file_), &info) != 0 || S_ISDIR(info.st_mode)) {
    std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  return true;
}

bool ScriptFile::NextLine(std::string* line) {
  if (file_ == nullptr) return false;
  errno = 0;
  const ssize_t n = getline(&buffer_, &capacity_, file_);
  if (n < 0) {
    if (std::ferror(file_)) read_error_ = errno != 0 ? errno : EIO;
    return false;
  }
  std::size_t length = static_cast<std::size_t>(n);
  if (length > 0 && buffer_[length - 1] == '\n') --length;
  if (length > 0 && buffer_[length - 1] == '\r') --length;
  const char* start = buffer_;
  if (line_number_ == 0 && length >= 3 && std::memcmp(start, "\xEF\xBB\xBF", 3) == 0) {
    start += 3;
    length -= 3;
  }
  ++line_number_;
  line->assign(start, length);
  return true;
}

}  // namespace kelpie
