// The POSIX program's entry: the C library's start-up hands over to main.
#include "app/frame.h"
#include "app/run.h"
#include "platform/sys.h"
#include "runtime/strings/strings.h"

int main(int argc, char** argv) {
  sys_args_set(argc, argv);
  runtime_hold();
  runtime_init();
  run_conversion();
  runtime_end();
  temp_end();
  return 0;
}
