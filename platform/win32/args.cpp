// Windows side: the process command line.
#include "platform/sys.h"
#include "platform/win32/win32.h"

void sys_args_set(int, char**) {}

const char16_t* sys_command_line() { return reinterpret_cast<const char16_t*>(GetCommandLineW()); }

const char* sys_arg(int32_t) { return nullptr; }
