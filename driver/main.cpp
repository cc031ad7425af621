#include <malloc.h>

#include <csignal>

#include "driver/run_driver.h"
#include "platform/output_file.h"

int main(int argc, char** argv) {
  // Past a file-size limit (ulimit -f) a write then fails with EFBIG, which the
  // run reports and cleans up after, instead of the signal ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
  // A console that goes away (a pipe into `head`, which has exited) does not
  // stop the conversion: writes to it fail unseen, and the stream is still
  // written whole.
  std::signal(SIGPIPE, SIG_IGN);
  kelpie::RemoveTemporaryOutputOnSignals();
  // Pictures of a megabyte and more come from the system and go back to it
  // when freed, so that a run's peak memory is what its pictures in flight
  // need, not what the largest ones once took. Smaller ones (a line's
  // picture) are kept for the next, instead of being given back and faulted
  // in again page by page for every line.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  mallopt(M_TRIM_THRESHOLD, 4 << 20);
  kelpie::Console console = kelpie::StandardConsole();
  return kelpie::RunKelpie(argc, argv, console);
}
