#include "driver/run_driver.h"

int main(int argc, char** argv) {
  kelpie::Console console;
  return kelpie::RunKelpie(argc, argv, console);
}
