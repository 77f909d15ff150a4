// POSIX side: process start-up settings and the end of the process.
#include <clocale>
#include <cstdlib>

#include "platform/sys.h"

void sys_locale_init() {
  setlocale(LC_ALL, "");
  setlocale(LC_NUMERIC, "C");
}

void sys_exit(int status) { _Exit(status); }

void sys_lock_acquire() {}
void sys_lock_release() {}
