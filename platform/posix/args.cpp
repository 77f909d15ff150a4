// POSIX side: the argument vector that the system hands to main.
#include "platform/posix/posix.h"
#include "platform/sys.h"

namespace {
constinit int arg_count = 0;
constinit char** arg_vector = nullptr;
}  // namespace

void sys_args_set(int argc, char** argv) {
  arg_count = argc;
  arg_vector = argv;
}

int32_t sys_arg(int32_t index, char16_t* dst, int32_t room) {
  if (index < 0 || index >= arg_count) return -1;
  const char* arg = arg_vector[index];
  auto count = static_cast<int32_t>(strlen(arg));
  auto bytes = reinterpret_cast<const uint8_t*>(arg);
  int32_t length = utf8_decode(bytes, count, nullptr, 0).written;
  if (dst && room >= length) utf8_decode(bytes, count, dst, room);
  return length;
}
