// The command-line parameters and the tokenizer behind them.
#include "app/args.h"

#include "platform/sys.h"
#include "base/cmdline.h"
#include "runtime/strings/strings.h"

namespace {

constinit int32_t handed_out = 0;  // parameters that args_next has returned so far

}  // namespace

int32_t args_token(const char16_t* line, int32_t index, int32_t offset) {
  const char16_t* begin;
  const char16_t* end;
  if (!cmdline_find(line, index, begin, end)) {
    temp_empty(offset);
    return 0;
  }
  // The line may lie on the stack, which the reservation can move.
  int32_t located = temp_locate(begin);
  auto held = static_cast<int32_t>(end - begin);
  char16_t* dst = temp_reserve(held, offset);
  if (located) begin = temp_resolve(located), end = begin + held;
  int32_t kept = cmdline_unquote(begin, end, dst, held);
  dst[kept] = 0;
  temp_trim(held - kept);
  return 1;
}

void args_init() { handed_out = 0; }

void args_next(int32_t offset) {
  int32_t index = handed_out + 1;
  int32_t length = sys_arg(index, nullptr, 0);
  if (length < 0) {
    temp_empty(offset);
    return;
  }
  char16_t* dst = temp_reserve(length, offset);
  sys_arg(index, dst, length);
  dst[length] = 0;
  ++handed_out;
}
