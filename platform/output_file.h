// The ".sup" being written: one buffered file, created before the script is
// read. Write failures are remembered and reported by Close().
#ifndef KELPIE_PLATFORM_OUTPUT_FILE_H_
#define KELPIE_PLATFORM_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelpie {

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Creates or truncates `path` for binary writing. Returns false on failure.
  bool Open(const std::string& path);
  bool is_open() const { return fd_ >= 0; }

  // Appends bytes through the buffer. After the first failure, later writes
  // are dropped; failed() and error() tell what happened.
  void Write(const std::uint8_t* data, std::size_t size);
  void Write(const std::vector<std::uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }

  // Flushes and closes. Returns false if any write, the flush or the close failed.
  bool Close();
  // Closes and deletes the file (used after a failure, so no file that looks
  // complete is left behind).
  void Discard();

  bool failed() const { return failed_; }
  // Text of the first failure (strerror), empty if none.
  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }

 private:
  void Flush();
  void Fail(int errnum);

  int fd_ = -1;
  bool failed_ = false;
  std::string error_;
  std::string path_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace kelpie

#endif  // KELPIE_PLATFORM_OUTPUT_FILE_H_
