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
  kelpie::Console console = kelpie::StandardConsole();
  return kelpie::RunKelpie(argc, argv, console);
}
