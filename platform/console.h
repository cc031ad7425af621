// The console that every stage reports to: progress and error lines go to two
// streams, and some errors wait for a key press before the run goes on.
// The run owns one Console; tests point the streams at temporary files and
// replace the key wait.
#ifndef KELPIE_PLATFORM_CONSOLE_H_
#define KELPIE_PLATFORM_CONSOLE_H_

#include <cstdio>

namespace kelpie {

// Waits for one key press, unechoed, when standard input is a terminal;
// returns at once otherwise (pipes, files, CI).
void WaitForKeyIfTerminal();

// Gives standard error a buffer when it goes to a file or pipe of its own:
// a conversion writes a few progress lines per picture, and one system call
// each was a measurable part of a run. The buffer is small (a page, about
// fifty pictures' lines, a hundredth of a second of work), so that a
// program reading the progress through a pipe still sees it move. Standard
// error stays unbuffered on a terminal, and when it shares its file with
// standard output, where the two streams' lines mix as they always did.
// Call once at start-up, before anything is written.
void BufferStandardErrorIfRedirected();

struct Console {
  std::FILE* out = stdout;  // per-picture colour lines and reduction errors
  std::FILE* err = stderr;  // progress header/closing lines, warnings, fatal errors
  void (*waitForKey)() = WaitForKeyIfTerminal;

  void Out(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Err(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Flushes both streams, so that the message asking for the key is out,
  // then waits.
  void WaitForKey() const {
    std::fflush(out);
    std::fflush(err);
    if (waitForKey != nullptr) waitForKey();
  }
};

}  // namespace kelpie

#endif  // KELPIE_PLATFORM_CONSOLE_H_
