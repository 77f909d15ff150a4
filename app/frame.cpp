// The program frame: the one order in which both builds start and end the runtime libraries, and
// the hand-over between the main thread and the console close handler.
#include "app/frame.h"

#include <atomic>

#include "app/args.h"
#include "platform/sys.h"
#include "runtime/console/console.h"
#include "runtime/files/files.h"
#include "runtime/fs/fs.h"
#include "runtime/strings/strings.h"

namespace {
constinit std::atomic<int> closing{0};  // set once by the close handler
}

void runtime_init() {
  sys_process_init();
  temp_init();
  console_init(runtime_end_on_close);
  file_init();
  args_init();
}

// No library uses another while it ends, so the order only has the terminal come back last.
void runtime_end() {
  file_end();
  dir_end();
  console_end();
}

void runtime_hold() { sys_lock_acquire(); }

void runtime_checkpoint() {
  if (!closing.load(std::memory_order_acquire)) return;
  // Hand the runtime over and wait; the handler keeps it until the system ends the process.
  sys_lock_release();
  sys_lock_acquire();
}

void runtime_end_on_close() {
  closing.store(1, std::memory_order_release);
  sys_lock_acquire();
  runtime_end();
}
