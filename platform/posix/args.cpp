// POSIX side: the argument vector that the system hands to main.
#include "platform/sys.h"

namespace {
constinit int arg_count = 0;
constinit char** arg_vector = nullptr;
}  // namespace

void sys_args_set(int argc, char** argv) {
  arg_count = argc;
  arg_vector = argv;
}

const char16_t* sys_command_line() { return nullptr; }

const char* sys_arg(int32_t index) {
  return index >= 0 && index < arg_count ? arg_vector[index] : nullptr;
}
