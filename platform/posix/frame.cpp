// POSIX side: process start-up settings and the end of the process.
#include <signal.h>

#include <clocale>
#include <cstdlib>

#include "platform/sys.h"

void sys_process_init() {
  // Only the character classes and case mappings are used: the other categories stay "C" and
  // are never loaded.
  setlocale(LC_CTYPE, "");
  // Both signals would end the run in the middle of a page. Ignored, the write that raised
  // them fails instead: the console loses the line, and a target is reported incomplete.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

// The early exits (the string layer out of memory) skip runtime_end: the terminal gets its
// attributes back here, or it would be left without echo.
void sys_exit(int status) {
  sys_console_end();
  _Exit(status);
}

void sys_lock_acquire() {}
void sys_lock_release() {}
