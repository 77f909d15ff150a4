// POSIX side of the string operations: case mapping from the process locale, comparing 16-bit
// texts (the C library's wide functions take 32-bit units), ISO 8859-1.
#include <ctype.h>
#include <wctype.h>

#include "platform/sys.h"

namespace {

// towlower and towupper apply below this unit; surrogates and the upper half stay as they are.
constexpr char16_t WIDE_CASE_LIMIT = 0x8000;

}  // namespace

void sys_text_upper(char16_t* text) {
  for (char16_t* p = text; *p; ++p) {
    char16_t u = *p;
    if (u < 0x80) {
      if (u >= u'a' && u <= u'z') *p = static_cast<char16_t>(u - (u'a' - u'A'));
    } else if (u < WIDE_CASE_LIMIT) {
      wint_t upper = towupper(u);
      if (upper < WIDE_CASE_LIMIT) *p = static_cast<char16_t>(upper);
    }
  }
}

char16_t sys_fold_lead(char16_t unit) {
  if (unit > 0xFF) return unit;
  return static_cast<char16_t>((*__ctype_tolower_loc())[unit]);
}

char16_t sys_fold(char16_t unit) {
  if (unit >= WIDE_CASE_LIMIT) return unit;
  wint_t lower = towlower(unit);
  return lower < 0x10000 ? static_cast<char16_t>(lower) : unit;
}

int sys_text_compare(const char16_t* a, const char16_t* b, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    if (!a[i]) break;
  }
  return 0;
}

int sys_text_compare_folded(const char16_t* a, const char16_t* b, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    char16_t x = sys_fold(a[i]);
    char16_t y = sys_fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
    if (!x) break;
  }
  return 0;
}

bool sys_path_separator(char16_t unit) { return unit == u'/'; }

// ISO 8859-1: a unit up to 0xFF is the byte of the same value; larger units have no byte and
// are skipped.
int32_t sys_ansi_encode(const char16_t* src, int32_t count, char* dst, int32_t size) {
  int32_t out = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (src[i] > 0xFF) continue;
    if (dst) {
      if (out >= size) break;
      dst[out] = static_cast<char>(src[i]);
    }
    ++out;
  }
  return out;
}

int32_t sys_ansi_decode(const char* src, int32_t count, char16_t* dst, int32_t size) {
  if (!dst) return count;
  int32_t n = count < size ? count : size;
  for (int32_t i = 0; i < n; ++i) dst[i] = static_cast<unsigned char>(src[i]);
  return n;
}
