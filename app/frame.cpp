// The hand-over between the main thread and the console close handler.
#include "app/frame.h"

#include <atomic>

#include "platform/sys.h"

namespace {
constinit std::atomic<int> closing{0};  // set once by the close handler
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
