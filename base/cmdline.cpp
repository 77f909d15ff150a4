// The command-line tokenizer.
#include "base/cmdline.h"

bool cmdline_find(const char16_t* line, int32_t index, const char16_t*& begin,
                  const char16_t*& end) {
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

int32_t cmdline_unquote(const char16_t* begin, const char16_t* end, char16_t* dst, int32_t room) {
  int32_t kept = 0;
  for (const char16_t* p = begin; p < end; ++p) kept += *p != u'"';
  if (!dst || room < kept) return kept;
  int32_t at = 0;
  for (const char16_t* p = begin; p < end; ++p) {
    if (*p != u'"') dst[at++] = *p;
  }
  return kept;
}
