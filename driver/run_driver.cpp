#include "driver/run_driver.h"

namespace kelpie {

// Placeholder until the driver lands.
int RunKelpie(int, char**, Console& console) {
  console.Err("finished\n");
  return 0;
}

}  // namespace kelpie
