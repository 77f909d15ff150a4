// Windows side of the string operations: USER32's case mapping, msvcrt's wide-string
// comparison, and the ANSI code page.
#include <wchar.h>

#include "platform/sys.h"
#include "platform/win32/win32.h"

namespace {

// CharLowerW maps a single character when the pointer's high-order word is zero.
char16_t lower_one(char16_t unit) {
  auto as_pointer = reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(unit));
  return static_cast<char16_t>(reinterpret_cast<ULONG_PTR>(CharLowerW(as_pointer)));
}

}  // namespace

void sys_text_upper(char16_t* text) { CharUpperW(wide(text)); }

char16_t sys_fold_lead(char16_t unit) { return lower_one(unit); }

char16_t sys_fold(char16_t unit) { return lower_one(unit); }

int sys_text_compare(const char16_t* a, const char16_t* b, int32_t n) {
  return wcsncmp(wide(a), wide(b), static_cast<size_t>(n));
}

int sys_text_compare_folded(const char16_t* a, const char16_t* b, int32_t n) {
  return _wcsnicmp(wide(a), wide(b), static_cast<size_t>(n));
}

bool sys_path_separator(char16_t unit) { return unit == u'/' || unit == u'\\'; }

int32_t sys_ansi_encode(const char16_t* src, int32_t count, char* dst, int32_t size) {
  return WideCharToMultiByte(CP_ACP, 0, wide(src), count, dst, dst ? size : 0, nullptr, nullptr);
}

int32_t sys_ansi_decode(const char* src, int32_t count, char16_t* dst, int32_t size) {
  return MultiByteToWideChar(CP_ACP, 0, src, count, reinterpret_cast<wchar_t*>(dst),
                             dst ? size : 0);
}
