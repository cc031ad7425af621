// The ".sup" being written. The stream never goes into the file it replaces:
// it is written to a new temporary file beside that file (".<name>.kelpie-
// XXXXXX", in the folder a symbolic link points into), and Close() puts it in
// place with one rename once all of it is on disk. Until then an existing
// ".sup" keeps every byte it had; after a crash or kill -9 only the temporary
// file remains. Write failures are remembered and reported by Close().
#ifndef KELPIE_PLATFORM_OUTPUT_FILE_H_
#define KELPIE_PLATFORM_OUTPUT_FILE_H_

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelpie {

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary file of the output
// being written, then end the process as they would have. Signals that were
// ignored when the process started stay ignored. Call once at start-up.
void RemoveTemporaryOutputOnSignals();

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Discards the stream unless Close() put it in place.
  ~OutputFile();

  // Prepares to replace `path`, following its symbolic links to the file
  // they end at (which need not exist), and creates the temporary file
  // beside that file. Refused, with error() saying why, when the file exists
  // and is not a regular file or may not be written, or when the temporary
  // file cannot be created in its folder. The new stream gets the mode of
  // the file it replaces, or 0666 less the umask when there is none.
  bool Open(const std::string& path);
  bool isOpen() const { return fd_ >= 0; }

  // Whether the file the stream would replace is `file` (the same device
  // and inode, so also through a hard or symbolic link).
  bool Replaces(const struct stat& file) const;

  // Appends bytes through the buffer. After the first failure, later writes
  // are dropped; failed() and error() tell what happened.
  void Write(const std::uint8_t* data, std::size_t size);
  void Write(const std::vector<std::uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }

  // Flushes the stream to disk and renames it over the target. Returns false
  // if any write, the flush, the sync or the rename failed; the temporary
  // file is then removed and the target left as it was.
  bool Close();
  // Closes and removes the temporary file; the target stays as it was.
  void Discard();

  bool failed() const { return failed_; }
  // Text of the first failure (strerror, or "not a regular file"), empty if none.
  const std::string& error() const { return error_; }
  // The path given to Open.
  const std::string& path() const { return path_; }

 private:
  void Flush();
  void Fail(int errnum);

  int fd_ = -1;
  bool failed_ = false;
  std::string error_;
  std::string path_;
  std::string target_;     // `path_` with its symbolic links followed
  std::string temporary_;  // empty once renamed or removed
  bool targetExists_ = false;
  struct stat targetInfo_ {};  // valid when targetExists_
  std::vector<std::uint8_t> buffer_;
  off_t written_ = 0;      // bytes handed to the file
  off_t writtenBack_ = 0;  // of them, those whose write-back was started
};

}  // namespace kelpie

#endif  // KELPIE_PLATFORM_OUTPUT_FILE_H_
