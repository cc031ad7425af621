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

struct Console {
  std::FILE* out = stdout;  // per-picture colour lines and reduction errors
  std::FILE* err = stderr;  // progress header/closing lines, warnings, fatal errors
  void (*waitForKey)() = WaitForKeyIfTerminal;
  // The two streams reach the same place: both are line-buffered, and each
  // one is flushed before the other is written to, so that their lines mix
  // in the order they were printed.
  bool joined = false;

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

// The console of a run on the process's standard streams, their buffering
// set for where they go. Call once at start-up, before anything is written.
// When standard output and error reach the same file or pipe, each line
// goes out whole and in the order it was printed (see Console::joined).
// Otherwise standard error gets a buffer when it goes to a file or pipe: a
// conversion writes a few progress lines per picture, and one system call
// each was a measurable part of a run. The buffer is small (a page, about
// fifty pictures' lines, a hundredth of a second of work), so that a program
// reading the progress through a pipe still sees it move. On a terminal of
// its own standard error stays unbuffered.
Console StandardConsole();

}  // namespace kelpie

#endif  // KELPIE_PLATFORM_CONSOLE_H_
