#include "platform/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kelpie {

namespace {
constexpr std::size_t kBufferSize = 1 << 16;
}  // namespace

OutputFile::~OutputFile() {
  if (fd_ >= 0) Close();
}

bool OutputFile::Open(const std::string& path) {
  path_ = path;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    Fail(errno);
    return false;
  }
  buffer_.reserve(kBufferSize);
  return true;
}

void OutputFile::Fail(int errnum) {
  if (failed_) return;
  failed_ = true;
  error_ = std::strerror(errnum);
}

void OutputFile::Flush() {
  std::size_t done = 0;
  while (!failed_ && done < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    } else {
      done += static_cast<std::size_t>(n);
    }
  }
  buffer_.clear();
}

void OutputFile::Write(const std::uint8_t* data, std::size_t size) {
  if (failed_ || fd_ < 0) return;
  if (buffer_.size() + size > kBufferSize) Flush();
  if (size >= kBufferSize) {
    buffer_.assign(data, data + size);
    Flush();
    return;
  }
  buffer_.insert(buffer_.end(), data, data + size);
}

bool OutputFile::Close() {
  if (fd_ < 0) return !failed_;
  Flush();
  if (::close(fd_) != 0 && !failed_) Fail(errno);
  fd_ = -1;
  return !failed_;
}

void OutputFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  buffer_.clear();
  if (!path_.empty()) ::unlink(path_.c_str());
}

}  // namespace kelpie
