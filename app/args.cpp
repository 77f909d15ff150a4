// The command-line parameters and the tokenizer behind them.
#include "app/args.h"

#include "platform/sys.h"
#include "runtime/strings/strings.h"

namespace {

constinit int32_t handed_out = 0;  // parameters that args_next has returned so far

// Finds token `index` of the line; [begin, end) then holds it with its quotes.
bool find_token(const char16_t* line, int32_t index, const char16_t*& begin, const char16_t*& end) {
  const char16_t* p = line ? line : u"";
  for (int32_t i = 0;; ++i) {
    while (*p == u' ') ++p;
    if (!*p) return false;
    begin = p;
    if (*p == u'"') {
      // A quoted token: up to the closing quote, which ends it even without a space.
      ++p;
      while (*p && *p != u'"') ++p;
      if (*p) ++p;
    } else {
      bool quoted = false;
      while (*p && (quoted || *p != u' ')) {
        if (*p == u'"') quoted = !quoted;
        ++p;
      }
    }
    end = p;
    if (i == index) return true;
  }
}

void empty_at(int32_t offset) { temp_reserve(0, offset)[0] = 0; }

}  // namespace

int32_t args_token(const char16_t* line, int32_t index, int32_t offset) {
  const char16_t* begin;
  const char16_t* end;
  if (!find_token(line, index, begin, end)) {
    empty_at(offset);
    return 0;
  }
  int32_t located = temp_locate(begin);
  int32_t held = static_cast<int32_t>(end - begin);
  char16_t* dst = temp_reserve(held, offset);
  if (located) begin = temp_resolve(located), end = begin + held;
  int32_t kept = 0;
  for (const char16_t* p = begin; p < end; ++p) {
    if (*p != u'"') dst[kept++] = *p;
  }
  dst[kept] = 0;
  temp_trim(held - kept);
  return 1;
}

void args_init() { handed_out = 0; }

void args_next(int32_t offset) {
  if (const char16_t* line = sys_command_line()) {
    if (args_token(line, handed_out + 1, offset)) ++handed_out;
    return;
  }
  if (const char* arg = sys_arg(handed_out + 1)) {
    utf8_to_temp(arg, offset);
    ++handed_out;
    return;
  }
  empty_at(offset);
}
