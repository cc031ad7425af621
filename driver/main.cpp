#include <csignal>

#include "driver/run_driver.h"

int main(int argc, char** argv) {
  // Past a file-size limit (ulimit -f) a write then fails with EFBIG, which the
  // run reports and cleans up after, instead of the signal ending the process
  // with a cut-off ".sup" left behind.
  std::signal(SIGXFSZ, SIG_IGN);
  kelpie::BufferStandardErrorIfRedirected();
  kelpie::Console console;
  return kelpie::RunKelpie(argc, argv, console);
}
