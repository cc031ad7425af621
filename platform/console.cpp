#include "platform/console.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdarg>

namespace kelpie {

void WaitForKeyIfTerminal() {
  if (!isatty(STDIN_FILENO)) return;
  termios saved{};
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return;
  termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
    char key = 0;
    ssize_t got = read(STDIN_FILENO, &key, 1);
    (void)got;
  }
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

Console StandardConsole() {
  Console console;
  struct stat outStat {};
  struct stat errStat {};
  // A terminal keeps the two streams' order by itself (standard output is
  // line-buffered there, standard error unbuffered), and a device such as
  // /dev/null has no order to keep.
  if (fstat(STDOUT_FILENO, &outStat) == 0 && fstat(STDERR_FILENO, &errStat) == 0 &&
      outStat.st_dev == errStat.st_dev && outStat.st_ino == errStat.st_ino &&
      !S_ISCHR(errStat.st_mode)) {
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    std::setvbuf(stderr, nullptr, _IOLBF, BUFSIZ);
    console.joined = true;
  } else if (!isatty(STDERR_FILENO)) {
    std::setvbuf(stderr, nullptr, _IOFBF, 4096);
  }
  return console;
}

void Console::Out(const char* format, ...) {
  va_list args;
  if (joined) std::fflush(err);
  va_start(args, format);
  std::vfprintf(out, format, args);
  va_end(args);
}

void Console::Err(const char* format, ...) {
  va_list args;
  if (joined) std::fflush(out);
  va_start(args, format);
  std::vfprintf(err, format, args);
  va_end(args);
}

}  // namespace kelpie
