// The Windows program's entry point: the system jumps here with no C runtime start-up before
// it, so nothing may rely on global constructors.
#include "app/frame.h"
#include "app/run.h"
#include "platform/sys.h"
#include "runtime/strings/strings.h"

extern "C" [[noreturn]] void pagehop_entry() {
  run_state_clear();
  sys_heap_start();
  runtime_hold();  // kept until ExitProcess: a close handler then waits for nothing more
  runtime_init();
  run_conversion();
  runtime_end();
  temp_end();
  sys_heap_stop();
  sys_exit(0);
}
