// Windows side: process start-up settings and the end of the process.
#include "platform/sys.h"
#include "platform/win32/win32.h"

void sys_process_init() {}

void sys_exit(int status) { ExitProcess(static_cast<UINT>(status)); }

namespace {
constinit SRWLOCK process_lock = SRWLOCK_INIT;
}

void sys_lock_acquire() { AcquireSRWLockExclusive(&process_lock); }
void sys_lock_release() { ReleaseSRWLockExclusive(&process_lock); }
