#include "platform/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace kelpie {

namespace {

constexpr std::size_t kBufferSize = 1 << 16;
// Bytes written between two starts of their write-back: the disk takes the
// stream while it is made, so that the sync before the rename has little
// left to do.
constexpr off_t kWriteBackStep = off_t{8} << 20;
constexpr int kMaxLinks = 40;  // as the kernel allows in one path
// Room left in the temporary file's name for the target's name, so that
// the prefix and suffix never push it past the 255 bytes a name may have.
constexpr std::size_t kMaxNameInTemporary = 200;
constexpr int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The temporary file that an interrupting signal removes. A signal handler
// reaches no object, so this one path is kept here; it is changed only while
// those signals are blocked, and read only by the handler.
char pendingPath[PATH_MAX];
volatile std::sig_atomic_t havePending = 0;

extern "C" void RemovePendingAndReraise(int signum) {
  if (havePending) ::unlink(pendingPath);
  // The handler was installed with SA_RESETHAND: the signal, blocked while
  // it runs, ends the process with its default action once it returns.
  ::raise(signum);
}

// Blocks the cleaned signals for its lifetime, so that the temporary file
// and pendingPath change together.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signum : kCleanedSignals) sigaddset(&set, signum);
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalsBlocked() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

 private:
  sigset_t saved_;
};

void SetPending(const std::string& path) {
  havePending = 0;
  if (path.size() >= sizeof pendingPath) return;
  std::memcpy(pendingPath, path.c_str(), path.size() + 1);
  havePending = 1;
}

void ClearPending(const std::string& path) {
  if (havePending && path == pendingPath) havePending = 0;
}

// Follows the symbolic links from `path` to the file they end at. Returns
// false (errno set) when a link cannot be read, a folder on the way is not
// one, or the links are too many; *exists tells whether the file is there.
bool FollowLinks(std::string& path, struct stat& info, bool& exists) {
  for (int links = 0;; ++links) {
    if (::lstat(path.c_str(), &info) != 0) {
      exists = false;
      return errno == ENOENT;
    }
    exists = true;
    if (!S_ISLNK(info.st_mode)) return true;
    if (links == kMaxLinks) {
      errno = ELOOP;
      return false;
    }
    char link[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), link, sizeof link);
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) == sizeof link) {
      errno = ENAMETOOLONG;
      return false;
    }
    // A relative link is relative to the folder that holds it.
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        link[0] == '/' || slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    path = folder + std::string(link, static_cast<std::size_t>(n));
  }
}

mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

}  // namespace

void RemoveTemporaryOutputOnSignals() {
  for (const int signum : kCleanedSignals) {
    struct sigaction old {};
    if (sigaction(signum, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = RemovePendingAndReraise;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(signum, &action, nullptr);
  }
}

OutputFile::~OutputFile() {
  Discard();
}

bool OutputFile::Open(const std::string& path) {
  path_ = path;
  target_ = path;
  written_ = 0;
  writtenBack_ = 0;
  if (!FollowLinks(target_, targetInfo_, targetExists_)) {
    Fail(errno);
    return false;
  }
  if (targetExists_) {
    if (S_ISDIR(targetInfo_.st_mode)) {
      Fail(EISDIR);
      return false;
    }
    if (!S_ISREG(targetInfo_.st_mode)) {  // a FIFO would block, a device never fill
      failed_ = true;
      error_ = "not a regular file";
      return false;
    }
    // Only the folder is written to, but a file the user may not write is
    // not replaced either. Opening it changes nothing.
    const int probe = ::open(target_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (probe < 0) {
      Fail(errno);
      return false;
    }
    ::close(probe);
  }

  const std::size_t slash = target_.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  temporary_ = target_.substr(0, nameStart) + "." + target_.substr(nameStart, kMaxNameInTemporary) +
               ".kelpie-XXXXXX";
  {
    const SignalsBlocked blocked;
    fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);  // O_EXCL: never another's file
    if (fd_ < 0) {
      temporary_.clear();
      Fail(errno);
      return false;
    }
    SetPending(temporary_);
  }
  mode_t mode = 0666 & ~CurrentUmask();
  if (targetExists_) {
    // Root replacing a user's file leaves it the user's; others keep what
    // the system allows.
    if (targetInfo_.st_uid != ::geteuid() || targetInfo_.st_gid != ::getegid()) {
      [[maybe_unused]] const int ignored = ::fchown(fd_, targetInfo_.st_uid, targetInfo_.st_gid);
    }
    mode = targetInfo_.st_mode & 07777;
  }
  if (::fchmod(fd_, mode) != 0) {
    Fail(errno);
    Discard();
    return false;
  }
  buffer_.reserve(kBufferSize);
  return true;
}

bool OutputFile::Replaces(const struct stat& file) const {
  return targetExists_ && targetInfo_.st_dev == file.st_dev && targetInfo_.st_ino == file.st_ino;
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
  written_ += static_cast<off_t>(done);
  if (!failed_ && written_ - writtenBack_ >= kWriteBackStep) {
    // Only a hint: a failure here shows again in the sync of Close().
    ::sync_file_range(fd_, writtenBack_, written_ - writtenBack_, SYNC_FILE_RANGE_WRITE);
    writtenBack_ = written_;
  }
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
  if (!failed_ && ::fsync(fd_) != 0) Fail(errno);
  if (::close(fd_) != 0) Fail(errno);
  fd_ = -1;
  if (!failed_) {
    const SignalsBlocked blocked;
    if (::rename(temporary_.c_str(), target_.c_str()) == 0) {
      ClearPending(temporary_);
      temporary_.clear();
    } else {
      Fail(errno);
    }
  }
  Discard();
  return !failed_;
}

void OutputFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  buffer_.clear();
  if (temporary_.empty()) return;
  const SignalsBlocked blocked;
  ::unlink(temporary_.c_str());
  ClearPending(temporary_);
  temporary_.clear();
}

}  // namespace kelpie
