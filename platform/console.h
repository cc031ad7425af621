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

  void Out(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Err(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void WaitForKey() const {
    if (waitForKey != nullptr) waitForKey();
  }
};

}  // namespace kelpie

#endif  // KELPIE_PLATFORM_CONSOLE_H_
