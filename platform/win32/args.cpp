// Windows side: the process command line, split by the shared tokenizer.
#include "platform/sys.h"
#include "platform/win32/win32.h"
#include "base/cmdline.h"

void sys_args_set(int, char**) {}

int32_t sys_arg(int32_t index, char16_t* dst, int32_t room) {
  const auto* line = reinterpret_cast<const char16_t*>(GetCommandLineW());
  const char16_t* begin;
  const char16_t* end;
  if (!cmdline_find(line, index, begin, end)) return -1;
  return cmdline_unquote(begin, end, dst, room);
}
