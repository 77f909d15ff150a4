// Windows side of the directory library: FindFirstFileW and FindNextFileW, the current
// directory and DeleteFileW. Paths are UTF-16 and pass to the W functions as they are.
#include <cstring>

#include "base/utf8.h"
#include "platform/sys.h"
#include "platform/win32/win32.h"

struct DirectoryScan {
  HANDLE search;          // from FindFirstFileW; INVALID_HANDLE_VALUE when nothing matched
  int32_t delivered;      // 1 once the match that FindFirstFileW found has been handed out
  WIN32_FIND_DATAW data;  // the current entry
};

namespace {

constexpr DWORD CWD_UNITS = 260;  // a directory of up to 259 units, its "\" and no more

}  // namespace

int32_t sys_dir_scan_size() { return sizeof(DirectoryScan); }

bool sys_dir_open(DirectoryScan* scan, const char16_t* directory, const char16_t* pattern) {
  if (!pattern || !pattern[0]) pattern = u"*.*";
  auto dir_units = static_cast<size_t>(utf16_length(directory));
  auto pattern_units = static_cast<size_t>(utf16_length(pattern));
  // Room for the directory, a separator, the pattern and the terminator.
  auto* search = static_cast<char16_t*>(sys_heap_alloc((dir_units + pattern_units) * 2 + 4));
  if (!search) return false;
  char16_t* at = search;
  if (dir_units) {
    memcpy(at, directory, dir_units * 2);
    at += dir_units;
    if (at[-1] != u'\\' && at[-1] != u'/') *at++ = u'\\';
  }
  memcpy(at, pattern, (pattern_units + 1) * 2);

  scan->search = FindFirstFileW(wide(search), &scan->data);
  DWORD error = scan->search == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  sys_heap_free(search);
  if (scan->search != INVALID_HANDLE_VALUE) {
    scan->delivered = 0;
    return true;
  }
  if (error != ERROR_FILE_NOT_FOUND) return false;
  // The directory exists and nothing in it matches: an open scan that is already exhausted.
  memset(&scan->data, 0, sizeof scan->data);
  scan->delivered = 1;
  return true;
}

bool sys_dir_next(DirectoryScan* scan) {
  if (scan->search == INVALID_HANDLE_VALUE) return false;
  if (!scan->delivered) {
    scan->delivered = 1;
    return true;
  }
  return FindNextFileW(scan->search, &scan->data) != 0;
}

bool sys_dir_entry_is_directory(const DirectoryScan* scan) {
  return (scan->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int32_t sys_dir_entry_name(const DirectoryScan* scan, char16_t* dst) {
  static_assert(MAX_PATH <= SYS_NAME_UNITS, "an entry's name fits the caller's buffer");
  const wchar_t* name = scan->data.cFileName;
  int32_t length = 0;
  while (length < MAX_PATH && name[length]) ++length;
  memcpy(dst, name, static_cast<size_t>(length) * 2);
  return length;
}

void sys_dir_close(DirectoryScan* scan) {
  if (scan->search != INVALID_HANDLE_VALUE) FindClose(scan->search);
  scan->search = nullptr;
}

int32_t sys_current_directory(char16_t* dst) {
  static_assert(CWD_UNITS + 1 <= SYS_PATH_UNITS, "the directory fits the caller's buffer");
  DWORD length = GetCurrentDirectoryW(CWD_UNITS, wide(dst));
  // A directory that does not fit reports the size it needs instead of the path.
  if (length >= CWD_UNITS) return 0;
  if (length && dst[length - 1] != u'\\') dst[length++] = u'\\';
  return static_cast<int32_t>(length);
}

bool sys_delete_file(const char16_t* name) { return name && DeleteFileW(wide(name)) != 0; }
