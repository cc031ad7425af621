// The program's run: command-line check, output path, reading the script,
// grouping consecutive events with equal times, and handing each group on.
#ifndef KELPIE_DRIVER_RUN_DRIVER_H_
#define KELPIE_DRIVER_RUN_DRIVER_H_

#include "platform/console.h"

namespace kelpie {

// Runs the whole conversion; returns the process exit status.
int RunKelpie(int argc, char** argv, Console& console);

}  // namespace kelpie

#endif  // KELPIE_DRIVER_RUN_DRIVER_H_
